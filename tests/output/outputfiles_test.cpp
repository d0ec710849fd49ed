// The renderer's output files under failure: files appear whole or not at all,
// metrics.csv keeps whole rows, one render per folder.

#include "atomicfile.h"
#include "folderlock.h"
#include "metricsfile.h"
#include "outputfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace velloran;

namespace {

QByteArray contents(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void put(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Names in a folder, hidden ones included.
QStringList entries(const QString &folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// Files larger than `bytes` cannot be written while this lives: a write that
// would pass the limit fails with EFBIG, as a full disk fails with ENOSPC.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_previous);
        rlimit limit = m_previous;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }

private:
    rlimit m_previous{};
    void (*m_previousHandler)(int) = nullptr;
};

StepMetrics row(int step) {
    StepMetrics metrics;
    metrics.step = step;
    metrics.distance = 1.0 / (step + 1);
    metrics.mass = 100.0;
    return metrics;
}

} // namespace

TEST(AtomicFile, ReplacesTheFinalFileOnlyWhenComplete) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("frame.png");
    put(path, "old");

    {
        AtomicFile file(path);
        QString error;
        ASSERT_TRUE(file.open(&error)) << error.toStdString();
        ASSERT_TRUE(file.write(QByteArray("new, half"), &error));
        // Until the commit the old file stands, and the new one is beside it.
        EXPECT_EQ(contents(path), "old");
        EXPECT_EQ(entries(dir.path()).size(), 2);
        // Dropped without a commit: the old file stays, the temporary goes.
    }
    EXPECT_EQ(contents(path), "old");
    EXPECT_EQ(entries(dir.path()), QStringList{"frame.png"});

    QString error;
    ASSERT_TRUE(writeFileAtomically(path, "new", &error)) << error.toStdString();
    EXPECT_EQ(contents(path), "new");
    EXPECT_EQ(entries(dir.path()), QStringList{"frame.png"});

    // A new file gets the permissions the umask allows, not the temporary's 0600.
    const mode_t mask = ::umask(022);
    ASSERT_TRUE(writeFileAtomically(dir.filePath("fresh.npy"), "x", &error));
    ::umask(mask);
    EXPECT_EQ(QFileInfo(dir.filePath("fresh.npy")).permissions() & 0x7777,
              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                  QFileDevice::WriteUser | QFileDevice::ReadGroup | QFileDevice::ReadOther);
}

TEST(AtomicFile, FailuresNameTheFileAndTheReasonAndLeaveNothing) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QString error;
    const QString missing = dir.filePath("no/such/folder/frame.png");
    EXPECT_FALSE(writeFileAtomically(missing, "x", &error));
    EXPECT_EQ(error, "could not create '" + missing + "': No such file or directory");

    const QString path = dir.filePath("density_000010.npy");
    put(path, "earlier");
    {
        const FileSizeLimit limit(1000);
        EXPECT_FALSE(writeFileAtomically(path, QByteArray(5000, 'x'), &error));
    }
    EXPECT_EQ(error, "could not write '" + path + "': File too large");
    EXPECT_EQ(contents(path), "earlier");
    EXPECT_EQ(entries(dir.path()), QStringList{"density_000010.npy"});
}

TEST(AtomicFile, TemporaryNamesAreRecognised) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    AtomicFile file(dir.filePath("frame_000001.png"));
    QString error;
    ASSERT_TRUE(file.open(&error));
    const QStringList names = entries(dir.path());
    ASSERT_EQ(names.size(), 1);
    EXPECT_TRUE(isTemporaryOutputName(names.first())) << names.first().toStdString();
    for (const char *name : {"frame_000001.png", ".velloran-render.lock", "notes.part",
                             ".frame.png.part", "metrics.csv"}) {
        EXPECT_FALSE(isTemporaryOutputName(QString::fromLatin1(name))) << name;
    }
}

TEST(MetricsFile, HoldsWholeRowsWhateverFails) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("metrics.csv");
    MetricsFile metrics(path);
    QString error;
    ASSERT_TRUE(metrics.create(&error)) << error.toStdString();
    EXPECT_EQ(contents(path), metricsCsvHeader().toUtf8() + '\n');
    for (int step = 0; step < 5; ++step) {
        ASSERT_TRUE(metrics.append(row(step), &error));
    }
    // Rows wait for a flush, so a reader never meets half of one.
    EXPECT_EQ(contents(path).count('\n'), 1);
    ASSERT_TRUE(metrics.flush(&error));
    const qint64 fiveRows = metrics.length();
    EXPECT_EQ(QFileInfo(path).size(), fiveRows);
    EXPECT_EQ(contents(path).count('\n'), 6);

    // Many rows at once, more than the limit lets into the file: the write
    // fails part-way and the file is cut back to the rows it had.
    for (int step = 5; step < 200; ++step) {
        ASSERT_TRUE(metrics.append(row(step), &error));
    }
    {
        const FileSizeLimit limit(fiveRows + 100);
        EXPECT_FALSE(metrics.flush(&error));
    }
    EXPECT_EQ(error, "could not write '" + path + "': File too large");
    EXPECT_EQ(QFileInfo(path).size(), fiveRows);
    EXPECT_TRUE(contents(path).endsWith('\n'));
    EXPECT_EQ(metrics.length(), fiveRows);
}

