#pragma once

#include "serial/Dispatcher.h"

#include <memory>
#include <string>

// The native device layer over a tty (selected by the port component's dlWin32).
class TWin32Dispatcher : public TBaseDispatcher {
public:
    explicit TWin32Dispatcher(TCustomComPort *owner);
    ~TWin32Dispatcher() override;

    int DeviceEscape(int function) override;
    int DevicePurge(unsigned directions) override;
    std::uint32_t DeviceStatus(LineStatus &status) override;
    int DeviceGetState(LineSettings &line) override;
    int DeviceRead(std::uint8_t *buffer, std::size_t count) override;
    int DeviceSetState(const LineSettings &line) override;
    bool DeviceSetBuffers(std::uint32_t inSize, std::uint32_t outSize) override;
    int DeviceOpen(const std::string &name, std::uint32_t inSize, std::uint32_t outSize) override;
    int DeviceClose() override;
    int DeviceWrite(const std::uint8_t *data, std::size_t count) override;
    int DeviceWaitWritable(SyncEvent &interrupt) override;
    int DeviceSetMask(std::uint32_t mask) override;
    int DeviceWaitEvent(std::uint32_t &events) override;
    std::uint32_t DeviceModemStatus() override;
    std::uint32_t DeviceOutputQueued() override;
    int LastSystemError() const override { return lastError_; }
    std::string DeviceHolder() const override { return Device.Holder(); }

protected:
    SerialDevice Device;
    int lastError_ = 0;
    // The read record's event and the spare one, made with the device.
    std::unique_ptr<SyncEvent> readEvent_;
    std::unique_ptr<SyncEvent> spareEvent_;
};

// A device handed over by a telephony line: the descriptor is adopted, not opened.
class TTapi32Dispatcher : public TWin32Dispatcher {
public:
    TTapi32Dispatcher(TCustomComPort *owner, int handle);
    int DeviceOpen(const std::string &name, std::uint32_t inSize, std::uint32_t outSize) override;

private:
    int handle_;
};
