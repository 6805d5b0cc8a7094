// Drawing costs of the display controls. Run: build/tamblo_bench_controls
#include "controls/Gauges.h"
#include "tests/common/PaintCounter.h"

#include <QApplication>
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
