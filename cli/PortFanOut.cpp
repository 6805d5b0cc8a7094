#include "cli/PortFanOut.h"

#include "recorder/DeviceCommands.h"
#include "serial/ComPort.h"

#include <QFile>
#include <algorithm>
#include <chrono>
#include <utility>

PortFanOut::PortFanOut(const QList<PortArgument> &ports)
{
    for (const PortArgument &argument : ports) {
        auto component = std::make_unique<TComPort>();
        component->setBaud(LineBaud);
        // There is nobody to ask: every port is named on the command line.
        component->setPromptForPort(false);
        if (argument.devicePath.isEmpty())
            component->setComNumber(static_cast<std::uint16_t>(argument.comNumber));
        else
            component->setDevicePath(QFile::encodeName(argument.devicePath).toStdString());
        ports_.push_back({argument.name, std::move(component), false});
    }
}

// Closing lets what the ports accepted leave before they go.
PortFanOut::~PortFanOut() = default;

void PortFanOut::fail(const Port &port, const std::exception &error)
{
    failed_ = true;
    if (OnFailure)
        OnFailure(port.name, QString::fromLocal8Bit(error.what()));
}

bool PortFanOut::Open()
{
    bool any = false;
    for (Port &port : ports_) {
        try {
            port.component->setOpen(true);
            port.open = true;
            any = true;
        } catch (const std::exception &error) {
            fail(port, error);
        }
    }
    return any;
}

void PortFanOut::SendText(const std::string &text)
{
    QStringList took;
    for (Port &port : ports_) {
        if (!port.open)
            continue;
        try {
            port.component->SendText(text);
            took << port.name;
        } catch (const std::exception &error) {
            fail(port, error);
        }
    }
    const QString command = QString::fromStdString(text).trimmed();
    delivered_ = took;
    if (took.isEmpty())
        throw ENoPortTook("no port took " + command.toStdString());
    pending_ = command;
}

std::vector<LineTrouble> PortFanOut::WaitSent(int timeoutMs)
{
    // The ports drain side by side: the wait is the slowest one's, not their sum.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<LineTrouble> troubles;
    QStringList undelivered;
    for (Port &port : ports_) {
        if (!port.open)
            continue;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        const TComPort::SendState state = port.component->WaitSent(int(std::max<std::int64_t>(left.count(), 0)));
        port.stalled = state == TComPort::SendState::Pending;
        if (state == TComPort::SendState::Delivered)
            continue;
        troubles.push_back({port.name, port.stalled ? LineTrouble::Stalled : LineTrouble::Gone});
        if (delivered_.removeAll(port.name) > 0)
            undelivered << port.name;
    }
    if (!troubles.empty())
        failed_ = true;
    // Each port that took the command hears of it once: its bytes left, or they did not.
    const QString command = std::exchange(pending_, QString());
    if (!command.isEmpty() && !delivered_.isEmpty() && OnSent)
        OnSent(command, delivered_);
    if (!command.isEmpty() && !undelivered.isEmpty() && OnNotDelivered)
        OnNotDelivered(command, undelivered);
    return troubles;
}

std::vector<QString> PortFanOut::LostLines()
{
    std::vector<QString> lost;
    for (Port &port : ports_) {
        if (port.open && port.component->LineGone()) {
            port.open = false;
            lost.push_back(port.name);
        }
    }
    if (!lost.empty())
        failed_ = true;
    return lost;
}

bool PortFanOut::AnyLineLeft() const
{
    return std::any_of(ports_.begin(), ports_.end(),
                       [](const Port &port) { return port.open && !port.stalled && !port.component->LineGone(); });
}

void PortFanOut::setCrashText(const std::string &text)
{
    for (Port &port : ports_) {
        if (port.open)
            port.component->setCrashText(text);
    }
}
