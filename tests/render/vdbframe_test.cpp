// OpenVDB frames read back with the library: the grids' names, classes, types,
// transforms and active voxels, and their values against the fields they were
// made from, directly and through the program.

#include "clirun.h"
#include "npy.h"
#include "vdbframe.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <Imath/half.h>
#include <openvdb/io/File.h>
#include <openvdb/io/Stream.h>
#include <openvdb/openvdb.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <sstream>

using velloran::VdbSettings;

namespace {

struct Volume {
    openvdb::FloatGrid::Ptr density;
    openvdb::Vec3SGrid::Ptr velocity;
    openvdb::FloatGrid::Ptr solid; // a run with obstacles only
    openvdb::MetaMap::Ptr metadata;
};

Volume readVolume(openvdb::GridPtrVecPtr grids, openvdb::MetaMap::Ptr metadata,
                  const std::string &velocityName) {
    Volume volume;
    volume.metadata = metadata;
    for (const openvdb::GridBase::Ptr &grid : *grids) {
        if (grid->getName() == "density") {
            volume.density = openvdb::gridPtrCast<openvdb::FloatGrid>(grid);
        } else if (grid->getName() == velocityName) {
            volume.velocity = openvdb::gridPtrCast<openvdb::Vec3SGrid>(grid);
        } else if (grid->getName() == "solid") {
            volume.solid = openvdb::gridPtrCast<openvdb::FloatGrid>(grid);
        }
    }
    EXPECT_EQ(grids->size(), volume.solid ? 3u : 2u);
    EXPECT_TRUE(volume.density && volume.velocity);
    return volume;
}

Volume readBytes(const QByteArray &bytes, const std::string &velocityName = "velocity") {
    openvdb::initialize();
    std::istringstream stream(bytes.toStdString(), std::ios_base::in | std::ios_base::binary);
    openvdb::io::Stream file(stream);
    return readVolume(file.getGrids(), file.getMetadata(), velocityName);
}

Volume readFile(const QString &path, const std::string &velocityName) {
    openvdb::initialize();
    openvdb::io::File file(QFile::encodeName(path).toStdString());
    file.open();
    Volume volume = readVolume(file.getGrids(), file.getMetadata(), velocityName);
    file.close();
    return volume;
}

float half(double value) {
    return float(Imath::half(static_cast<float>(value)));
}

// Every cell (i, j) of the fields at voxel (i - 1, j - 1, 0); active exactly
// where the density (or the velocity) is not zero.
void expectFields(const Volume &volume, const Grid &density, const Grid &u, const Grid &v,
                  bool fullFloat) {
    const auto n = density.NumCols() - 2;
    ASSERT_TRUE(volume.density && volume.velocity);
    const auto rho = volume.density->getConstAccessor();
    const auto uv = volume.velocity->getConstAccessor();
    openvdb::Index64 activeDensity = 0;
    openvdb::Index64 activeVelocity = 0;
    for (std::uint32_t j = 1; j <= n; ++j) {
        for (std::uint32_t i = 1; i <= n; ++i) {
            const openvdb::Coord voxel(static_cast<int>(i) - 1, static_cast<int>(j) - 1, 0);
            const float expected =
                fullFloat ? static_cast<float>(density(i, j)) : half(density(i, j));
            const float actual = rho.getValue(voxel);
            if (std::isnan(expected)) {
                EXPECT_TRUE(std::isnan(actual)) << i << "," << j;
            } else {
                EXPECT_EQ(actual, expected) << i << "," << j;
            }
            EXPECT_EQ(rho.isValueOn(voxel), static_cast<float>(density(i, j)) != 0.0f);
            activeDensity += rho.isValueOn(voxel);
            const openvdb::Vec3s vector = uv.getValue(voxel);
            EXPECT_EQ(vector, openvdb::Vec3s(static_cast<float>(u(i, j)),
                                             static_cast<float>(v(i, j)), 0.0f));
            activeVelocity += uv.isValueOn(voxel);
        }
    }
    EXPECT_EQ(volume.density->activeVoxelCount(), activeDensity);
    EXPECT_EQ(volume.velocity->activeVoxelCount(), activeVelocity);
    EXPECT_GT(activeDensity, 0u);
}

// A 4 x 4 frame, every cell different; zeros, a NaN and a negative value.
struct Fields {
    Grid density{6, 6};
    Grid u{6, 6};
    Grid v{6, 6};
    Fields() {
        for (std::uint32_t j = 1; j <= 4; ++j) {
            for (std::uint32_t i = 1; i <= 4; ++i) {
                density(i, j) = 0.1 * i + 0.013 * j;
                u(i, j) = 0.5 * i - j;
                v(i, j) = -0.25 * i * j;
            }
        }
        density(2, 1) = 0.0;
        density(4, 4) = 0.0;
        density(3, 2) = std::numeric_limits<double>::quiet_NaN();
        density(1, 3) = -0.5;
        density(0, 0) = 7.0; // the frame is not written
        u(1, 1) = 0.0;
        v(1, 1) = 0.0;
    }
};

} // namespace

