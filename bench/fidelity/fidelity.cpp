// velloran_fidelity: how close each scheme brings the smoke to its target,
// on the target set of targetset.h, at several grid sizes with one parameter
// set per scheme. Prints one markdown table row per run (and writes CSV):
// best distance and its step, the final distance, the steps at which the
// distance had made 50 % and 90 % of its fall to the best, the flow share
// (the part of the smoke's movement done by the fluid's own velocity, over the
// first 300 steps and the whole run), the reach check's worst excess (reach.h),
// the mass drift (largest relative change in one step, and over the run), the
// largest sub-cycle counts and the wall time. A pair with a keyframe is judged
// on its last segment (distances and steps from the keyframe on); the reach
// check starts afresh at each segment.
//
//   velloran_fidelity [--sizes 128,256] [--schemes sound,literal] [--steps 4000]
//                     [--pairs disc->A,...] [--csv FILE] [--frames DIR] [--threads N]
//                     [--strip EVERY] [--gathering implicit|explicit]
//                     [--sound-set vf,vd,vg,sigma,dt] [--literal-set vf,vd,vg,sigma,dt]
//
// --pairs takes the set's labels, and any other "source->target[|next@step[/blend]]"
// whose names are image files (examples/blob.png->examples/letter-s.png).
// --frames writes the best and the last picture of each run into DIR, and with
// --strip a contact strip of step 0 and every EVERY-th step (10 frames at most).

#include "distance.h"
#include "obstacles.h"
#include "parameters.h"
#include "reach.h"
#include "runsetup.h"
#include "solver.h"
#include "targetschedule.h"
#include "targetset.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QStringList>
#include <QTextStream>

#include <chrono>
#include <cmath>
#include <cstdio>

namespace {

struct SchemeSet {
    velloran::Scheme scheme;
    double vf, vd, vg, sigma, dt128; // dt at 128; scaled with h for the literal scheme
};

// The sound scheme's one default set; the literal scheme's best set for these
// pairs, with its time step shrunk like h (it needs that to stay finite).
SchemeSet g_soundSet{velloran::Scheme::Sound,
                     velloran::soundDefaultValue(velloran::kVf),
                     velloran::soundDefaultValue(velloran::kVd),
                     velloran::soundDefaultValue(velloran::kVg),
                     velloran::soundDefaultValue(velloran::kSigma),
                     velloran::soundDefaultValue(velloran::kDt)};

SchemeSet g_literalSet{velloran::Scheme::Literal, 0.5, 10.0, 0.0, 2.2, 0.001};

SchemeSet setFor(velloran::Scheme scheme) {
    return scheme == velloran::Scheme::Sound ? g_soundSet : g_literalSet;
}

// "vf,vd,vg,sigma,dt" into *set (scheme kept); false unless five values.
bool readSet(const QString &text, SchemeSet *set) {
    const QStringList v = text.split(u',');
    if (v.size() != 5) {
        return false;
    }
    *set = {set->scheme,     v[0].toDouble(), v[1].toDouble(),
            v[2].toDouble(), v[3].toDouble(), v[4].toDouble()};
    return true;
}

long double mass(const Solver &s) {
    const Grid &rho = *s.m_density;
    const std::uint32_t n = rho.NumCols() - 2;
    long double total = 0.0L;
    for (std::uint32_t i = 1; i <= n; ++i) {
        for (std::uint32_t j = 1; j <= n; ++j) {
            total += rho(i, j);
        }
    }
    return total;
}

// The density in grey; solid cells of obstacles in dark blue.
QImage densityImage(const Solver &s) {
    const Grid &rho = *s.m_density;
    const Grid *solid = s.obstacles();
    const int n = static_cast<int>(rho.NumCols()) - 2;
    QImage image(n, n, QImage::Format_RGB32);
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            const auto i = static_cast<std::uint32_t>(x + 1);
            const auto j = static_cast<std::uint32_t>(n - y);
            if (solid != nullptr && (*solid)(i, j) != 0.0) {
                image.setPixel(x, y, qRgb(40, 60, 140));
                continue;
            }
            const double value = rho(i, j);
            const int level = std::isfinite(value)
                                  ? static_cast<int>(std::lround(255 * std::clamp(value, 0.0, 1.0)))
                                  : 0;
            image.setPixel(x, y, qRgb(level, level, level));
        }
    }
    return image;
}

