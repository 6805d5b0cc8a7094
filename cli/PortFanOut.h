#pragma once

#include "base/Exception.h"
#include "cli/PortArguments.h"
#include "recorder/RecorderParts.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TComPort;

// The controller's serial port over several port components, one per recorder, all fed the
// same commands: a rack of recorders behind one sound output. A port that fails is reported by
// its name and the others go on; only when no port takes a command does sending fail.
class PortFanOut : public SerialPortOps {
public:
    // Raised when no port took a command; each port's own failure has been reported already.
    class ENoPortTook : public Exception {
    public:
        using Exception::Exception;
    };

    explicit PortFanOut(const QList<PortArgument> &ports);
    ~PortFanOut() override;

    // Opens every port, so that a command later reaches them all at once. A port that does not
    // open is reported and left out. False when none opened.
    bool Open();
    // Queues the text on every open port; it is told as sent, or not, at the next wait.
    void SendText(const std::string &text) override;
    std::vector<LineTrouble> WaitSent(int timeoutMs) override;
    // A port whose line hung up is named once and takes no more commands.
    std::vector<QString> LostLines() override;
    // Whether a port is left that neither hung up nor stopped taking data at the last wait.
    bool AnyLineLeft() const override;
    void setCrashText(const std::string &text) override;
    // Whether any port failed so far.
    bool AnyFailed() const { return failed_; }
    // The ports that took the latest command and, once waited for, delivered it.
    const QStringList &Delivered() const { return delivered_; }

    // A port failed: its name and the error text.
    std::function<void(const QString &port, const QString &message)> OnFailure;
    // Once waited for: a command left for these ports, or did not leave for those.
    std::function<void(const QString &command, const QStringList &ports)> OnSent;
    std::function<void(const QString &command, const QStringList &ports)> OnNotDelivered;

private:
    struct Port {
        QString name;
        std::unique_ptr<TComPort> component;
        bool open = false;
        bool stalled = false; // at the latest wait
    };
    void fail(const Port &port, const std::exception &error);

    std::vector<Port> ports_;
    // The latest command, until its wait has told what became of it.
    QString pending_;
    QStringList delivered_;
    bool failed_ = false;
};