// A checkpoint pins the rows up to its step by length and CRC; a resumed run
// checks them, cuts what came later and goes on with a CRC that matches the
// file again.
TEST(MetricsFile, ResumesAfterThePinnedRows) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("metrics.csv");
    QString error;
    qint64 twoRows = 0;
    std::uint32_t twoRowsCrc = 0;
    {
        MetricsFile metrics(path);
        ASSERT_TRUE(metrics.create(&error));
        ASSERT_TRUE(metrics.append(row(0), &error) && metrics.append(row(1), &error) &&
                    metrics.flush(&error));
        twoRows = metrics.length();
        twoRowsCrc = metrics.crc();
        ASSERT_TRUE(metrics.append(row(2), &error) && metrics.close(&error));
    }
    EXPECT_TRUE(checkMetricsPrefix(path, twoRows, twoRowsCrc, &error)) << error.toStdString();
    EXPECT_FALSE(checkMetricsPrefix(path, twoRows, twoRowsCrc ^ 1u, &error));
    EXPECT_EQ(error, "'" + path + "' has changed since the checkpoint was written");
    EXPECT_FALSE(checkMetricsPrefix(path, 1 << 20, twoRowsCrc, &error));
    EXPECT_TRUE(error.contains("is shorter than at the checkpoint")) << error.toStdString();

    MetricsFile resumed(path);
    ASSERT_TRUE(resumed.resume(twoRows, twoRowsCrc, &error)) << error.toStdString();
    ASSERT_TRUE(resumed.append(row(7), &error) && resumed.flush(&error));
    EXPECT_TRUE(checkMetricsPrefix(path, resumed.length(), resumed.crc(), &error))
        << error.toStdString();
    ASSERT_TRUE(resumed.close(&error));
    const QList<QByteArray> lines = contents(path).trimmed().split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[2].startsWith("1,"));
    EXPECT_TRUE(lines[3].startsWith("7,"));
}

TEST(OutputFolder, OneRenderPerFolder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.filePath("out");
    OutputFolder first(folder);
    QString error;
    ASSERT_EQ(first.prepare(&error), OutputFolder::Result::Ready) << error.toStdString();
    const QStringList before = entries(folder);

    // Locks belong to open files, so a second one in this process conflicts
    // just as one in another process does.
    OutputFolder second(folder);
    EXPECT_EQ(second.prepare(&error), OutputFolder::Result::Busy);
    EXPECT_EQ(error, QStringLiteral("output folder '%1' is in use by another render (process %2)")
                         .arg(folder)
                         .arg(::getpid()));
    EXPECT_EQ(entries(folder), before);

    FolderLock lock;
    EXPECT_EQ(lock.acquire(folder, &error), FolderLock::Result::Busy);
}

TEST(OutputFolder, ARunThatCannotStartLeavesNothing) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.filePath("a/b/out");
    QString error;
    {
        OutputFolder output(folder);
        ASSERT_EQ(output.prepare(&error), OutputFolder::Result::Ready) << error.toStdString();
        EXPECT_TRUE(QFileInfo(folder).isDir());
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("a")));

    {
        OutputFolder output(folder);
        ASSERT_EQ(output.prepare(&error), OutputFolder::Result::Ready);
        output.keep();
    }
    EXPECT_TRUE(QFileInfo(folder).isDir());
    // The lock is free again once the render is over.
    OutputFolder again(folder);
    EXPECT_EQ(again.prepare(&error), OutputFolder::Result::Ready) << error.toStdString();

    put(dir.filePath("file"), "x");
    OutputFolder notAFolder(dir.filePath("file"));
    EXPECT_EQ(notAFolder.prepare(&error), OutputFolder::Result::Failed);
    EXPECT_TRUE(error.contains("is not a folder")) << error.toStdString();

    // A folder that cannot be made says which and why.
    OutputFolder under(dir.filePath("file/out"));
    EXPECT_EQ(under.prepare(&error), OutputFolder::Result::Failed);
    EXPECT_EQ(error,
              "could not create output folder '" + dir.filePath("file/out") + "': Not a directory");
}

TEST(OutputFolder, SweepsAnEarlierRendersFilesAndLeftoversOnly) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const char *name : {"frame_000001.png", "notes.txt", ".frame_000002.png.a1B2c3.part"}) {
        put(dir.filePath(QString::fromLatin1(name)), "x");
    }
    OutputFolder output(dir.path());
    QString error;
    ASSERT_EQ(output.prepare(&error), OutputFolder::Result::Ready);
    const int removed = output.removeEarlierOutput(
        [](const QString &name) { return name.startsWith(QLatin1String("frame_")); });
    EXPECT_EQ(removed, 2);
    EXPECT_EQ(entries(dir.path()), (QStringList{".velloran-render.lock", "notes.txt"}));
}
