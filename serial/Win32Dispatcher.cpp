#include "serial/Win32Dispatcher.h"

#include "serial/SystemErrors.h"

TWin32Dispatcher::TWin32Dispatcher(TCustomComPort *owner) : TBaseDispatcher(owner) {}

TWin32Dispatcher::~TWin32Dispatcher() { Shutdown(); }

int TWin32Dispatcher::DeviceOpen(const std::string &name, std::uint32_t, std::uint32_t)
{
    lastError_ = Device.Open(name);
    if (lastError_ != 0)
        return -1;
    readEvent_ = std::make_unique<SyncEvent>(SyncEvent::ManualReset);
    spareEvent_ = std::make_unique<SyncEvent>(SyncEvent::ManualReset);
    if (!readEvent_->IsValid() || !spareEvent_->IsValid()) {
        readEvent_.reset();
        spareEvent_.reset();
        Device.Close();
        return -SystemError::NotEnoughMemory;
    }
    return Device.Descriptor();
}

int TWin32Dispatcher::DeviceClose()
{
    readEvent_.reset();
    spareEvent_.reset();
    return Device.Close() == 0 ? 0 : -1;
}

int TWin32Dispatcher::DeviceEscape(int function)
{
    Device.Escape(function);
    return 0;
}

int TWin32Dispatcher::DevicePurge(unsigned directions)
{
    const int error = Device.Purge(directions);
    return error == 0 ? 0 : -error;
}

std::uint32_t TWin32Dispatcher::DeviceStatus(LineStatus &status)
{
    std::uint32_t errors = 0;
    if (Device.ClearError(status, errors) != 0)
        status = LineStatus{};
    status.cbOutQue = OutputRingCount();
    return errors;
}

int TWin32Dispatcher::DeviceGetState(LineSettings &line) { return Device.GetState(line) == 0 ? 0 : -1; }

int TWin32Dispatcher::DeviceRead(std::uint8_t *buffer, std::size_t count)
{
    const int got = Device.Read(buffer, count);
    return got > 0 ? got : 0;
}

int TWin32Dispatcher::DeviceSetState(const LineSettings &line)
{
    const int error = Device.SetState(line);
    return error == 0 ? 0 : -error;
}

bool TWin32Dispatcher::DeviceSetBuffers(std::uint32_t, std::uint32_t)
{
    // A tty's queues have the driver's fixed sizes; there is nothing to ask for.
    if (!Device.IsOpen()) {
        lastError_ = SystemError::InvalidHandle;
        return false;
    }
    return true;
}

int TWin32Dispatcher::DeviceWrite(const std::uint8_t *data, std::size_t count) { return Device.Write(data, count); }

int TWin32Dispatcher::DeviceWaitWritable(SyncEvent &interrupt) { return Device.WaitWritable(interrupt); }

int TWin32Dispatcher::DeviceSetMask(std::uint32_t mask) { return Device.SetMask(mask); }

int TWin32Dispatcher::DeviceWaitEvent(std::uint32_t &events) { return Device.WaitEvent(events); }

std::uint32_t TWin32Dispatcher::DeviceModemStatus() { return Device.ModemStatus(); }

std::uint32_t TWin32Dispatcher::DeviceOutputQueued() { return Device.OutputQueued(); }

// The handle is taken over at once, so that its line settings can be read before the open.
TTapi32Dispatcher::TTapi32Dispatcher(TCustomComPort *owner, int handle) : TWin32Dispatcher(owner), handle_(handle)
{
    if (handle_ != 0)
        lastError_ = Device.Adopt(handle_);
}

int TTapi32Dispatcher::DeviceOpen(const std::string &, std::uint32_t, std::uint32_t)
{
    if (handle_ == 0)
        return SerialResult::CommNotOpen;
    if (!Device.IsOpen())
        return -1;
    readEvent_ = std::make_unique<SyncEvent>(SyncEvent::ManualReset);
    spareEvent_ = std::make_unique<SyncEvent>(SyncEvent::ManualReset);
    if (!readEvent_->IsValid() || !spareEvent_->IsValid())
        return -SystemError::NotEnoughMemory;
    return handle_;
}
