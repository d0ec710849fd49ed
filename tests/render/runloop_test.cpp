// The run loop as the renderer's parts see it: which frames are written, what
// the hooks are told, how a failure or a resumed run is handled.

#include "metricsfile.h"
#include "progress.h"
#include "runloop.h"
#include "runsetup.h"
#include "videoencoder.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace velloran;

namespace {

class RecordingWriter : public FrameWriter {
public:
    explicit RecordingWriter(std::vector<int> *steps, int failAt = -1)
        : m_steps(steps)
        , m_failAt(failAt) {}
    bool write(const Frame &frame, QString *error) override {
        if (frame.step == m_failAt) {
            *error = QStringLiteral("could not write 'frame': No space left on device");
            return false;
        }
        EXPECT_EQ(frame.grey.width(), 8);
        m_steps->push_back(frame.step);
        return true;
    }
    bool isOwnOutput(const QString &) const override { return false; }
    std::optional<int> frameStep(const QString &) const override { return std::nullopt; }
    QStringList fileNames(int) const override { return {}; }
    QStringList summary(const QString &, int) const override { return {}; }

private:
    std::vector<int> *m_steps;
    int m_failAt;
};

// An observer after the loop's own, as the checkpoints are: it sees the step's
// row in the history and whether its frame was written.
class RecordingHook : public StepObserver {
public:
    bool stepFinished(const Solver &, const StepReport &report, std::string *error) override {
        const int step = static_cast<int>(report.step);
        EXPECT_EQ(loop->history().latest().step, step);
        calls.emplace_back(step, loop->lastFrameStep() == step);
        if (step == failAt) {
            *error = "could not write 'checkpoint': Disk quota exceeded";
            return false;
        }
        return true;
    }
    const RunLoop *loop = nullptr;
    std::vector<std::pair<int, bool>> calls;
    int failAt = -1;
};

struct Fixture {
    Fixture() {
        Grid source(8, 8);
        Grid target(8, 8);
        for (std::uint32_t j = 2; j < 6; ++j) {
            for (std::uint32_t i = 2; i < 6; ++i) {
                source(i, j) = 1.0;
                target(i + (i < 4 ? 1 : 0), j) = 1.0;
            }
        }
        SimParameters parameters;
        parameters[kVf] = 1.0;
        parameters[kVd] = 3.0;
        parameters[kSigma] = 1.0;
        parameters[kDt] = 0.001;
        solver = makeSolver(source, target, parameters);
        EXPECT_TRUE(dir.isValid());
        QString error;
        EXPECT_TRUE(metrics.create(&error));
    }

    RunLoop::Result run(int steps, int every, RecordingHook *hook, int failAt = -1,
                        int resumeAt = 0) {
        std::vector<std::unique_ptr<FrameWriter>> writers;
        writers.push_back(std::make_unique<RecordingWriter>(&frames, failAt));
        std::unique_ptr<VideoEncoder> video;
        Progress progress(stderr, true, steps);
        Run run(std::move(solver));
        RunLoop loop(run, steps, every, {metrics, writers, video}, progress, stderr);
        if (resumeAt > 0) {
            MetricsHistory history;
            history.add(measure(run.solver(), resumeAt, 0.0));
            loop.resumeAt(resumeAt, history, 1, 0.0);
        }
        if (hook) {
            hook->loop = &loop;
            run.addObserver(hook);
        }
        const RunLoop::Result result = loop.run();
        framesCounted = loop.frames();
        return result;
    }

    QTemporaryDir dir;
    MetricsFile metrics{dir.filePath("metrics.csv")};
    std::unique_ptr<Solver> solver;
    std::vector<int> frames;
    int framesCounted = 0;
};

} // namespace

TEST(RunLoop, WritesFramesWhenDueAndTellsTheHooksAfterEveryStep) {
    Fixture f;
    RecordingHook hook;
    const RunLoop::Result result = f.run(5, 2, &hook);
    EXPECT_EQ(result.end, RunLoop::End::Completed);
    EXPECT_EQ(result.step, 5);
    EXPECT_EQ(f.frames, (std::vector<int>{0, 2, 4, 5}));
    EXPECT_EQ(f.framesCounted, 4);
    const std::vector<std::pair<int, bool>> expected = {{0, true},  {1, false}, {2, true},
                                                        {3, false}, {4, true},  {5, true}};
    EXPECT_EQ(hook.calls, expected);
    QString error;
    ASSERT_TRUE(f.metrics.close(&error));
    QFile file(f.dir.filePath("metrics.csv"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().count('\n'), 7); // header and steps 0 .. 5
}

TEST(RunLoop, TheFirstFailureEndsTheRunWithItsMessage) {
    Fixture writerFails;
    RecordingHook hook;
    RunLoop::Result result = writerFails.run(10, 2, &hook, 4);
    EXPECT_EQ(result.end, RunLoop::End::OutputFailed);
    EXPECT_EQ(result.step, 4);
    EXPECT_EQ(result.error, "could not write 'frame': No space left on device");
    EXPECT_EQ(writerFails.frames, (std::vector<int>{0, 2}));
    EXPECT_EQ(hook.calls.back().first, 3); // the failing step goes no further

    Fixture hookFails;
    RecordingHook failing;
    failing.failAt = 3;
    result = hookFails.run(10, 2, &failing);
    EXPECT_EQ(result.end, RunLoop::End::OutputFailed);
    EXPECT_EQ(result.step, 3);
    EXPECT_EQ(result.error, "could not write 'checkpoint': Disk quota exceeded");
}

TEST(RunLoop, AResumedRunStartsAfterItsLastStep) {
    Fixture f;
    RecordingHook hook;
    const RunLoop::Result result = f.run(6, 2, &hook, -1, 3);
    EXPECT_EQ(result.end, RunLoop::End::Completed);
    EXPECT_EQ(f.frames, (std::vector<int>{4, 6}));
    EXPECT_EQ(f.framesCounted, 3); // one before the resume, two after
    ASSERT_FALSE(hook.calls.empty());
    EXPECT_EQ(hook.calls.front().first, 4);
}
