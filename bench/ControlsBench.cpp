// Drawing costs of the display controls. Run: build/tamblo_bench_controls
#include "controls/Gauges.h"
#include "controls/kwFltBtn.h"
#include "tests/common/PaintCounter.h"

#include <QApplication>
#include <QEnterEvent>
#include <QEvent>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <memory>

namespace {

// The main window's gauge, shown on a window so repaints reach the screen.
struct ShownGauge {
    ShownGauge()
    {
        window.resize(60, 60);
        gauge = new TGauge(&window);
        gauge->setGeometry(10, 10, 25, 41);
        gauge->setKind(TGauge::gkVerticalBar);
        gauge->setBorderStyle(TGauge::bsNone);
        gauge->setBackColor(clWindowFrame);
        gauge->setForeColor(clGradientActiveCaption);
        window.show();
        QCoreApplication::processEvents();
        gauge->installEventFilter(&counter);
    }
    QWidget window;
    TGauge *gauge = nullptr;
    PaintCounter counter;
};

// The off-screen drawing alone: three bitmaps, the bar, the XOR'd text.
void BM_GaugePicture(benchmark::State &state)
{
    ShownGauge shown;
    shown.gauge->setProgress(50);
    for (auto _ : state)
        benchmark::DoNotOptimize(shown.gauge->RenderPicture());
}
BENCHMARK(BM_GaugePicture)->Unit(benchmark::kMicrosecond)->Repetitions(7)->ReportAggregatesOnly(true);

// A Progress change that moves Percent: the whole synchronous repaint onto the window.
void BM_GaugePaint(benchmark::State &state)
{
    ShownGauge shown;
    int value = 0;
    for (auto _ : state) {
        value = value == 50 ? 51 : 50;
        shown.gauge->setProgress(value);
    }
    state.counters["paints/op"] =
        benchmark::Counter(static_cast<double>(shown.counter.paints), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_GaugePaint)->Unit(benchmark::kMicrosecond)->Repetitions(7)->ReportAggregatesOnly(true);

// A Progress change that leaves Percent alone (range 0..1000: 500 and 505 are both 50 %).
void BM_GaugeSamePercent(benchmark::State &state)
{
    ShownGauge shown;
    shown.gauge->setMaxValue(1000);
    shown.gauge->setProgress(500);
    shown.counter.paints = 0;
    int value = 500;
    for (auto _ : state) {
        value = value == 500 ? 505 : 500;
        shown.gauge->setProgress(value);
    }
    state.counters["paints/op"] =
        benchmark::Counter(static_cast<double>(shown.counter.paints), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_GaugeSamePercent)->Unit(benchmark::kNanosecond)->Repetitions(7)->ReportAggregatesOnly(true);

// The needle kind's picture, whose dial is worked out pixel by pixel (80 x 45 with a border).
void BM_GaugeNeedlePicture(benchmark::State &state)
{
    ShownGauge shown;
    shown.gauge->setKind(TGauge::gkNeedle);
    shown.gauge->setBorderStyle(TGauge::bsSingle);
    shown.gauge->setGeometry(10, 10, 80, 45);
    shown.gauge->setProgress(33);
    for (auto _ : state)
        benchmark::DoNotOptimize(shown.gauge->RenderPicture());
}
BENCHMARK(BM_GaugeNeedlePicture)->Unit(benchmark::kMicrosecond)->Repetitions(7)->ReportAggregatesOnly(true);

// One paint of a hot 75 x 25 button with a caption: square frames (argument 0) or rounded ones
// (argument 1), whose rings are worked out pixel by pixel at every paint.
void BM_FlatButtonHotPicture(benchmark::State &state)
{
    QWidget window;
    window.resize(120, 60);
    auto *button = new TkwFlatBtn(&window);
    button->setGeometry(10, 10, 75, 25);
    button->setCaption(QStringLiteral("&Play"));
    button->setElliptic(state.range(0) != 0);
    window.show();
    QCoreApplication::processEvents();
    const QPointF inside(30, 12);
    QEnterEvent enter(inside, button->mapToGlobal(inside), button->mapToGlobal(inside));
    QCoreApplication::sendEvent(button, &enter);
    for (auto _ : state)
        benchmark::DoNotOptimize(button->RenderImage());
}
BENCHMARK(BM_FlatButtonHotPicture)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char **argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
