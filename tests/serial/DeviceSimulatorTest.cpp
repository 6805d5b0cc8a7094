#include "serial/ComPort.h"
#include "serial/SelectPort.h"
#include "tests/serial/SerialTestSupport.h"
#include "tools/devsim/DeviceModel.h"

#include <QComboBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The simulator as a child process, with its output collected line by line (timestamps cut).
// Started by a plain fork and exec, which the thread sanitizer follows.
class Simulator {
public:
    Simulator(const std::string &ports, int com)
    {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return;
        const std::string number = std::to_string(com);
        const char *argv[] = {TAMBLO_DEVSIM, "--ports", ports.c_str(), "--com", number.c_str(), nullptr};
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            execv(TAMBLO_DEVSIM, const_cast<char *const *>(argv));
            _exit(127);
        }
        close(out[1]);
        output_ = out[0];
        fcntl(output_, F_SETFL, O_NONBLOCK);
    }
    ~Simulator()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0)
            close(output_);
    }
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // Texts of the lines printed so far, without their timestamps.
    QStringList Lines()
    {
        char buffer[4096];
        ssize_t got;
        while (output_ >= 0 && (got = read(output_, buffer, sizeof buffer)) > 0)
            text_.append(buffer, static_cast<std::size_t>(got));
        QStringList texts;
        static const QRegularExpression line(QStringLiteral("^\\d+\\.\\d{3} (.*)$"));
        for (const QString &raw : QString::fromStdString(text_).split('\n', Qt::SkipEmptyParts)) {
            const QRegularExpressionMatch match = line.match(raw);
            texts << (match.hasMatch() ? match.captured(1) : QStringLiteral("MALFORMED: ") + raw);
        }
        return texts;
    }
    bool WaitForLine(const QString &text)
    {
        return WaitFor([&] { return Lines().contains(text); });
    }
    void Signal(int signalNumber) { kill(pid_, signalNumber); }
    // Ends it with SIGTERM; its exit status, or -1 when it did not end normally.
    int Terminate()
    {
        int status = 0;
        kill(pid_, SIGTERM);
        const pid_t ended = waitpid(pid_, &status, 0);
        pid_ = -1;
        return ended > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string text_;
};

TEST(DeviceSimulator, RecordsWhatThePortComponentSendsThroughTheChosenPort)
{
    PortsDirectory ports;
    Simulator simulator(ports.Path(), 3);
    ASSERT_TRUE(WaitFor([&] { return !simulator.Lines().isEmpty(); }));
    const QString first = simulator.Lines().first();
    EXPECT_TRUE(QRegularExpression("^COM3 -> /dev/pts/\\d+ \\(monotonic \\d+\\.\\d{3}\\)$").match(first).hasMatch())
        << first.toStdString();

    TComPort port;
    port.setBaud(9600);
    ModalWatcher<TComSelectForm> watcher([](TComSelectForm *form) {
        form->PortsComboBox()->setCurrentIndex(form->PortsComboBox()->findText("COM3"));
        QTest::mouseClick(form->findChild<QPushButton *>("OkBtn"), Qt::LeftButton);
    });
    port.SendText("REC1\r\n");
    EXPECT_EQ(watcher.Shown, 1);
    ASSERT_TRUE(simulator.WaitForLine("GSM1 recording"));
    port.SendText("REC\r\n");
    ASSERT_TRUE(WaitFor([&] {
        const QStringList lines = simulator.Lines();
        return !lines.filter(QRegularExpression("^GSM1 stopped at \\d+\\.\\d{3} s$")).isEmpty();
    }));

    // The simulator keeps working when the program closes and reopens the port.
    port.setOpen(false);
    port.SendText("ERASE\r\n");
    port.SendText("HELLO\r\n");
    ASSERT_TRUE(simulator.WaitForLine("unknown command \"HELLO\\r\\n\""));
    const QStringList lines = simulator.Lines().mid(1);
    ASSERT_EQ(lines.size(), 7) << lines.join(" | ").toStdString();
    EXPECT_EQ(lines[0], "REC1");
    EXPECT_EQ(lines[1], "GSM1 recording");
    EXPECT_EQ(lines[2], "REC");
    EXPECT_TRUE(lines[3].startsWith("GSM1 stopped at "));
    EXPECT_EQ(lines[4], "ERASE");
    EXPECT_EQ(lines[5], "memories erased");
    EXPECT_EQ(lines[6], "unknown command \"HELLO\\r\\n\"");
    EXPECT_EQ(watcher.Shown, 1);

    port.setOpen(false);
    EXPECT_EQ(simulator.Terminate(), 0);
    struct stat info {};
    EXPECT_NE(lstat(ports.PortPath(3).c_str(), &info), 0);
}

