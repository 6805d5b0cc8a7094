#pragma once

#include "recorder/Recorder.h"

// What the window needs beyond the recorder's parts: the open dialog, the picture and itself.
class OpenDialogOps {
public:
    virtual ~OpenDialogOps() = default;
    // Runs the dialog modally; true when the operator chose a file.
    virtual bool Execute() = 0;
    // The full path of the chosen file.
    virtual QString FileName() const = 0;
};

class PictureOps {
public:
    virtual ~PictureOps() = default;
    virtual void setTransparent(bool transparent) = 0;
};

class WindowOps {
public:
    virtual ~WindowOps() = default;
    virtual void Close() = 0;
};

// The main window's event handlers: each turns a click, a tick or the window's start and close
// into the recorder's verb.
class TForm1 {
public:
    TForm1(Recorder &recorder, OpenDialogOps &openDialog, PictureOps &image, WindowOps &window)
        : recorder_(recorder),
          OpenDialog1(openDialog),
          Image1(image),
          Window(window)
    {}

    void kwFlatBtn1Click() { recorder_.Record(1); }
    void kwFlatBtn3Click() { recorder_.Record(2); }
    void kwFlatBtn2Click() { recorder_.Stop(); }
    void kwFlatBtn6Click() { recorder_.Erase(); }
    // The list button stops a recording in progress once a file is chosen; the file-name label does not.
    void kwFlatBtn4Click() { load(true); }
    void FnameClick() { load(false); }
    void kwFlatBtn5Click();
    void Timer1Timer() { recorder_.Tick(); }
    void FormCreate();
    void FormClose() { recorder_.Leave(); }

private:
    void load(bool stopRecordingFirst);

    Recorder &recorder_;
    OpenDialogOps &OpenDialog1;
    PictureOps &Image1;
    WindowOps &Window;
};
