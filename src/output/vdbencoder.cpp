#include "vdbmodule.h"

#include "vdbframe.h"

#include <QCryptographicHash>

#include <openvdb/io/Archive.h>
#include <openvdb/openvdb.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <exception>
#include <sstream>
#include <type_traits>

namespace velloran {

namespace {

// openvdb::io::File writes only to a named file and io::Stream leaves out the
// grid offsets that readers of files use; an archive writing to a seekable
// memory stream gives a file's bytes, which the caller puts in place.
class MemoryArchive : public openvdb::io::Archive {
public:
    std::string bytes(const openvdb::GridCPtrVec &grids, const openvdb::MetaMap &metadata) const {
        std::ostringstream stream(std::ios_base::out | std::ios_base::binary);
        write(stream, grids, /*seekable=*/true, metadata);
        return stream.str();
    }
};

// The library stamps every file with a random UUID, which hosts compare to
// tell files apart. One derived from the rest of the file keeps that meaning
// and lets a frame written twice (a resumed render) have the same bytes.
bool replaceUuid(std::string *bytes) {
    // The UUID is the first 36-character text of the form 8-4-4-4-12 in the
    // header, after the magic number and the version numbers.
    constexpr std::size_t kLength = 36;
    for (std::size_t at = 8; at + kLength <= std::min<std::size_t>(bytes->size(), 96); ++at) {
        bool matches = true;
        for (std::size_t k = 0; k < kLength && matches; ++k) {
            const char c = (*bytes)[at + k];
            const bool dash = k == 8 || k == 13 || k == 18 || k == 23;
            matches = dash ? c == '-' : std::isxdigit(static_cast<unsigned char>(c)) != 0;
        }
        if (!matches) {
            continue;
        }
        QByteArray rest = QByteArray::fromStdString(*bytes);
        rest.remove(static_cast<qsizetype>(at), kLength);
        const QByteArray hex =
            QCryptographicHash::hash(rest, QCryptographicHash::Sha256).toHex().left(32);
        const QByteArray uuid = hex.left(8) + '-' + hex.mid(8, 4) + '-' + hex.mid(12, 4) + '-' +
                                hex.mid(16, 4) + '-' + hex.mid(20, 12);
        bytes->replace(at, kLength, uuid.constData(), kLength);
        return true;
    }
    return false;
}

// The obstacles: 1 in the solid cells (active), nothing elsewhere.
openvdb::FloatGrid::Ptr solidGrid(const Grid &solid, const openvdb::math::Transform &transform) {
    openvdb::FloatGrid::Ptr grid = openvdb::FloatGrid::create(0.0f);
    grid->setName("solid");
    grid->setSaveFloatAsHalf(true); // 0 and 1 are exact
    grid->setTransform(transform.copy());
    openvdb::FloatGrid::Accessor cells = grid->getAccessor();
    const int n = static_cast<int>(solid.NumCols()) - 2;
    for (int j = 1; j <= n; ++j) {
        for (int i = 1; i <= n; ++i) {
            if (solid(static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(j)) > 0.5) {
                cells.setValue(openvdb::Coord(i - 1, j - 1, 0), 1.0f);
            }
        }
    }
    return grid;
}

openvdb::FloatGrid::Ptr densityGrid(const std::string &name, const VdbSettings &settings,
                                    const openvdb::math::Transform &transform) {
    openvdb::FloatGrid::Ptr density = openvdb::FloatGrid::create(0.0f);
    density->setName(name);
    density->setGridClass(openvdb::GRID_FOG_VOLUME);
    density->setSaveFloatAsHalf(!settings.fullFloat);
    density->setTransform(transform.copy());
    return density;
}

// A colour run's smoke: the total into `total` (where a grey run has its one
// density), and after it in *grids each field's own and the colour they mix to.
void addColourFields(const FrameFields &fields, const VdbSettings &settings,
                     const openvdb::math::Transform &transform, openvdb::FloatGrid &total,
                     openvdb::GridCPtrVec *grids) {
    const int n = static_cast<int>(fields.density.NumCols()) - 2;
    openvdb::Vec3SGrid::Ptr colour = openvdb::Vec3SGrid::create(openvdb::Vec3s(0.0f));
    colour->setName("color");
    colour->setTransform(transform.copy());
    std::vector<openvdb::FloatGrid::Ptr> each;
    for (const VdbField &field : settings.fields) {
        each.push_back(densityGrid(field.name.toStdString(), settings, transform));
    }
    openvdb::FloatGrid::Accessor sum = total.getAccessor();
    openvdb::Vec3SGrid::Accessor mixture = colour->getAccessor();
    for (int j = 1; j <= n; ++j) {
        for (int i = 1; i <= n; ++i) {
            const auto ui = static_cast<std::uint32_t>(i);
            const auto uj = static_cast<std::uint32_t>(j);
            const openvdb::Coord voxel(i - 1, j - 1, 0);
            double rho = 0.0;
            double smoke = 0.0;
            double mix[3] = {0.0, 0.0, 0.0};
            for (std::size_t k = 0; k < each.size(); ++k) {
                const double value = (*fields.fields[k])(ui, uj);
                rho += value;
                if (static_cast<float>(value) != 0.0f) {
                    each[k]->tree().setValue(voxel, static_cast<float>(value));
                }
                const double amount = std::isfinite(value) ? std::max(value, 0.0) : 0.0;
                smoke += amount;
                for (int c = 0; c < 3; ++c) {
                    mix[c] += static_cast<double>(settings.fields[k].linear[c]) * amount;
                }
            }
            if (static_cast<float>(rho) != 0.0f) {
                sum.setValue(voxel, static_cast<float>(rho));
            }
            if (smoke > 0.0) {
                mixture.setValue(voxel, openvdb::Vec3s(static_cast<float>(mix[0] / smoke),
                                                       static_cast<float>(mix[1] / smoke),
                                                       static_cast<float>(mix[2] / smoke)));
            }
        }
    }
    grids->insert(grids->end(), each.begin(), each.end());
    grids->push_back(colour);
}

QByteArray encodeVolume(const FrameFields &fields, const VdbSettings &settings, QString *error) {
    const int n = static_cast<int>(fields.density.NumCols()) - 2;
    const double h = 1.0 / n;
    const bool colourRun = !settings.fields.empty();
    if (colourRun && fields.fields.size() != settings.fields.size()) {
        *error = QStringLiteral("the frame has %1 smoke fields, the volume %2")
                     .arg(fields.fields.size())
                     .arg(settings.fields.size());
        return QByteArray();
    }
    // The library reports failures (memory, mostly) by throwing.
    try {
        openvdb::initialize();
        openvdb::math::Transform::Ptr transform =
            openvdb::math::Transform::createLinearTransform(h);
        transform->postTranslate(openvdb::Vec3d(0.5 * h, 0.5 * h, 0.5 * h));

        openvdb::FloatGrid::Ptr density = densityGrid("density", settings, *transform);
        openvdb::Vec3SGrid::Ptr velocity = openvdb::Vec3SGrid::create(openvdb::Vec3s(0.0f));
        velocity->setName(settings.velocityName.toStdString());
        velocity->setTransform(transform->copy());

        openvdb::FloatGrid::Accessor rho = density->getAccessor();
        openvdb::Vec3SGrid::Accessor uv = velocity->getAccessor();
        for (int j = 1; j <= n; ++j) {
            for (int i = 1; i <= n; ++i) {
                const auto ui = static_cast<std::uint32_t>(i);
                const auto uj = static_cast<std::uint32_t>(j);
                const openvdb::Coord voxel(i - 1, j - 1, 0);
                // Non-finite values are kept, as in the EXR frame's float layers.
                const auto value = static_cast<float>(fields.density(ui, uj));
                if (value != 0.0f && !colourRun) {
                    rho.setValue(voxel, value);
                }
                const openvdb::Vec3s vector(static_cast<float>(fields.uCentre(ui, uj)),
                                            static_cast<float>(fields.vCentre(ui, uj)), 0.0f);
                if (vector != openvdb::Vec3s(0.0f)) {
                    uv.setValue(voxel, vector);
                }
            }
        }

        openvdb::GridCPtrVec grids{density};
        if (colourRun) {
            addColourFields(fields, settings, *transform, *density, &grids);
        }
        grids.push_back(velocity);
        if (fields.solid) {
            grids.push_back(solidGrid(*fields.solid, *transform));
        }

        MemoryArchive archive;
        archive.setCompression((openvdb::io::Archive::hasBloscCompression()
                                    ? openvdb::io::COMPRESS_BLOSC
                                    : openvdb::io::COMPRESS_ZIP) |
                               openvdb::io::COMPRESS_ACTIVE_MASK);
        openvdb::MetaMap metadata;
        metadata.insertMeta("creator",
                            openvdb::StringMetadata("velloran-render " VELLORAN_VERSION));
        std::string bytes = archive.bytes(grids, metadata);
        if (!replaceUuid(&bytes)) {
            *error = QStringLiteral("the OpenVDB library wrote a header without a UUID");
            return QByteArray();
        }
        return QByteArray::fromStdString(bytes);
    } catch (const std::exception &e) {
        *error = QString::fromLocal8Bit(e.what());
        return QByteArray();
    }
}

} // namespace

} // namespace velloran

// The library's own parallel loops (grid statistics, mostly) run on the
// calling thread alone: a slab is small, the cores belong to the simulation,
// and a thread pool the caller never sees would outlive it.
extern "C" __attribute__((visibility("default"))) bool
velloran_vdb_encode(const velloran::FrameFields &fields, const velloran::VdbSettings &settings,
                    QByteArray *bytes, QString *error) {
    tbb::task_arena callerOnly(1, 1);
    callerOnly.execute([&] { *bytes = velloran::encodeVolume(fields, settings, error); });
    return !bytes->isEmpty();
}

static_assert(std::is_same_v<decltype(&velloran_vdb_encode), velloran::VdbEncodeFunction>);
