#include "renderer.h"

#include "configfile.h"
#include "examples.h"
#include "jobinputs.h"
#include "runsetup.h"

#include <QDoubleSpinBox>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

using namespace velloran;

namespace {

bool sameGrid(const Grid &a, const Grid &b) {
    return a.NumRows() == b.NumRows() && a.NumCols() == b.NumCols() &&
           std::memcmp(a.data(), b.data(), sizeof(double) * a.NumRows() * a.NumCols()) == 0;
}

void expectSameSolver(const Solver &a, const Solver &b) {
    for (const SolverField &field : a.fields()) {
        EXPECT_TRUE(sameGrid(*field.grid, b.field(field.name))) << field.name;
    }
    EXPECT_EQ(a.m_vf, b.m_vf);
    EXPECT_EQ(a.m_vd, b.m_vd);
    EXPECT_EQ(a.m_vg, b.m_vg);
    EXPECT_EQ(a.m_dt, b.m_dt);
    EXPECT_EQ(a.m_dtOverH, b.m_dtOverH);
    EXPECT_EQ(a.m_blur->kernel(), b.m_blur->kernel());
}

// A freshly started desktop window loading `config`: each value the file has
// goes through its spin box (a missing one keeps the box's start), the images
// through the shared set-up, and the solver is built in the simulation
// thread's order. Null, with a failure recorded, if the file or images fail.
std::unique_ptr<Solver> desktopSolver(const QString &config, bool reverse, SimParameters *values) {
    const ConfigReadResult read = readConfigurationFile(config);
    EXPECT_EQ(read.status, ConfigStatus::Parsed);
    for (std::size_t k = 0; k < kParameterCount; ++k) {
        QDoubleSpinBox box;
        box.setDecimals(kParameterRanges[k].decimals);
        box.setMinimum(kParameterRanges[k].minimum);
        box.setMaximum(kParameterRanges[k].maximum);
        if (read.configuration.values[k]) {
            box.setValue(*read.configuration.values[k]);
        }
        (*values)[k] = box.value();
    }
    RunDensities densities;
    if (!read.configuration.source || !read.configuration.target ||
        prepareRun(*read.configuration.source, *read.configuration.target, reverse, &densities) !=
            RunSetupError::None) {
        ADD_FAILURE() << "the desktop run of " << config.toStdString() << " cannot start";
        return nullptr;
    }
    auto solver = std::make_unique<Solver>(densities.srcDensity, densities.tgtDensity);
    solver->m_vf = values->vf();
    solver->m_vd = values->vd();
    solver->m_vg = values->vg();
    solver->setSigma(values->sigma());
    solver->setTimeStep(values->dt());
    return solver;
}

// The renderer's solver for the same file, and the desktop's: equal before
// and after a few steps.
void expectSameRunAsTheDesktop(const RenderJob &job, const QString &config) {
    RunDensities rendered;
    ASSERT_EQ(prepareRun(job.sourcePath, job.targetPath, job.reverse, &rendered),
              RunSetupError::None);
    auto a = makeSolver(rendered.srcDensity, rendered.tgtDensity, job.parameters);
    SimParameters window;
    auto b = desktopSolver(config, job.reverse, &window);
    ASSERT_TRUE(b);
    for (std::size_t k = 0; k < kParameterCount; ++k) {
        EXPECT_EQ(job.parameters[k], window[k]) << kParameterRanges[k].key;
    }
    expectSameSolver(*a, *b);
    for (int step = 0; step < 3; ++step) {
        a->step();
        b->step();
    }
    expectSameSolver(*a, *b);
}

} // namespace

TEST(RenderJob, ExamplesResolveToBundledImagesAndParameters) {
    ASSERT_GE(bundledExamples().size(), 2u);
    for (const Example &example : bundledExamples()) {
        RenderOptions options;
        options.example = example.name;
        RenderJob job;
        QStringList notes;
        QString error;
        ASSERT_TRUE(resolveJob(options, &job, &notes, &error)) << error.toStdString();
        EXPECT_TRUE(notes.isEmpty()) << notes.join('\n').toStdString();
        EXPECT_EQ(job.steps, example.steps);
        EXPECT_EQ(job.every, example.every);
        EXPECT_GT(job.parameters.dt(), 0.0);
        // Every image read as the run reads it, a colour run's fields too.
        JobInputs inputs;
        EXPECT_TRUE(checkJobInputs(job, nullptr, &inputs, &error)) << error.toStdString();
        EXPECT_EQ(inputs.side, 128);
        EXPECT_EQ(inputs.fields.size() >= 2, example.colour) << example.name.toStdString();
    }
    RenderOptions unknown;
    unknown.example = "nope";
    RenderJob job;
    QStringList notes;
    QString error;
    EXPECT_FALSE(resolveJob(unknown, &job, &notes, &error));
    EXPECT_EQ(error, "unknown example 'nope' (see --list-examples)");
}