// SIGUSR1 stops the line taking data and starts it again; SIGUSR2 hangs it up.
TEST(DeviceSimulator, PlaysALineThatStopsTakingDataAndOneThatHangsUp)
{
    PortsDirectory ports;
    Simulator simulator(ports.Path(), 3);
    ASSERT_TRUE(WaitFor([&] { return !simulator.Lines().isEmpty(); }));
    TComPort port;
    port.setComNumber(3);
    simulator.Signal(SIGUSR1);
    ASSERT_TRUE(simulator.WaitForLine("line stopped"));
    port.SendText("REC\r\n");
    EXPECT_EQ(port.WaitSent(200), TComPort::SendState::Pending);
    simulator.Signal(SIGUSR1);
    ASSERT_TRUE(simulator.WaitForLine("line started"));
    EXPECT_EQ(port.WaitSent(5000), TComPort::SendState::Delivered);
    EXPECT_TRUE(simulator.WaitForLine("REC"));
    simulator.Signal(SIGUSR2);
    ASSERT_TRUE(simulator.WaitForLine("hung up"));
    EXPECT_TRUE(WaitFor([&] { return port.LineGone(); }));
}

TEST(DeviceModel, ChannelsFillStopAndErase)
{
    using namespace std::chrono_literals;
    DeviceModel model;
    const auto t0 = DeviceModel::Clock::time_point{} + 1h;
    EXPECT_EQ(model.Command("REC1", t0), std::vector<std::string>{"GSM1 recording"});
    EXPECT_EQ(model.Command("REC", t0 + 4210ms), std::vector<std::string>{"GSM1 stopped at 4.210 s"});
    EXPECT_EQ(model.Command("REC", t0 + 5s), std::vector<std::string>{"nothing recording"});

    // Recording goes on where it stopped; the memory is full at 10 s.
    EXPECT_EQ(model.Command("REC1", t0 + 6s), std::vector<std::string>{"GSM1 recording"});
    ASSERT_TRUE(model.NextEvent().has_value());
    EXPECT_NEAR(std::chrono::duration<double>(*model.NextEvent() - t0).count(), 11.79, 1e-6);
    EXPECT_TRUE(model.Advance(t0 + 11s).empty());
    EXPECT_EQ(model.Advance(t0 + 12s), std::vector<std::string>{"GSM1 memory full"});
    EXPECT_EQ(model.Command("REC1", t0 + 13s), std::vector<std::string>{"GSM1 memory full"});

    EXPECT_EQ(model.Command("REC2", t0 + 14s), std::vector<std::string>{"GSM2 recording"});
    EXPECT_EQ(model.Command("REC1", t0 + 15s),
              (std::vector<std::string>{"GSM2 stopped at 1.000 s", "GSM1 memory full"}));
    EXPECT_EQ(model.Command("REC2", t0 + 16s), std::vector<std::string>{"GSM2 recording"});
    EXPECT_EQ(model.Command("ERASE", t0 + 17s),
              (std::vector<std::string>{"GSM2 stopped at 2.000 s", "memories erased"}));
    EXPECT_EQ(model.Filled(0, t0 + 18s), 0.0);
    EXPECT_EQ(model.Filled(1, t0 + 18s), 0.0);
    EXPECT_FALSE(model.Knows("REC3"));
}

} // namespace