// Frames side by side, 2 pixels of grey between them.
constexpr std::size_t kStripFrames = 10;
QImage contactStrip(const std::vector<QImage> &frames) {
    const int side = frames.front().width();
    QImage strip(static_cast<int>(frames.size()) * (side + 2) - 2, side, QImage::Format_RGB32);
    strip.fill(qRgb(96, 96, 96));
    QPainter painter(&strip);
    for (std::size_t k = 0; k < frames.size(); ++k) {
        painter.drawImage(static_cast<int>(k) * (side + 2), 0, frames[k]);
    }
    return strip;
}

struct Result {
    double start = 0, best = 1e300, final = NAN;
    int bestStep = 0, segmentStart = 0, step50 = -1, step90 = -1;
    double advected = 0, gathered = 0, advected300 = 0, gathered300 = 0;
    double reachExcess = 0;
    double worstStepDrift = 0, totalDrift = 0;
    int maxVelocity = 0, maxDensity = 0, maxBalancing = 0, maxGathering = 0;
    double seconds = 0;
    bool finite = true;
    int stepsDone = 0;
};

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList sizes{QStringLiteral("128")};
    QStringList schemes{QStringLiteral("sound"), QStringLiteral("literal")};
    int steps = 4000;
    QStringList only;
    QString csvPath;
    QString framesDir;
    int threads = 1;
    int stripEvery = 0;
    velloran::Gathering gathering = velloran::Gathering::Implicit;
    const QStringList args = app.arguments();
    for (int k = 1; k < args.size(); ++k) {
        const QString &a = args[k];
        const QString value = k + 1 < args.size() ? args[k + 1] : QString();
        if (a == QLatin1String("--sizes")) {
            sizes = value.split(u','), ++k;
        } else if (a == QLatin1String("--schemes")) {
            schemes = value.split(u','), ++k;
        } else if (a == QLatin1String("--steps")) {
            steps = value.toInt(), ++k;
        } else if (a == QLatin1String("--pairs")) {
            only = value.split(u','), ++k;
        } else if (a == QLatin1String("--csv")) {
            csvPath = value, ++k;
        } else if (a == QLatin1String("--frames")) {
            framesDir = value, ++k;
        } else if (a == QLatin1String("--sound-set") || a == QLatin1String("--literal-set")) {
            // vf,vd,vg,sigma,dt of a scheme instead of its defaults
            if (!readSet(value, a == QLatin1String("--sound-set") ? &g_soundSet : &g_literalSet)) {
                std::fprintf(stderr, "%s takes vf,vd,vg,sigma,dt\n", qPrintable(a));
                return 2;
            }
            ++k;
        } else if (a == QLatin1String("--gathering")) {
            gathering = value == QLatin1String("explicit") ? velloran::Gathering::Explicit
                                                           : velloran::Gathering::Implicit;
            ++k;
        } else if (a == QLatin1String("--strip")) {
            stripEvery = value.toInt(), ++k;
        } else if (a == QLatin1String("--threads")) {
            threads = value.toInt(), ++k;
        } else {
            std::fprintf(stderr, "unknown option %s\n", qPrintable(a));
            return 2;
        }
    }
    QFile csv(csvPath);
    QTextStream csvOut(&csv);
    if (!csvPath.isEmpty()) {
        if (!csv.open(QIODevice::WriteOnly | QIODevice::Text)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(csvPath));
            return 1;
        }
        csvOut << "pair,n,scheme,start,best,best_step,final,step50,step90,flow_share_300,"
                  "flow_share,reach_excess,steps,worst_step_drift,total_drift,max_velocity_cycles,"
                  "max_density_cycles,max_balancing_cycles,"
                  "max_gathering_steps,"
                  "seconds,finite\n";
    }
    if (!framesDir.isEmpty()) {
        QDir().mkpath(framesDir);
    }
    std::printf("| pair | N | scheme | start | best @ step | final | 50 %% / 90 %% of fall at | "
                "flow share 300 / run | reach excess | mass drift (step / run) | most sub-cycles "
                "v/d/b/g | s |\n|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    std::fflush(stdout);
    for (const QString &sizeText : sizes) {
        const int n = sizeText.toInt();
        for (const fidelity::Pair &pair : fidelity::pairsToRun(only)) {
            const QImage sourceImage = fidelity::drawShape(pair.source, n);
            const QImage targetImage = fidelity::drawShape(pair.target, n);
            const Grid src = velloran::densityFromImage(sourceImage, n, n);
            const Grid tgt = velloran::densityFromImage(targetImage, n, n);
            const bool hasObstacles = !pair.obstacles.isEmpty();
            const Grid solid =
                hasObstacles
                    ? velloran::densityFromImage(fidelity::drawShape(pair.obstacles, n), n, n)
                    : Grid(0, 0);
            std::vector<velloran::Keyframe> keyframes;
            if (!pair.next.isEmpty()) {
                keyframes.push_back(
                    {pair.step, velloran::densityFromImage(fidelity::drawShape(pair.next, n), n, n),
                     pair.blend});
            }
            for (const QString &schemeName : schemes) {
                velloran::Scheme scheme = velloran::Scheme::Literal;
                if (!velloran::parseScheme(schemeName.toStdString(), &scheme)) {
                    std::fprintf(stderr, "unknown scheme %s\n", qPrintable(schemeName));
                    return 2;
                }
                if (hasObstacles) {
                    const velloran::ObstacleProblem problem =
                        scheme == velloran::Scheme::Sound
                            ? velloran::checkObstacles({{&src, &tgt}}, solid)
                            : velloran::ObstacleProblem::None;
                    if (scheme != velloran::Scheme::Sound ||
                        problem != velloran::ObstacleProblem::None) {
                        std::printf("| %s | %d | %s | refused: %s |\n", qPrintable(pair.label()), n,
                                    qPrintable(schemeName),
                                    problem == velloran::ObstacleProblem::None
                                        ? "obstacles need the sound scheme"
                                        : velloran::obstacleMessage(problem));
                        continue;
                    }
                }
                const SchemeSet set = setFor(scheme);
                Solver s(src, tgt);
                s.setThreadCount(threads);
                s.m_vf = set.vf;
                s.m_vd = set.vd;
                s.m_vg = set.vg;
                s.setSigma(set.sigma);
                const double dt =
                    scheme == velloran::Scheme::Literal ? set.dt128 * 128.0 / n : set.dt128;
                s.setTimeStep(dt);
                s.setScheme(scheme);
                if (hasObstacles) {
                    s.setObstacles(solid);
                }
                s.setGathering(gathering);
                s.setTransportMeasured(true);
                velloran::TargetSchedule schedule(tgt, keyframes);
                fidelity::Reach reach;
                reach.start(s);
                Result r;
                r.start = fidelity::distance(s);
                std::vector<double> curve{r.start};
                const long double m0 = mass(s);
                long double previous = m0;
                const auto t0 = std::chrono::steady_clock::now();
                QImage bestImage;
                const QString stem =
                    QStringLiteral("%1/%2-%3-%4")
                        .arg(framesDir, pair.label()
                                            .replace(QStringLiteral("->"), QStringLiteral("-to-"))
                                            .replace(u'|', u'-')
                                            .replace(u'@', u'-')
                                            .replace(u'/', u'-'))
                        .arg(n)
                        .arg(schemeName);
                int active = 0;
                std::vector<QImage> strip{densityImage(s)};
                for (int k = 1; k <= steps; ++k) {
                    schedule.apply(s, k - 1);
                    if (schedule.activeIndex(k - 1) != active) {
                        // A new segment: the reach check from here.
                        active = schedule.activeIndex(k - 1);
                        reach.start(s);
                    }
                    if (!keyframes.empty() && k - 1 == pair.step + std::max(pair.blend, 1) - 1) {
                        // Distances from the step that first has the new target whole.
                        r.segmentStart = k - 1;
                        r.start = fidelity::distance(s);
                        r.best = 1e300;
                        curve.back() = r.start;
                    }
                    s.step();
                    const double d = fidelity::distance(s);
                    curve.push_back(d);
                    const long double m = mass(s);
                    if (!std::isfinite(d) || !std::isfinite(static_cast<double>(m))) {
                        r.finite = false;
                        r.stepsDone = k;
                        break;
                    }
                    reach.afterStep(s, dt);
                    const velloran::TransportAmounts moved = s.lastTransport();
                    r.advected += moved.advected;
                    r.gathered += moved.gathered;
                    if (k <= 300) {
                        r.advected300 = r.advected;
                        r.gathered300 = r.gathered;
                    }
                    r.worstStepDrift = std::max(
                        r.worstStepDrift, static_cast<double>(std::fabs((m - previous) / m0)));
                    previous = m;
                    const auto &c = s.lastSubsteps();
                    r.maxVelocity = std::max(r.maxVelocity, c.velocity);
                    r.maxDensity = std::max(r.maxDensity, c.density);
                    r.maxBalancing = std::max(r.maxBalancing, c.balancing);
                    r.maxGathering = std::max(r.maxGathering, c.gathering);
                    if (d < r.best) {
                        r.best = d;
                        r.bestStep = k;
                        if (!framesDir.isEmpty()) {
                            bestImage = densityImage(s);
                        }
                    }
                    if (!framesDir.isEmpty() && stripEvery > 0 && k % stripEvery == 0 &&
                        strip.size() < kStripFrames) {
                        strip.push_back(densityImage(s));
                    }
                    r.stepsDone = k;
                }
                r.seconds =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
                r.final = curve.back();
                r.totalDrift = static_cast<double>(std::fabs((previous - m0) / m0));
                r.reachExcess = reach.worstExcess();
                const double fall = r.start - r.best;
                for (std::size_t k = static_cast<std::size_t>(r.segmentStart); k < curve.size();
                     ++k) {
                    if (r.step50 < 0 && curve[k] <= r.start - 0.5 * fall) {
                        r.step50 = static_cast<int>(k);
                    }
                    if (r.step90 < 0 && curve[k] <= r.start - 0.9 * fall) {
                        r.step90 = static_cast<int>(k);
                    }
                }
                const auto share = [](double a, double g) { return a + g > 0 ? a / (a + g) : 1.0; };
                std::printf("| %s | %d | %s | %.3f | %.3f @ %d | %.3f%s | %d / %d | %.2f / %.2f | "
                            "%.1f | %.1e / %.1e | %d/%d/%d/%d | %.0f |\n",
                            qPrintable(pair.label()), n, qPrintable(schemeName), r.start, r.best,
                            r.bestStep, r.final, r.finite ? "" : " (blew up)", r.step50, r.step90,
                            share(r.advected300, r.gathered300), share(r.advected, r.gathered),
                            r.reachExcess, r.worstStepDrift, r.totalDrift, r.maxVelocity,
                            r.maxDensity, r.maxBalancing, r.maxGathering, r.seconds);
                std::fflush(stdout);
                if (!csvPath.isEmpty()) {
                    csvOut << pair.label() << ',' << n << ',' << schemeName << ',' << r.start << ','
                           << r.best << ',' << r.bestStep << ',' << r.final << ',' << r.step50
                           << ',' << r.step90 << ',' << share(r.advected300, r.gathered300) << ','
                           << share(r.advected, r.gathered) << ',' << r.reachExcess << ','
                           << r.stepsDone << ',' << r.worstStepDrift << ',' << r.totalDrift << ','
                           << r.maxVelocity << ',' << r.maxDensity << ',' << r.maxBalancing << ','
                           << r.maxGathering << ',' << r.seconds << ',' << (r.finite ? 1 : 0)
                           << '\n';
                    csvOut.flush();
                }
                if (!framesDir.isEmpty()) {
                    bestImage.save(stem + QStringLiteral("-best.png"));
                    if (stripEvery > 0) {
                        contactStrip(strip).save(stem + QStringLiteral("-strip.png"));
                    }
                    densityImage(s).save(stem + QStringLiteral("-final.png"));
                    targetImage.save(
                        QStringLiteral("%1/target-%2-%3.png").arg(framesDir, pair.target).arg(n));
                    sourceImage.save(
                        QStringLiteral("%1/source-%2-%3.png").arg(framesDir, pair.source).arg(n));
                }
            }
        }
    }
    return 0;
}