TEST(RenderJob, OptionsOverrideTheFileAndChangedValuesAreReported) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString config = dir.filePath("c.xml");
    QFile file(config);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<configuration><parameters><vf>2000</vf><vd>3</vd><vg>abc</vg><sigma>2.25</sigma>"
               "<dt>0.001</dt></parameters><images><source>s.png</source>"
               "<target>t.png</target></images></configuration>");
    file.close();

    RenderOptions options;
    options.configPath = config;
    options.job.target = "other.png";
    options.job.values[kDt] = 0.0000149;
    RenderJob job;
    QStringList notes;
    QString error;
    ASSERT_TRUE(resolveJob(options, &job, &notes, &error)) << error.toStdString();
    EXPECT_EQ(job.sourcePath, "s.png");
    EXPECT_EQ(job.targetPath, "other.png");
    EXPECT_EQ(job.parameters.vf(), 1000.0);
    EXPECT_EQ(job.parameters.vd(), 3.0);
    EXPECT_EQ(job.parameters.vg(), 0.0);
    EXPECT_EQ(job.parameters.sigma(), 2.3);
    EXPECT_EQ(job.parameters.dt(), 0.00001);
    ASSERT_EQ(notes.size(), 4);
    EXPECT_TRUE(notes[0].startsWith("vf 2000 from ")) << notes[0].toStdString();
    EXPECT_TRUE(notes[0].endsWith("is outside 0 .. 1000; using 1000"));
    EXPECT_TRUE(notes[1].startsWith("vg 'abc' from ")) << notes[1].toStdString();
    EXPECT_TRUE(notes[1].endsWith("is not a number; read as 0"));
    EXPECT_TRUE(notes[2].startsWith("sigma 2.25 from "));
    EXPECT_TRUE(notes[3].startsWith("dt 1.49e-05 from --dt rounded to 5 decimal(s): 1e-05"))
        << notes[3].toStdString();

    options.example = "blob-to-s";
    EXPECT_FALSE(resolveJob(options, &job, &notes, &error));

    RenderOptions broken;
    broken.configPath = dir.filePath("missing.xml");
    EXPECT_FALSE(resolveJob(broken, &job, &notes, &error));
    EXPECT_TRUE(error.startsWith("could not open configuration file"));
}

// A resumed run's job comes from its checkpoint: only what the options give
// may change in it.
TEST(RenderJob, OverridesChangeOnlyWhatTheyGive) {
    RenderJob job;
    job.sourcePath = "s.png";
    job.reverse = true;
    job.parameters[kVf] = 7;
    job.scheme = Scheme::Sound;
    job.keyframes = {{400, "k.png", 0}};
    job.formats = {"npy"};
    job.steps = 300;
    job.outDir = "out";
    job.checkpointEvery = 30;
    const RenderJob before = job;
    JobOverrides overrides;
    overrides.steps = 900;
    overrides.quiet = true;
    QStringList notes;
    QString error;
    ASSERT_TRUE(applyOverrides(overrides, &job, &notes, &error));
    EXPECT_EQ(job.steps, 900);
    EXPECT_TRUE(job.quiet);
    EXPECT_EQ(job.sourcePath, before.sourcePath);
    EXPECT_TRUE(job.reverse);
    EXPECT_EQ(job.parameters.vf(), 7.0);
    EXPECT_EQ(job.scheme, Scheme::Sound);
    EXPECT_EQ(job.keyframes, before.keyframes);
    EXPECT_EQ(job.formats, QStringList({"npy"}));
    EXPECT_EQ(job.outDir, before.outDir);
    EXPECT_EQ(job.checkpointEvery, 30);
    EXPECT_TRUE(notes.isEmpty());

    // Keyframes join the job's in step order.
    overrides.keyframes = {{200, "a.png", 10}};
    ASSERT_TRUE(applyOverrides(overrides, &job, &notes, &error));
    EXPECT_EQ(job.keyframes, (std::vector<KeyframeEntry>{{200, "a.png", 10}, {400, "k.png", 0}}));
}

