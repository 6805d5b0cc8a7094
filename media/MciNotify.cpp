#include "media/MciNotify.h"

#include <QCoreApplication>

MciNotifyEvent::MciNotifyEvent(unsigned flags, MCIDEVICEID device, MCIERROR error)
    : QEvent(EventType()),
      flags_(flags),
      device_(device),
      error_(error)
{}

QEvent::Type MciNotifyEvent::EventType()
{
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void PostMciNotify(QObject *target, unsigned flags, MCIDEVICEID device, MCIERROR error)
{
    if (target != nullptr)
        QCoreApplication::postEvent(target, new MciNotifyEvent(flags, device, error));
}
