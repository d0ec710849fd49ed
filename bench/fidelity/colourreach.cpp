// velloran_colour_reach: the reach check (reach.h) of every field of a colour
// run, each against its own target, with each field's best distance and the
// run's flow share (the part of the smoke's movement done by the fluid's own
// velocity; the solver measures it over all fields together). One markdown
// row per field.
//
//   velloran_colour_reach [--steps 4000] NAME_OR_CONFIG...
//
// A name is a bundled example (emblem, ink, yin-yang); anything ending in
// .xml a configuration file, both set up as velloran-render sets them up.

#include "jobinputs.h"
#include "reach.h"
#include "renderjob.h"
#include "run.h"
#include "solver.h"
#include "targetdistance.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <limits>
#include <vector>

namespace {

struct Field {
    fidelity::Reach reach;
    double best = std::numeric_limits<double>::infinity();
    long bestStep = 0;
    // What the flow and the gathering moved of this field's smoke.
    double advected = 0.0, gathered = 0.0, advected300 = 0.0, gathered300 = 0.0;
};

double share(double advected, double gathered) {
    return advected + gathered > 0.0 ? advected / (advected + gathered) : 0.0;
}

bool measure(const QString &which, long steps) {
    velloran::RenderOptions options;
    QString error;
    const QStringList arguments = which.endsWith(QLatin1String(".xml"))
                                      ? QStringList{which}
                                      : QStringList{QStringLiteral("--example"), which};
    velloran::RenderJob job;
    QStringList notes;
    velloran::JobInputs inputs;
    if (!velloran::parseRenderOptions(arguments, &options, &error) ||
        !velloran::resolveJob(options, &job, &notes, &error) ||
        !velloran::checkJobInputs(job, nullptr, &inputs, &error)) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(which), qPrintable(error));
        return false;
    }
    velloran::Run run(velloran::makeJobSolver(job, inputs), std::move(inputs.schedule));
    run.setFieldSchedules(std::move(inputs.fieldSchedules));
    Solver &s = run.solver();
    s.setTransportMeasured(true);
    const double dt = job.parameters[velloran::kDt];
    std::vector<Field> fields(static_cast<std::size_t>(s.smokeCount()));
    for (std::size_t k = 0; k < fields.size(); ++k) {
        fields[k].reach.start(s, static_cast<int>(k));
    }

    for (long step = 1; step <= steps; ++step) {
        if (!run.step().finite) {
            std::fprintf(stderr, "%s: not finite after step %ld\n", qPrintable(which), step);
            return false;
        }
        for (std::size_t k = 0; k < fields.size(); ++k) {
            Field &field = fields[k];
            const velloran::TransportAmounts &moved = s.lastTransport(static_cast<int>(k));
            field.advected += moved.advected;
            field.gathered += moved.gathered;
            if (step == 300) {
                field.advected300 = field.advected;
                field.gathered300 = field.gathered;
            }
            field.reach.afterStep(s, dt);
            const double d = distanceToTarget(s.smokeDensity(static_cast<int>(k)),
                                              s.smokeTarget(static_cast<int>(k)));
            if (d < field.best) {
                field.best = d;
                field.bestStep = step;
            }
        }
    }
    const std::vector<velloran::SmokeColour> colours =
        job.palette ? inputs.colours : velloran::fieldColours(job.fields);
    for (std::size_t k = 0; k < fields.size(); ++k) {
        std::printf("| %s | #%s | %.3f at %ld | %+.1f (%s) | %.2f / %.2f |\n", qPrintable(which),
                    qPrintable(colours[k].hex()), fields[k].best, fields[k].bestStep,
                    fields[k].reach.worstExcess(), fields[k].reach.passes() ? "passes" : "fails",
                    share(fields[k].advected300, fields[k].gathered300),
                    share(fields[k].advected, fields[k].gathered));
    }
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QStringList names = app.arguments().mid(1);
    long steps = 4000;
    if (names.size() >= 2 && names.front() == QLatin1String("--steps")) {
        steps = names[1].toLong();
        names = names.mid(2);
    }
    std::printf("| run | field | best distance (step) | reach excess, cells | flow share 300 / "
                "run |\n|---|---|---|---|---|\n");
    bool ok = true;
    for (const QString &name : names) {
        ok = measure(name, steps) && ok;
    }
    return ok ? 0 : 1;
}
