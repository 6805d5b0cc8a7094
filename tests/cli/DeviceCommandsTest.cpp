#include "cli/CommandLine.h"
#include "cli/Version.h"
#include "tests/cli/TambloProcess.h"
#include "tests/common/DeviceSimulator.h"
#include "tests/media/MediaFixtures.h"

#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QStandardPaths>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

class DeviceCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(device.Start(&error)) << error.toStdString();
        environment = CommandLineEnvironment(device.PortsDirectory());
    }

    DeviceSimulator device;
    QProcessEnvironment environment;
};

TEST_F(DeviceCommands, EraseAndStopSendTheirCommandAndReturnAtOnce)
{
    const TambloResult erase = RunTamblo({QStringLiteral("erase")}, environment);
    EXPECT_EQ(erase.exitCode, 0) << erase.err.toStdString();
    EXPECT_EQ(erase.out, QStringLiteral("sent ERASE to COM1\n"));
    // The window's run-down of the gauges takes 6 s; here nothing waits for it.
    EXPECT_LT(erase.elapsed, std::chrono::milliseconds(4000));
    const TambloResult stop = RunTamblo({QStringLiteral("stop"), QStringLiteral("--json")}, environment);
    EXPECT_EQ(stop.exitCode, 0) << stop.err.toStdString();
    const std::vector<QJsonObject> events = stop.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0][QStringLiteral("event")], QStringLiteral("sent"));
    EXPECT_EQ(events[0][QStringLiteral("command")], QStringLiteral("REC"));
    ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC"), 1, 10000));
    EXPECT_EQ(device.Commands(), QStringList({QStringLiteral("ERASE"), QStringLiteral("REC")}));
}

// A killed recording leaves its lock file and the tty's exclusive mark behind on a line that the
// far end keeps open; the recorder must still be stoppable.
TEST_F(DeviceCommands, StopAfterAKilledRecordSendsRec)
{
    FixtureDir files;
    const std::string sound = files.Path("long.wav");
    WriteWave(sound, 16000, 1, 16000 * 30, SF_FORMAT_PCM_16);
    TambloProcess record(
        {QStringLiteral("record"), QStringLiteral("--channel"), QStringLiteral("1"), QString::fromStdString(sound)},
        environment);
    ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC1"), 1, 10000));
    record.Signal(SIGKILL);
    EXPECT_FALSE(record.Finish().exited);

    const TambloResult stop = RunTamblo({QStringLiteral("stop")}, environment);
    EXPECT_EQ(stop.exitCode, 0) << stop.err.toStdString();
    EXPECT_EQ(stop.out, QStringLiteral("sent REC to COM1\n"));
    ASSERT_TRUE(device.WaitForCommand(QStringLiteral("REC"), 1, 10000));
    // The port is free again for the next program.
    const TambloResult ports = RunTamblo({QStringLiteral("ports")}, environment);
    EXPECT_TRUE(ports.out.endsWith(QStringLiteral(", free\n"))) << ports.out.toStdString();
}

// A command that the line did not take is a failure: the device may still be recording.
TEST_F(DeviceCommands, ACommandTheLineDidNotTakeIsNotReportedAsSent)
{
    ASSERT_TRUE(device.Signal(SIGUSR1, QStringLiteral("line stopped")));
    const TambloResult stop = RunTamblo({QStringLiteral("stop")}, environment);
    EXPECT_EQ(stop.exitCode, 1);
    EXPECT_EQ(stop.out, QString());
    EXPECT_EQ(stop.err, QStringLiteral("tamblo: REC was not delivered to COM1 (the line stopped taking data); the "
                                       "recorder may still be recording\n"));
    // For scripts too: one event for the command, and it says the bytes did not leave.
    const std::vector<QJsonObject> events =
        RunTamblo({QStringLiteral("stop"), QStringLiteral("--json")}, environment).Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0][QStringLiteral("event")], QStringLiteral("not-delivered"));
    EXPECT_EQ(events[0][QStringLiteral("command")], QStringLiteral("REC"));
    EXPECT_EQ(events[0][QStringLiteral("ports")].toArray(), QJsonArray{QStringLiteral("COM1")});
    for (const QJsonObject &event : events)
        EXPECT_NE(event[QStringLiteral("event")], QStringLiteral("sent"));
    ASSERT_TRUE(device.Signal(SIGUSR1, QStringLiteral("line started")));
}

TEST_F(DeviceCommands, APortIsNamedByNumberByPathOrByTheEnvironment)
{
    const QString link = device.PortPath();
    const QString pty = QFileInfo(link).symLinkTarget();
    int stops = 0;
    for (const QStringList &arguments :
         {QStringList{QStringLiteral("--port"), QStringLiteral("1")},
          QStringList{QStringLiteral("--port"), QStringLiteral("com1")}, QStringList{QStringLiteral("--port"), link},
          QStringList{QStringLiteral("--port"), pty}}) {
        SCOPED_TRACE(arguments.join(QLatin1Char(' ')).toStdString());
        const TambloResult stop = RunTamblo(QStringList{QStringLiteral("stop")} + arguments, environment);
        EXPECT_EQ(stop.exitCode, 0) << stop.err.toStdString();
        EXPECT_TRUE(device.WaitForCommand(QStringLiteral("REC"), ++stops, 10000));
    }
    // $TAMBLO_PORT comes before the search for the only port.
    DeviceSimulator second(2, device.PortsDirectory());
    QString error;
    ASSERT_TRUE(second.Start(&error)) << error.toStdString();
    QProcessEnvironment own = environment;
    own.insert(QStringLiteral("TAMBLO_PORT"), QStringLiteral("COM2"));
    const TambloResult stop = RunTamblo({QStringLiteral("stop")}, own);
    EXPECT_EQ(stop.out, QStringLiteral("sent REC to COM2\n"));
    EXPECT_TRUE(second.WaitForCommand(QStringLiteral("REC"), 1, 10000));
}

