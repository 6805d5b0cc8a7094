#pragma once

#include "recorder/RecorderParts.h"

class QWidget;

// The platform services of the controller on this desktop: the sound output count, a blocking
// pause, and a modal message box.
class DesktopPlatform : public PlatformOps {
public:
    unsigned waveOutGetNumDevs() override;
    void Sleep(unsigned milliseconds) override;
    void ShowMessage(const QString &text) override;
};
