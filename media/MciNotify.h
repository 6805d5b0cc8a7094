#pragma once

#include "media/MciDefs.h"

#include <QEvent>

class QObject;

// The completion notice of a command sent with MCI_NOTIFY, posted to the command's callback
// object and delivered on that object's thread by its event loop.
class MciNotifyEvent : public QEvent {
public:
    MciNotifyEvent(unsigned flags, MCIDEVICEID device, MCIERROR error = 0);

    static QEvent::Type EventType();
    // MCI_NOTIFY_SUCCESSFUL, _SUPERSEDED, _ABORTED or _FAILURE.
    unsigned Flags() const { return flags_; }
    MCIDEVICEID Device() const { return device_; }
    // Why a command failed after it had returned (a play that met a damaged file); else 0.
    MCIERROR Error() const { return error_; }

private:
    unsigned flags_;
    MCIDEVICEID device_;
    MCIERROR error_;
};

// Posts a notice to target; nothing when target is null. Safe from any thread.
void PostMciNotify(QObject *target, unsigned flags, MCIDEVICEID device, MCIERROR error = 0);
