#include "app/MainWindow.h"

#include "app/JpegImage.h"
#include "base/Component.h"
#include "base/Exception.h"
#include "base/ExceptionSink.h"
#include "recorder/DeviceCommands.h"
#include "recorder/RecordingHistory.h"
#include "serial/PortInventory.h"
#include "ui_TForm1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>

namespace {

QPixmap backgroundPicture()
{
    QFile file(QStringLiteral(":/background.jpg"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QPixmap::fromImage(DecodeJpeg(file.readAll()));
}

} // namespace

MainWindow::MainWindow(QWidget *parent, const std::string &output)
    : QWidget(parent),
      ui_(std::make_unique<Ui::TForm1>()),
      openDialog_(this)
{
    // The pictures are compiled into this library; a static link needs them registered by hand.
    Q_INIT_RESOURCE(tamblo);
    {
        FormLoadingScope loading;
        ui_->setupUi(this);
        // uic builds widgets only, so the port component, which has no window, is described here: it
        // gets its stored setting through the property system while loading, as the others do.
        comPort_ = std::make_unique<TComPort>();
        comPort_->setObjectName(QStringLiteral("ComPort1"));
        comPort_->setProperty("Baud", LineBaud);
    }
    // A fixed-size window with a system menu, a close box and a minimise box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(403, 155);
    move(207, 111);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, ToQColor(clBtnFace));
    colours.setColor(QPalette::WindowText, ToQColor(clWindowText));
    setPalette(colours);
    ui_->Image1->setPixmap(backgroundPicture());

    openDialog_.setFilter(QStringLiteral("wav|*.wav|midi|*.mid|mp3|*.mp3|rmi|*.rmi"));
    openDialog_.setInitialDir(QStringLiteral("vesk"));
    timer_.setInterval(Recorder::TimerIntervalMs);
    timer_.setTimerType(Qt::PreciseTimer);
    ui_->MediaPlayer1->setDisplay(ui_->Panel1);

    finishLoading();

    serialOps_ = std::make_unique<ComPortAdapter>(*comPort_);
    playerOps_ = std::make_unique<MediaPlayerAdapter>(*ui_->MediaPlayer1);
    dialogOps_ = std::make_unique<OpenDialogAdapter>(openDialog_);
    timerOps_ = std::make_unique<TimerAdapter>(timer_);
    gauge1Ops_ = std::make_unique<GaugeAdapter>(*ui_->Gauge1);
    gauge2Ops_ = std::make_unique<GaugeAdapter>(*ui_->Gauge2);
    displayOps_ = std::make_unique<PositionDisplayAdapter>(*ui_->LCDPosition);
    recGsm1Ops_ = std::make_unique<LabelAdapter>(*ui_->RecGSM1);
    recGsm2Ops_ = std::make_unique<LabelAdapter>(*ui_->RecGSM2);
    fnameOps_ = std::make_unique<LabelAdapter>(*ui_->Fname);
    labelLengthOps_ = std::make_unique<LabelAdapter>(*ui_->LabelLength);
    panelOps_ = std::make_unique<LabelAdapter>(*ui_->Panel1);
    outputWatch_.setChoice(output);
    outputOps_ = std::make_unique<OutputPart>(outputWatch_);
    recorder_ = std::make_unique<Recorder>(RecorderParts{*serialOps_, *playerOps_, *timerOps_, *gauge1Ops_, *gauge2Ops_,
                                                         *displayOps_, *recGsm1Ops_, *recGsm2Ops_, *fnameOps_,
                                                         *labelLengthOps_, *panelOps_, platform_, *outputOps_});
    PictureOps &image = *this;
    WindowOps &window = *this;
    form_ = std::make_unique<TForm1>(*recorder_, *dialogOps_, image, window);
    connectEvents();
    // The sound card check runs once the components are loaded, before the window is shown; so
    // does the search for the chosen sound output, which every load repeats until it is found.
    dispatch(&TForm1::FormCreate);
    RunAtBoundary([this] { outputOps_->Choose(); });
}

MainWindow::~MainWindow()
{
    // Stop the ticks before the components they read go away.
    timer_.stop();
}

void MainWindow::finishLoading()
{
    for (QObject *child : findChildren<QObject *>()) {
        if (auto *component = dynamic_cast<TComponent *>(child))
            component->FinishLoading();
    }
    comPort_->FinishLoading();
}

void MainWindow::connectEvents()
{
    const std::pair<TkwFlatBtn *, void (TForm1::*)()> clicks[] = {
        {ui_->kwFlatBtn1, &TForm1::kwFlatBtn1Click}, {ui_->kwFlatBtn2, &TForm1::kwFlatBtn2Click},
        {ui_->kwFlatBtn3, &TForm1::kwFlatBtn3Click}, {ui_->kwFlatBtn4, &TForm1::kwFlatBtn4Click},
        {ui_->kwFlatBtn5, &TForm1::kwFlatBtn5Click}, {ui_->kwFlatBtn6, &TForm1::kwFlatBtn6Click},
    };
    for (const auto &[button, handler] : clicks)
        connect(button, &TkwFlatBtn::OnClick, this, [this, handler = handler] { dispatch(handler); });
    connect(ui_->Fname, &TLabel::OnClick, this, [this] { dispatch(&TForm1::FnameClick); });
    connect(&timer_, &QTimer::timeout, this, [this] { dispatch(&TForm1::Timer1Timer); });
}

void MainWindow::StopRecordingForExit() { dispatch(&TForm1::FormClose); }

void MainWindow::EndBySignal(int signalNumber)
{
    // Ends the nested loops of open dialogs and boxes too, and makes any new one return at once,
    // so nothing that follows can hold the exit up.
    QCoreApplication::exit(128 + signalNumber);
    RunAtBoundary([this] { recorder_->Leave(StopReason::Signal); });
    keepHistory(128 + signalNumber);
    close();
}

void MainWindow::Suspend(const std::function<void()> &stopProcess)
{
    std::exception_ptr failure;
    if (recorder_->Recording()) {
        try {
            recorder_->Stop(StopReason::Suspend);
        } catch (const std::exception &) {
            failure = std::current_exception();
        }
    }
    keepHistory();
    stopProcess();
    if (failure)
        RunAtBoundary([&failure] { std::rethrow_exception(failure); });
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    dispatch(&TForm1::FormClose);
    event->accept();
}

// A JPEG is drawn opaque whatever this says; the flag is kept for what the picture shows next.
void MainWindow::setTransparent(bool transparent) { imageTransparent_ = transparent; }

void MainWindow::Close() { close(); }

void MainWindow::dispatch(void (TForm1::*handler)())
{
    // The history is written before an error box holds the handler up.
    RunAtBoundary([this, handler] {
        try {
            (form_.get()->*handler)();
        } catch (const std::exception &) {
            keepHistory();
            throw;
        }
        keepHistory();
    });
}

void MainWindow::keepHistory(std::optional<int> exitStatus)
{
    const RecordingEnd &end = recorder_->LastEnd();
    if (end.number == kept_)
        return;
    kept_ = end.number;
    RecordingEntry entry = RecordingHistory::EntryOf(end);
    if (exitStatus)
        entry.exitStatus = *exitStatus;
    const std::string &path = comPort_->DevicePath();
    const PortDetails port = DescribeHeldPort(comPort_->ComNumber(), path);
    entry.port = path.empty() ? "COM" + std::to_string(comPort_->ComNumber()) : path;
    entry.device = port.Device;
    entry.usbSerial = port.UsbSerial;
    std::string error;
    // Told once: a history that cannot be written now will not be written on the next recording either.
    if (!RecordingHistory().Append(entry, &error) && !std::exchange(historyFailed_, true))
        HandleApplicationException(Exception("The recording was not added to the history: " + error));
}