TEST(VdbFrame, GridsDescribeASlabOfTheFrameUpright) {
    const Fields f;
    QString error;
    const QByteArray halfBytes = velloran::vdbBytes({f.density, f.u, f.v}, VdbSettings{}, &error);
    ASSERT_FALSE(halfBytes.isEmpty()) << error.toStdString();
    const Volume volume = readBytes(halfBytes);
    ASSERT_TRUE(volume.density && volume.velocity);
    EXPECT_EQ(volume.density->getGridClass(), openvdb::GRID_FOG_VOLUME);
    EXPECT_TRUE(volume.density->saveFloatAsHalf());
    EXPECT_FALSE(volume.velocity->saveFloatAsHalf());
    for (const openvdb::GridBase *grid :
         {static_cast<const openvdb::GridBase *>(volume.density.get()),
          static_cast<const openvdb::GridBase *>(volume.velocity.get())}) {
        EXPECT_EQ(grid->voxelSize(), openvdb::Vec3d(0.25));
        // Voxel centres at the solver's cell centres: the slab covers the unit square.
        EXPECT_EQ(grid->indexToWorld(openvdb::Vec3d(0, 0, 0)), openvdb::Vec3d(0.125));
        EXPECT_EQ(grid->indexToWorld(openvdb::Vec3d(3, 3, 0)), openvdb::Vec3d(0.875, 0.875, 0.125));
    }
    EXPECT_EQ(volume.density->evalActiveVoxelBoundingBox(),
              openvdb::CoordBBox(openvdb::Coord(0, 0, 0), openvdb::Coord(3, 3, 0)));
    EXPECT_EQ(volume.metadata->metaValue<std::string>("creator"),
              "velloran-render " VELLORAN_VERSION);
    expectFields(volume, f.density, f.u, f.v, false);

    // Full floats on request, a host's velocity name; the same frame always
    // gives the same bytes.
    const VdbSettings full{true, QStringLiteral("vel"), {}};
    const QByteArray floatBytes = velloran::vdbBytes({f.density, f.u, f.v}, full, &error);
    EXPECT_EQ(velloran::vdbBytes({f.density, f.u, f.v}, full, &error), floatBytes);
    const Volume floats = readBytes(floatBytes, "vel");
    EXPECT_FALSE(floats.density->saveFloatAsHalf());
    expectFields(floats, f.density, f.u, f.v, true);
    EXPECT_FALSE(floats.solid);

    // Obstacles: one more grid, active in the solid cells, upright.
    Grid solid(6, 6);
    solid(1, 4) = 1.0;
    solid(3, 2) = 1.0;
    solid(0, 0) = 1.0; // the frame is not written
    const Volume walled =
        readBytes(velloran::vdbBytes({f.density, f.u, f.v, &solid}, full, &error), "vel");
    ASSERT_TRUE(walled.solid);
    EXPECT_EQ(walled.solid->activeVoxelCount(), 2u);
    EXPECT_EQ(walled.solid->getConstAccessor().getValue(openvdb::Coord(0, 3, 0)), 1.0f);
    EXPECT_TRUE(walled.solid->getConstAccessor().isValueOn(openvdb::Coord(2, 1, 0)));
    expectFields(walled, f.density, f.u, f.v, true);
}

