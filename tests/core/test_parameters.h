#pragma once

// A run's parameters for the core tests, set alike on the fast solver and on
// its plain reference.

#include "scheme.h"

struct Parameters {
    double vf;
    double vd;
    double vg;
    double sigma;
    double dt;
    velloran::Scheme scheme = velloran::Scheme::Literal;
    velloran::Gathering gathering = velloran::Gathering::Implicit;
};

template <class S> void configure(S &s, const Parameters &p) {
    s.m_vf = p.vf;
    s.m_vd = p.vd;
    s.m_vg = p.vg;
    s.setSigma(p.sigma);
    s.setTimeStep(p.dt);
    s.setScheme(p.scheme);
    s.setGathering(p.gathering);
}
