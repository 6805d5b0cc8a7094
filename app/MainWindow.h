#pragma once

#include "app/DesktopPlatform.h"
#include "app/FormAdapters.h"
#include "app/TForm1.h"
#include "app/TOpenDialog.h"
#include "media/OutputWatch.h"
#include "recorder/OutputPart.h"

#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

namespace Ui {
class TForm1;
}

// The main window: built from its stored description, it owns every component and routes
// their events to the recording controller.
class MainWindow : public QWidget, private PictureOps, private WindowOps {
    Q_OBJECT
public:
    // `output`: the sound output chosen when the program started (empty: the server's default).
    explicit MainWindow(QWidget *parent = nullptr, const std::string &output = OutputWatch::ChoiceFromEnvironment());
    ~MainWindow() override;

    // The components, for the end-to-end tests that drive the window as an operator would.
    Ui::TForm1 &Form() { return *ui_; }
    TComPort &ComPort1() { return *comPort_; }
    TOpenDialog &OpenDialog1() { return openDialog_; }
    QTimer &Timer1() { return timer_; }

    // Stops a recording in progress and tells the device, as closing the window does.
    void StopRecordingForExit();
    // A termination signal: every event loop ends, modal boxes included, a recording in progress
    // is stopped first, and the program exits with 128 + the signal's number.
    void EndBySignal(int signalNumber);
    // Ctrl-Z: a recording in progress is stopped before `stopProcess` stops the program; what went
    // wrong is shown once it runs again.
    void Suspend(const std::function<void()> &stopProcess);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void setTransparent(bool transparent) override;
    void Close() override;

    void finishLoading();
    void connectEvents();
    // Runs a handler; what it raises goes to the application's error box.
    void dispatch(void (TForm1::*handler)());
    // Adds a recording that ended since the last call to the history, with the status the process
    // ends with where that is known.
    void keepHistory(std::optional<int> exitStatus = std::nullopt);

    std::unique_ptr<Ui::TForm1> ui_;
    TOpenDialog openDialog_;
    QTimer timer_;
    std::unique_ptr<TComPort> comPort_;
    bool imageTransparent_ = false;

    DesktopPlatform platform_;
    std::unique_ptr<ComPortAdapter> serialOps_;
    std::unique_ptr<MediaPlayerAdapter> playerOps_;
    std::unique_ptr<OpenDialogAdapter> dialogOps_;
    std::unique_ptr<TimerAdapter> timerOps_;
    std::unique_ptr<GaugeAdapter> gauge1Ops_;
    std::unique_ptr<GaugeAdapter> gauge2Ops_;
    std::unique_ptr<PositionDisplayAdapter> displayOps_;
    std::unique_ptr<LabelAdapter> recGsm1Ops_;
    std::unique_ptr<LabelAdapter> recGsm2Ops_;
    std::unique_ptr<LabelAdapter> fnameOps_;
    std::unique_ptr<LabelAdapter> labelLengthOps_;
    std::unique_ptr<LabelAdapter> panelOps_;
    OutputWatch outputWatch_;
    std::unique_ptr<OutputPart> outputOps_;
    std::uint32_t kept_ = 0; // the recordings in the history
    bool historyFailed_ = false;
    std::unique_ptr<Recorder> recorder_;
    std::unique_ptr<TForm1> form_;
};