// Through the program: each frame holds the fields of its step as the .npy
// files of the same run give them.
TEST(VdbFrame, RenderedFramesHoldTheSolversFields) {
    QTemporaryDir dir;
    ASSERT_TRUE(clirun::disc(24, 8).save(dir.filePath("src.png")));
    ASSERT_TRUE(clirun::disc(24, 5).save(dir.filePath("tgt.png")));
    for (const bool fullFloat : {false, true}) {
        const QString out = dir.filePath(fullFloat ? "float" : "half");
        QStringList arguments = {"--source",
                                 dir.filePath("src.png"),
                                 "--target",
                                 dir.filePath("tgt.png"),
                                 "--scheme",
                                 "sound",
                                 "--steps",
                                 "20",
                                 "--every",
                                 "10",
                                 "--format",
                                 "npy,vdb",
                                 "--vdb-velocity-name",
                                 "vel",
                                 "--out",
                                 out,
                                 "--quiet"};
        if (fullFloat) {
            arguments << "--vdb-float";
        }
        const clirun::Result r = clirun::run(arguments);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_TRUE(r.out.contains(fullFloat ? "density in 32-bit floats" : "in half floats"));
        for (const char *number : {"000000", "000010", "000020"}) {
            const QDir folder(out);
            const auto grid = [&](const char *prefix) {
                QFile file(folder.filePath(QStringLiteral("%1_%2.npy").arg(prefix, number)));
                EXPECT_TRUE(file.open(QIODevice::ReadOnly));
                return velloran::parseNpy(file.readAll()).value_or(Grid(1, 1));
            };
            const Volume volume =
                readFile(folder.filePath(QStringLiteral("frame_%1.vdb").arg(number)), "vel");
            SCOPED_TRACE(number);
            expectFields(volume, grid("density"), grid("u"), grid("v"), fullFloat);
        }
    }
    const clirun::Result refused = clirun::run({"--vdb-float", "--steps", "2"});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(refused.err.contains("--format has no vdb")) << refused.err.toStdString();
}

