// tamblo_screenshot SOUND OUTPUT.png: the real window, a few seconds into recording SOUND onto
// GSM1 against the device simulator, grabbed from the X display into a PNG file. Run through
// scripts/make-screenshot, which gives it a virtual display and a sample sound.

#include "app/TApplication.h"
#include "tests/e2e/RecorderHarness.h"
#include "ui_TForm1.h"

#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <cstdio>

namespace {

// Far enough into the sound that the display and the gauge have something to show.
constexpr int kRecordingMs = 3400;

} // namespace

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SOUND OUTPUT.png\n", argv[0]);
        return 2;
    }
    RecorderHarness harness;
    QString error;
    if (!harness.Start(&error)) {
        std::fprintf(stderr, "tamblo_screenshot: %s\n", qPrintable(error));
        return 1;
    }
    const QString sound = QString::fromLocal8Bit(argv[1]);
    if (!harness.LoadThroughLabel(sound)) {
        std::fprintf(stderr, "tamblo_screenshot: could not load %s\n", argv[1]);
        return 1;
    }
    Ui::TForm1 &form = harness.Window().Form();
    harness.Click(form.kwFlatBtn1, true);
    if (!harness.Device().WaitForCommand(QStringLiteral("REC1"), 1, 10000)) {
        std::fprintf(stderr, "tamblo_screenshot: the device received no record command\n");
        return 1;
    }
    QTest::qWait(kRecordingMs);
    MainWindow &window = harness.Window();
    const QPixmap shot = window.screen()->grabWindow(window.winId());
    harness.Click(form.kwFlatBtn2);
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "tamblo_screenshot: could not write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
