// What the Images panel's target preview costs the window's thread each time
// it is redrawn (a path typed or chosen, a configuration loaded): the bundled
// grey, field and palette examples at 128, and the emblem's colour target
// scaled up to the largest image a run takes, read with a found palette.
//
//   build/rel/tests/app/targetpreview_bench --benchmark_repetitions=9
//       --benchmark_report_aggregates_only=true

#include "configfile.h"
#include "runsetup.h"
#include "targetpreview.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

QString example(const char *name) {
    return QDir(QStringLiteral(VELLORAN_EXAMPLES)).filePath(QLatin1String(name));
}

void preview(benchmark::State &state, const QString &source, const QString &target,
             const std::optional<velloran::ColourConfiguration> &colour) {
    for (auto _ : state) {
        const TargetPreview shown = previewTarget(source, target, QString(), colour);
        if (shown.picture.isNull()) {
            state.SkipWithError(qPrintable(shown.details));
            return;
        }
        benchmark::DoNotOptimize(shown.picture.constBits());
    }
}

velloran::ColourConfiguration foundPalette() {
    velloran::ColourConfiguration colour;
    colour.palette = velloran::PaletteRequest{};
    return colour;
}

void BM_GreyExample(benchmark::State &state) {
    preview(state, example("blob.png"), example("letter-s.png"), std::nullopt);
}
BENCHMARK(BM_GreyExample)->Unit(benchmark::kMillisecond);

void BM_FieldsExample(benchmark::State &state) {
    velloran::ColourConfiguration colour;
    colour.fields = {
        {velloran::SmokeColour{0xe0, 0x30, 0x20}, example("yin.png"), example("yang.png")},
        {velloran::SmokeColour{0x20, 0xa0, 0xe0}, example("yang.png"), example("yin.png")}};
    preview(state, QString(), QString(), colour);
}
BENCHMARK(BM_FieldsExample)->Unit(benchmark::kMillisecond);

void BM_PaletteExample(benchmark::State &state) {
    preview(state, example("blob.png"), example("emblem.png"), foundPalette());
}
BENCHMARK(BM_PaletteExample)->Unit(benchmark::kMillisecond);

// The emblem and the grey disc scaled to side x side.
void BM_PaletteLarge(benchmark::State &state) {
    const int side = static_cast<int>(state.range(0));
    QTemporaryDir folder;
    const QString source = folder.filePath(QStringLiteral("source.png"));
    const QString target = folder.filePath(QStringLiteral("target.png"));
    QImage(example("blob.png")).scaled(side, side).save(source);
    QImage(example("emblem.png")).scaled(side, side).save(target);
    preview(state, source, target, foundPalette());
}
BENCHMARK(BM_PaletteLarge)->Arg(512)->Arg(velloran::kMaxImageSide)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
