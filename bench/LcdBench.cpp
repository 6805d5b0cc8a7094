// The position display's costs: a rebuild for a new position, and the timer tick that finds
// the position unchanged. Part of build/tamblo_bench_controls.
#include "base/Component.h"
#include "controls/ZintarLiquidIndicator.h"
#include "fixtures/MainDisplay.h"
#include "tests/common/PaintCounter.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>
#include <benchmark/benchmark.h>
#include <vector>

namespace {

// The main window's display, configured as the window's description does.
struct MainWindowDisplay {
    MainWindowDisplay()
    {
        window.resize(300, 120);
        lcd = MakeMainDisplay(&window, QRect(88, 72, 120, 30));
    }
    // Shown and painted, its paints counted from now on.
    void Show(PaintCounter &counter)
    {
        window.show();
        for (int k = 0; k < 3; ++k)
            QCoreApplication::processEvents();
        lcd->installEventFilter(&counter);
    }
    QWidget window;
    TZintarLiquidIndicator *lcd = nullptr;
};

// Six-digit positions as the 10 ms timer produces them.
std::vector<QString> Positions()
{
    std::vector<QString> texts;
    for (int ms = 100000; ms < 110000; ms += 10)
        texts.push_back(QString::number(ms).right(6));
    return texts;
}

void BM_LcdRebuildImage(benchmark::State &state)
{
    MainWindowDisplay display;
    const std::vector<QString> texts = Positions();
    size_t i = 0;
    for (auto _ : state) {
        // A new text: stored, then RebuildImage and an invalidate of the hidden control.
        display.lcd->setIndicatorstring(texts[i]);
        i = (i + 1) % texts.size();
    }
    benchmark::DoNotOptimize(display.lcd->Image().constBits());
}
BENCHMARK(BM_LcdRebuildImage)->Unit(benchmark::kMicrosecond)->Repetitions(7)->ReportAggregatesOnly(true);

// A new position on a shown window, as the tick gives it: rebuilt, painted and sent to the
// screen (under an X server, the whole cost of the display at each tick).
void BM_LcdShownNewText(benchmark::State &state)
{
    MainWindowDisplay display;
    PaintCounter counter;
    display.Show(counter);
    const std::vector<QString> texts = Positions();
    size_t i = 0;
    for (auto _ : state) {
        display.lcd->setIndicatorstring(texts[i]);
        i = (i + 1) % texts.size();
        QCoreApplication::processEvents();
    }
    state.counters["paints/op"] =
        benchmark::Counter(static_cast<double>(counter.paints), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_LcdShownNewText)->Unit(benchmark::kMicrosecond)->Repetitions(7)->ReportAggregatesOnly(true);

// The timer tick that sets the text the display already shows, on a shown window.
void BM_LcdSameText(benchmark::State &state)
{
    MainWindowDisplay display;
    PaintCounter counter;
    display.Show(counter);
    const QString same = display.lcd->Indicatorstring();
    const qint64 picture = display.lcd->Image().cacheKey();
    for (auto _ : state)
        display.lcd->setIndicatorstring(same);
    QCoreApplication::processEvents();
    state.counters["paints/op"] =
        benchmark::Counter(static_cast<double>(counter.paints), benchmark::Counter::kAvgIterations);
    state.counters["rebuilt"] = display.lcd->Image().cacheKey() != picture;
}
BENCHMARK(BM_LcdSameText)->Unit(benchmark::kNanosecond)->Repetitions(7)->ReportAggregatesOnly(true);

} // namespace