// The renderer and the desktop window must build the same run from the same
// configuration: the window puts each value through its spin box, loads the
// images with the shared set-up and builds the solver in its thread's order.
TEST(RenderJob, BuildsTheSameSolverAsTheDesktopProgram) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QImage src(16, 16, QImage::Format_RGB32);
    QImage tgt(20, 18, QImage::Format_ARGB32);
    for (int y = 0; y < 18; ++y) {
        for (int x = 0; x < 20; ++x) {
            if (x < 16 && y < 16) {
                src.setPixel(x, y, qRgb(x * 7, y * 3, (x * y * 5) % 256));
            }
            tgt.setPixel(x, y, qRgba(y, x, (x + 2 * y) * 6 % 256, x * 10));
        }
    }
    ASSERT_TRUE(src.save(dir.filePath("src.png")));
    ASSERT_TRUE(tgt.save(dir.filePath("tgt.png")));
    SimParameters written;
    written[kVf] = 12.34; // rounded by both to 12.3
    written[kVd] = 2;
    written[kVg] = 0.00012;
    written[kSigma] = 1.25;
    written[kDt] = 0.000123;
    const QString config = dir.filePath("run.xml");
    ASSERT_TRUE(
        writeConfigurationFile(config, written, dir.filePath("src.png"), dir.filePath("tgt.png")));

    for (const bool reverse : {false, true}) {
        // Renderer.
        RenderOptions options;
        options.configPath = config;
        options.job.reverse = reverse;
        RenderJob job;
        QStringList notes;
        QString error;
        ASSERT_TRUE(resolveJob(options, &job, &notes, &error));
        expectSameRunAsTheDesktop(job, config);
    }
}

// A configuration without one of its parameter elements: the renderer takes
// the value a freshly started window shows (and says so), so the file gives
// the same run in both programs.
TEST(RenderJob, AMissingParameterTakesTheFreshWindowsValue) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QImage src(8, 8, QImage::Format_RGB32);
    src.fill(qRgb(0, 0, 0));
    for (int k = 2; k < 6; ++k) {
        src.setPixel(k, k, qRgb(0, 0, 255));
        src.setPixel(k, 7 - k, qRgb(0, 0, 200));
    }
    ASSERT_TRUE(src.save(dir.filePath("src.png")));
    ASSERT_TRUE(src.mirrored(true, false).save(dir.filePath("tgt.png")));
    const char *values[kParameterCount] = {"2", "3", "0.0001", "1.2", "0.001"};

    for (std::size_t missing = 0; missing < kParameterCount; ++missing) {
        const QLatin1String key(kParameterRanges[missing].key);
        QByteArray xml = "<configuration><parameters>";
        for (std::size_t k = 0; k < kParameterCount; ++k) {
            if (k != missing) {
                xml += QStringLiteral("<%1>%2</%1>")
                           .arg(QLatin1String(kParameterRanges[k].key), QLatin1String(values[k]))
                           .toUtf8();
            }
        }
        xml += "</parameters><images><source>" + dir.filePath("src.png").toUtf8() +
               "</source><target>" + dir.filePath("tgt.png").toUtf8() +
               "</target></images></configuration>";
        const QString config = dir.filePath(QStringLiteral("without-%1.xml").arg(key));
        QFile file(config);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(xml);
        file.close();

        RenderOptions options;
        options.configPath = config;
        RenderJob job;
        QStringList notes;
        QString error;
        ASSERT_TRUE(resolveJob(options, &job, &notes, &error)) << error.toStdString();
        ASSERT_EQ(notes.size(), 1) << notes.join('\n').toStdString();
        EXPECT_EQ(notes[0], QStringLiteral("no <%1> in '%2'; using %3, the value the desktop "
                                           "program starts with")
                                .arg(key, config)
                                .arg(parameterStartValue(missing)));

        expectSameRunAsTheDesktop(job, config);
    }
}
