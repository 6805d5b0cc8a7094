#include "serial/ComPort.h"

// The port component's side of the dispatcher's notifications: the messages its hidden window
// receives and the events they fire.

void TCustomComPort::WindowProc(std::uint16_t msg, std::uint16_t wParam, std::int32_t lParam)
{
    if (destroying_)
        return;
    const auto data = static_cast<std::uint16_t>(lParam & 0xFFFF);
    switch (msg) {
    case NotifyAvail:
        TriggerHandler(msg, wParam, wParam);
        TriggerAvail(wParam);
        break;
    case NotifyData:
        TriggerHandler(msg, wParam, data);
        TriggerData(wParam);
        break;
    case NotifyTimer:
        TriggerHandler(msg, wParam, data);
        TriggerTimer(wParam);
        break;
    case NotifyStatus:
        TriggerHandler(msg, wParam, data);
        TriggerStatus(wParam);
        switch (wParam & 7) {
        case StatusModem: TriggerModemStatus(); break;
        case StatusLineError: {
            const std::uint16_t error = PendingLineError();
            TriggerLineError(error, BreakReceived());
            break;
        }
        case StatusOutbuffFree: TriggerOutbuffFree(); break;
        case StatusOutbuffUsed: TriggerOutbuffUsed(); break;
        case StatusOutSent: TriggerOutSent(); break;
        default: break;
        }
        break;
    case NotifyClosePending:
        TriggerHandler(msg, wParam, data);
        ClosePendingArrived(lParam);
        break;
    default: break;
    }
}

void TCustomComPort::TriggerHandler(std::uint16_t msg, std::uint16_t triggerHandle, std::uint16_t data)
{
    if (auto handler = onTrigger_)
        handler(this, msg, triggerHandle, data);
}

void TCustomComPort::TriggerAvail(std::uint16_t count)
{
    if (auto handler = onTriggerAvail_)
        handler(this, count);
}

void TCustomComPort::TriggerData(std::uint16_t triggerHandle)
{
    if (auto handler = onTriggerData_)
        handler(this, triggerHandle);
}

void TCustomComPort::TriggerStatus(std::uint16_t triggerHandle)
{
    if (auto handler = onTriggerStatus_)
        handler(this, triggerHandle);
}

void TCustomComPort::TriggerTimer(std::uint16_t triggerHandle)
{
    if (auto handler = onTriggerTimer_)
        handler(this, triggerHandle);
}

void TCustomComPort::TriggerLineError(std::uint16_t error, bool lineBreak)
{
    if (auto handler = onTriggerLineError_)
        handler(this, error, lineBreak);
}

void TCustomComPort::TriggerModemStatus()
{
    if (auto handler = onTriggerModemStatus_)
        handler(this);
}

void TCustomComPort::TriggerOutbuffFree()
{
    if (auto handler = onTriggerOutbuffFree_)
        handler(this);
}

void TCustomComPort::TriggerOutbuffUsed()
{
    if (auto handler = onTriggerOutbuffUsed_)
        handler(this);
}

void TCustomComPort::TriggerOutSent()
{
    if (auto handler = onTriggerOutSent_)
        handler(this);
}

bool TCustomComPort::AnyTriggerEventAssigned() const
{
    return onTrigger_ || onTriggerAvail_ || onTriggerData_ || onTriggerStatus_ || onTriggerTimer_ || onTriggerLineError_
           || onTriggerModemStatus_ || onTriggerOutbuffFree_ || onTriggerOutbuffUsed_ || onTriggerOutSent_;
}

void TCustomComPort::UpdateHandlerMode()
{
    if (IsPortOpen())
        dispatcher_->SetHandlerMode(AnyTriggerEventAssigned() ? 1 : 2);
}

void TCustomComPort::setOnTrigger(TTriggerEvent handler)
{
    onTrigger_ = std::move(handler);
    UpdateHandlerMode();
}

void TCustomComPort::setOnTriggerAvail(TTriggerAvailEvent handler)
{
    onTriggerAvail_ = std::move(handler);
    UpdateHandlerMode();
}

void TCustomComPort::setOnTriggerData(TTriggerDataEvent handler)
{
    onTriggerData_ = std::move(handler);
    UpdateHandlerMode();
}

void TCustomComPort::setOnTriggerStatus(TTriggerStatusEvent handler)
{
    onTriggerStatus_ = std::move(handler);
    UpdateHandlerMode();
}

void TCustomComPort::setOnTriggerTimer(TTriggerTimerEvent handler)
{
    onTriggerTimer_ = std::move(handler);
    UpdateHandlerMode();
}

void TCustomComPort::setOnTriggerLineError(TTriggerLineErrorEvent handler)
{
    onTriggerLineError_ = std::move(handler);
    UpdateHandlerMode();
}

void TCustomComPort::setOnTriggerModemStatus(TNotifyEvent handler)
{
    onTriggerModemStatus_ = std::move(handler);
    UpdateHandlerMode();
}

void TCustomComPort::setOnTriggerOutbuffFree(TNotifyEvent handler)
{
    onTriggerOutbuffFree_ = std::move(handler);
    UpdateHandlerMode();
}

void TCustomComPort::setOnTriggerOutbuffUsed(TNotifyEvent handler)
{
    onTriggerOutbuffUsed_ = std::move(handler);
    UpdateHandlerMode();
}

void TCustomComPort::setOnTriggerOutSent(TNotifyEvent handler)
{
    onTriggerOutSent_ = std::move(handler);
    UpdateHandlerMode();
}