// A colour run's volume: the fields' total as density, each field under its
// colour's name, and their mixture in linear light where there is smoke (a
// negative or NaN density counting as none); through the program, the
// fields' grids hold what the .npy files of the same step hold.
TEST(VdbFrame, ColourRunsHoldEveryFieldTheirTotalAndTheirColour) {
    const Fields f;
    Grid second{6, 6};
    for (std::uint32_t j = 1; j <= 4; ++j) {
        for (std::uint32_t i = 1; i <= 4; ++i) {
            second(i, j) = 0.05 * j;
        }
    }
    second(1, 1) = 0.0; // with f's 0.113: the first field's colour alone
    VdbSettings settings{true,
                         QStringLiteral("velocity"),
                         {{QStringLiteral("density.ff0000"), {1.0f, 0.0f, 0.0f}},
                          {QStringLiteral("density.0000ff"), {0.0f, 0.25f, 1.0f}}}};
    QString error;
    const QByteArray bytes =
        velloran::vdbBytes({f.density, f.u, f.v, nullptr, {&f.density, &second}}, settings, &error);
    ASSERT_FALSE(bytes.isEmpty()) << error.toStdString();
    openvdb::initialize();
    std::istringstream stream(bytes.toStdString(), std::ios_base::in | std::ios_base::binary);
    openvdb::io::Stream file(stream);
    std::map<std::string, openvdb::GridBase::Ptr> grids;
    const openvdb::GridPtrVecPtr read = file.getGrids();
    for (const openvdb::GridBase::Ptr &grid : *read) {
        grids[grid->getName()] = grid;
    }
    ASSERT_EQ(grids.size(), 5u);
    const auto floats = [&](const char *name) {
        return openvdb::gridPtrCast<openvdb::FloatGrid>(grids[name])->getConstAccessor();
    };
    const auto total = floats("density");
    const auto red = floats("density.ff0000");
    const auto blue = floats("density.0000ff");
    const auto colour =
        openvdb::gridPtrCast<openvdb::Vec3SGrid>(grids["color"])->getConstAccessor();
    ASSERT_TRUE(grids["velocity"]);
    const auto at = [](int i, int j) { return openvdb::Coord(i - 1, j - 1, 0); };
    EXPECT_EQ(total.getValue(at(2, 3)), static_cast<float>(f.density(2, 3) + second(2, 3)));
    EXPECT_EQ(red.getValue(at(2, 3)), static_cast<float>(f.density(2, 3)));
    EXPECT_EQ(blue.getValue(at(2, 3)), static_cast<float>(second(2, 3)));
    EXPECT_FALSE(blue.isValueOn(at(1, 1)));
    EXPECT_EQ(colour.getValue(at(1, 1)), openvdb::Vec3s(1.0f, 0.0f, 0.0f));
    const double w = f.density(2, 3) + second(2, 3);
    EXPECT_EQ(colour.getValue(at(2, 3)), openvdb::Vec3s(static_cast<float>(f.density(2, 3) / w),
                                                        static_cast<float>(0.25 * second(2, 3) / w),
                                                        static_cast<float>(second(2, 3) / w)));
    // f's negative (1, 3) and NaN (3, 2) count as none: the blue field alone.
    EXPECT_EQ(colour.getValue(at(1, 3)), openvdb::Vec3s(0.0f, 0.25f, 1.0f));
    EXPECT_EQ(colour.getValue(at(3, 2)), openvdb::Vec3s(0.0f, 0.25f, 1.0f));
    EXPECT_TRUE(std::isnan(total.getValue(at(3, 2))));
    settings.fields.pop_back();
    EXPECT_TRUE(
        velloran::vdbBytes({f.density, f.u, f.v, nullptr, {&f.density, &second}}, settings, &error)
            .isEmpty());
    EXPECT_TRUE(error.contains("the frame has 2 smoke fields, the volume 1"));

    QTemporaryDir dir;
    ASSERT_TRUE(clirun::disc(16, 5).save(dir.filePath("disc.png")));
    const QString pair = QStringLiteral(":%1:%1").arg(dir.filePath("disc.png"));
    const clirun::Result r =
        clirun::run({"--field", "#e03020" + pair, "--field", "#20a0e0" + pair, "--steps", "10",
                     "--every", "10", "--format", "vdb,npy", "--out", dir.path(), "--quiet"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    openvdb::io::File written(QFile::encodeName(dir.filePath("frame_000010.vdb")).toStdString());
    written.open();
    QFile npy(dir.filePath("density.20a0e0_000010.npy"));
    ASSERT_TRUE(npy.open(QIODevice::ReadOnly));
    const Grid field = velloran::parseNpy(npy.readAll()).value_or(Grid(1, 1));
    const auto grid = openvdb::gridPtrCast<openvdb::FloatGrid>(written.readGrid("density.20a0e0"));
    ASSERT_TRUE(grid && written.readGrid("density.e03020") && written.readGrid("color"));
    EXPECT_EQ(grid->getConstAccessor().getValue(openvdb::Coord(7, 7, 0)),
              float(Imath::half(static_cast<float>(field(8, 8)))));
    EXPECT_GT(field(8, 8), 0.0);
}
