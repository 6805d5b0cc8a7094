#include "fixtures/MainDisplay.h"
#include "tests/e2e/RecorderHarness.h"

#include "app/TLabel.h"
#include "controls/Gauges.h"
#include "controls/ZintarLiquidIndicator.h"
#include "controls/kwFltBtn.h"
#include "media/MediaPlayer.h"
#include "ui_TForm1.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class Window : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(harness.Start(&error)) << error.toStdString();
    }
    MainWindow &window() { return harness.Window(); }
    Ui::TForm1 &form() { return harness.Window().Form(); }

    RecorderHarness harness;
};

TEST_F(Window, FixedSizeWithMinimiseButNoMaximise)
{
    EXPECT_EQ(window().windowTitle(), QStringLiteral("Tamblo"));
    EXPECT_EQ(window().size(), QSize(403, 155));
    EXPECT_EQ(window().minimumSize(), window().maximumSize());
    const Qt::WindowFlags flags = window().windowFlags();
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(window().windowIcon().isNull());
}

TEST_F(Window, ThePortComponentIsLoadedWithItsStoredSpeedAndOtherwiseDefaults)
{
    TComPort &port = window().ComPort1();
    EXPECT_EQ(port.objectName(), QStringLiteral("ComPort1"));
    EXPECT_FALSE(port.IsLoading());
    EXPECT_EQ(port.Baud(), 9600);
    EXPECT_EQ(port.ComNumber(), 0);
    EXPECT_TRUE(port.PromptForPort());
    EXPECT_TRUE(port.AutoOpen());
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.TraceName(), "SERIAL.TRC");
    EXPECT_EQ(port.LogName(), "SERIAL.LOG");
}

// The display the tests, benchmarks and gallery build without the window is the window's own.
TEST_F(Window, ThePositionDisplayFixtureMatchesTheDescription)
{
    TZintarLiquidIndicator *windowDisplay = form().LCDPosition;
    QWidget host;
    TZintarLiquidIndicator *fixture = MakeMainDisplay(&host, windowDisplay->geometry());
    const QMetaObject &meta = TZintarLiquidIndicator::staticMetaObject;
    int compared = 0;
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) {
        const QMetaProperty property = meta.property(i);
        if (!property.isStored())
            continue;
        EXPECT_EQ(property.read(fixture), property.read(windowDisplay)) << property.name();
        ++compared;
    }
    EXPECT_GT(compared, 15);
}

TEST_F(Window, ControlsSitWhereTheDescriptionPutsThem)
{
    const std::pair<QWidget *, QRect> places[] = {
        {form().Image1, {0, 0, 401, 153}},         {form().kwFlatBtn1, {232, 120, 33, 25}},
        {form().kwFlatBtn2, {296, 120, 33, 25}},   {form().Gauge1, {232, 48, 25, 41}},
        {form().Gauge2, {272, 48, 25, 41}},        {form().Fname, {64, 32, 265, 13}},
        {form().kwFlatBtn4, {168, 120, 33, 25}},   {form().kwFlatBtn5, {352, 32, 33, 25}},
        {form().kwFlatBtn3, {264, 120, 33, 25}},   {form().kwFlatBtn6, {200, 120, 33, 25}},
        {form().MediaPlayer1, {336, 128, 29, 20}}, {form().Panel1, {312, 24, 17, 17}},
        {form().LCDPosition, {88, 72, 120, 30}},
    };
    for (const auto &[widget, place] : places)
        EXPECT_EQ(widget->geometry(), place) << widget->objectName().toStdString();
    // Auto-sized labels keep their left and top edges.
    EXPECT_EQ(form().LabelLength->pos(), QPoint(64, 56));
    EXPECT_EQ(form().RecGSM1->pos(), QPoint(232, 88));
    EXPECT_FALSE(form().MediaPlayer1->isVisible());
    EXPECT_EQ(form().MediaPlayer1->VisibleButtons(), 0u);
    EXPECT_EQ(form().LCDPosition->Indicatorstring(), QStringLiteral("000000"));
    EXPECT_EQ(form().Gauge1->Kind(), TGauge::gkVerticalBar);
    EXPECT_EQ(form().RecGSM1->FontColor(), clGradientActiveCaption);
}

TEST_F(Window, HintsOnTheSixButtonsAndTwoGaugesOnly)
{
    QStringList hinted;
    for (QWidget *child : window().findChildren<QWidget *>()) {
        if (!child->toolTip().isEmpty())
            hinted << child->objectName() + QLatin1Char('=') + child->toolTip();
    }
    hinted.sort();
    EXPECT_EQ(
        hinted,
        QStringList({QStringLiteral("Gauge1=Fill VESK GSM1"), QStringLiteral("Gauge2=Fill VESK GSM2"),
                     QStringLiteral("kwFlatBtn1=Record file to VESK GSM1"), QStringLiteral("kwFlatBtn2=Stop record"),
                     QStringLiteral("kwFlatBtn3=Record file to VESK GSM2"),
                     QStringLiteral("kwFlatBtn4=List sound files to load"), QStringLiteral("kwFlatBtn5=Exit program"),
                     QStringLiteral("kwFlatBtn6=Erase all records")}));
}

TEST_F(Window, OpenDialogOffersTheFourTypesFromVesk)
{
    // The folder is taken relative to the working directory.
    const bool made = !QDir::current().exists(QStringLiteral("vesk"));
    ASSERT_TRUE(QDir::current().mkpath(QStringLiteral("vesk")));
    QStringList filters;
    QString selected;
    QString directory;
    ExpectModal([&](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        if (!dialog)
            return false;
        filters = dialog->nameFilters();
        selected = dialog->selectedNameFilter();
        directory = dialog->directory().absolutePath();
        dialog->reject();
        return true;
    });
    QTest::mouseClick(form().kwFlatBtn4, Qt::LeftButton);
    EXPECT_EQ(filters, QStringList({QStringLiteral("wav (*.wav)"), QStringLiteral("midi (*.mid)"),
                                    QStringLiteral("mp3 (*.mp3)"), QStringLiteral("rmi (*.rmi)")}));
    EXPECT_EQ(selected, QStringLiteral("wav (*.wav)"));
    EXPECT_EQ(directory, QDir::current().absoluteFilePath(QStringLiteral("vesk")));
    if (made)
        QDir::current().rmdir(QStringLiteral("vesk"));
    // Cancelled: no command was sent, nothing was loaded.
    EXPECT_TRUE(harness.Device().Commands().isEmpty());
    EXPECT_EQ(form().Fname->Caption(), QStringLiteral("---------"));
}

TEST_F(Window, ExitWithNoRecordingInProgressClosesTheWindowWithoutACommand)
{
    harness.Click(form().kwFlatBtn1, true);
    ASSERT_TRUE(harness.Device().WaitForCommand(QStringLiteral("REC1"), 1, 10000));
    harness.Click(form().kwFlatBtn2);
    ASSERT_TRUE(harness.Device().WaitForCommand(QStringLiteral("REC"), 1, 10000));
    QTest::mouseClick(form().kwFlatBtn5, Qt::LeftButton);
    EXPECT_FALSE(window().isVisible());
    EXPECT_FALSE(window().Timer1().isActive());
    QTest::qWait(200);
    EXPECT_EQ(harness.Device().Commands(), QStringList({QStringLiteral("REC1"), QStringLiteral("REC")}));
}

} // namespace
