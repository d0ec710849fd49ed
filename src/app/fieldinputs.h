#pragma once

// A colour run of fields named one by one: each field's pair of grey images
// read as a grey run reads its two, all of one size. Shared by Start (which
// warns with the problem) and the target preview (which shows it quietly).

#include "colourrun.h"
#include "runsetup.h"

#include <QString>

#include <vector>

struct FieldInputsProblem {
    QString text;    // what went wrong, a sentence
    QString details; // the field's colour and path, and why
};

// False with *problem filled, *fields and *colours then partly filled
// (callers discard them).
bool readFieldInputs(const std::vector<velloran::ColourField> &configured, bool reverse,
                     std::vector<velloran::RunDensities> *fields,
                     std::vector<velloran::SmokeColour> *colours, FieldInputsProblem *problem);