TEST_F(DeviceCommands, WithoutAPortNamedOneMustBeTheOnlyOne)
{
    DeviceSimulator second(2, device.PortsDirectory());
    QString error;
    ASSERT_TRUE(second.Start(&error)) << error.toStdString();
    const TambloResult several = RunTamblo({QStringLiteral("erase")}, environment);
    EXPECT_EQ(several.exitCode, 2);
    EXPECT_EQ(several.err, QStringLiteral("tamblo: erase: several serial ports found (COM1, COM2); choose one with "
                                          "--port\nTry 'tamblo --help' for more information.\n"));

    QTemporaryDir nothing;
    const TambloResult none = RunTamblo({QStringLiteral("stop")}, CommandLineEnvironment(nothing.path()));
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_TRUE(none.err.startsWith(QStringLiteral("tamblo: stop: no serial port found; name one with --port\n")))
        << none.err.toStdString();
    // A ports folder that is not there is named, for the search as for the listing.
    const QProcessEnvironment mistyped = CommandLineEnvironment(nothing.path() + QStringLiteral("/missing"));
    for (const char *command : {"stop", "ports"}) {
        const TambloResult result = RunTamblo({QLatin1String(command)}, mistyped);
        EXPECT_EQ(result.exitCode, 1) << command;
        EXPECT_EQ(
            result.err,
            QStringLiteral("tamblo: TAMBLO_PORTS does not name a directory: \"%1/missing\"\n").arg(nothing.path()));
    }
    EXPECT_TRUE(device.Commands().isEmpty());
    EXPECT_TRUE(second.Commands().isEmpty());
}

TEST_F(DeviceCommands, PortsListsEachPortWithWhereItLeadsAndWhetherItIsFree)
{
    const QString pty = QFileInfo(device.PortPath()).symLinkTarget();
    const TambloResult free = RunTamblo({QStringLiteral("ports")}, environment);
    EXPECT_EQ(free.exitCode, 0) << free.err.toStdString();
    EXPECT_EQ(free.out, QStringLiteral("COM1   %1 -> %2, pseudo-terminal, free\n").arg(device.PortPath(), pty));

    const int holder = ::open(device.PortPath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    const TambloResult held = RunTamblo({QStringLiteral("ports"), QStringLiteral("--json")}, environment);
    ::close(holder);
    EXPECT_EQ(held.exitCode, 0) << held.err.toStdString();
    const std::vector<QJsonObject> ports = held.Events();
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0][QStringLiteral("name")], QStringLiteral("COM1"));
    EXPECT_EQ(ports[0][QStringLiteral("com")], 1);
    EXPECT_EQ(ports[0][QStringLiteral("path")], device.PortPath());
    EXPECT_EQ(ports[0][QStringLiteral("device")], pty);
    EXPECT_EQ(ports[0][QStringLiteral("driver")], QStringLiteral("pseudo-terminal"));
    EXPECT_EQ(ports[0][QStringLiteral("state")], QStringLiteral("held"));
    // Listing opens nothing for longer than a look: the device heard nothing.
    EXPECT_TRUE(device.Commands().isEmpty());
}

// A user outside the group that may use serial ports sees the port, and that it is not his.
TEST_F(DeviceCommands, PortsTellsAUserWithoutPermissionSo)
{
    if (::getuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        GTEST_SKIP() << "needs root and setpriv to run the program as another user";
    // The ports folder is open to all; the pseudo-terminal, like a serial device, is not.
    QFile::setPermissions(device.PortsDirectory(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                       | QFileDevice::ExeOwner | QFileDevice::ReadOther
                                                       | QFileDevice::ExeOther);
    const auto asNobody = [&](const QString &command) {
        TambloProcess run({QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                           QStringLiteral("--clear-groups"), QStringLiteral(TAMBLO_PATH), command},
                          environment, {}, QStringLiteral("setpriv"));
        return run.Finish();
    };
    if (asNobody(QStringLiteral("--version")).exitCode != 0)
        GTEST_SKIP() << "the user nobody cannot run the program from where it was built";
    const TambloResult result = asNobody(QStringLiteral("ports"));
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.out.startsWith(QStringLiteral("COM1   ") + device.PortPath()));
    EXPECT_TRUE(result.out.endsWith(QStringLiteral(", pseudo-terminal, no permission\n"))) << result.out.toStdString();
}

TEST(CommandLineProgram, HelpVersionAndUsageErrorsWithoutADisplay)
{
    QTemporaryDir ports;
    const QProcessEnvironment environment = CommandLineEnvironment(ports.path());
    const TambloResult version = RunTamblo({QStringLiteral("--version")}, environment);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, QStringLiteral("tamblo " TAMBLO_VERSION "\n"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^tamblo [0-9]+\\.[0-9]+")).match(version.out).hasMatch());

    const TambloResult help = RunTamblo({QStringLiteral("--help")}, environment);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out, HelpText(CommandLine::Help));
    const TambloResult recordHelp = RunTamblo({QStringLiteral("record"), QStringLiteral("--help")}, environment);
    EXPECT_EQ(recordHelp.exitCode, 0);
    EXPECT_EQ(recordHelp.out, HelpText(CommandLine::Record));

    const TambloResult usage =
        RunTamblo({QStringLiteral("record"), QStringLiteral("--channel"), QStringLiteral("3"), QStringLiteral("a.wav")},
                  environment);
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_EQ(usage.out, QString());
    EXPECT_EQ(usage.err, QStringLiteral("tamblo: record: --channel must be 1 or 2, not '3'\n"
                                        "Try 'tamblo --help' for more information.\n"));
}

} // namespace
