#pragma once

#include "app/FormParts.h"

#include <QString>
#include <cstdint>
#include <exception>
#include <string>

// Which channel the tick follows. Program-wide, not per window: a record button sets one and
// clears the other; nothing else writes them.
extern bool ActiveGSM1;
extern bool ActiveGSM2;

// The recording controller: the main window's event handlers. It turns clicks into device
// commands, player calls and display updates, and timer ticks into the live position display
// and the automatic end of a recording.
class TForm1 {
public:
    static constexpr TColor RecordingColour = 255;
    static constexpr TColor NormalColour = clGradientActiveCaption;
    static constexpr std::int32_t RecordLimitMs = 10000;
    static constexpr unsigned EraseStepPauseMs = 30;
    // Timer1's interval; its ticks must come on time (a precise timer).
    static constexpr int TimerIntervalMs = 10;

    explicit TForm1(const FormParts &parts) : parts_(parts) {}

    void kwFlatBtn1Click(); // record to GSM1
    void kwFlatBtn3Click(); // record to GSM2
    void kwFlatBtn2Click(); // stop
    void kwFlatBtn6Click(); // erase all records
    void kwFlatBtn4Click(); // list sound files to load
    void FnameClick();      // load through the file-name label
    void kwFlatBtn5Click(); // exit
    void Timer1Timer();
    void FormCreate();
    void FormClose();

    // "7.350 sec." for 7350 ms, "5.030 sec." for 5030 ms: seconds, ".", three digits of milliseconds, " sec.".
    static QString LengthText(std::int32_t lengthMs);
    // position / 100, rounded half to even.
    static int GaugeValue(std::int32_t positionMs);
    // Why a sound file that opened is refused: it has no length, so it would never end a recording.
    static std::string EmptyFileMessage(const QString &fileName);

private:
    void loadSoundFile(bool stopRecordingFirst);
    void record(const std::string &command, bool gsm1);
    void resetLabelColours();
    std::exception_ptr stopPlayback();
    void stopRecording();
    void stopRecordingOnExit();
    QString lengthText(std::int32_t &length);

    FormParts parts_;
};
