#include "recorder/RecordingHistory.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fstream>

namespace {

std::optional<std::string> Environment(const char *name)
{
    const char *value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

// The history's place under a private state folder; the environment is restored afterwards.
class PrivateState {
public:
    PrivateState() { setenv("XDG_STATE_HOME", Path("state").c_str(), 1); }
    ~PrivateState()
    {
        for (const auto &[name, value] : saved_) {
            if (value)
                setenv(name, value->c_str(), 1);
            else
                unsetenv(name);
        }
    }
    std::string Path(const std::string &name) const
    {
        return dir_.filePath(QString::fromStdString(name)).toStdString();
    }

private:
    QTemporaryDir dir_;
    const std::pair<const char *, std::optional<std::string>> saved_[2] = {
        {"HOME", Environment("HOME")}, {"XDG_STATE_HOME", Environment("XDG_STATE_HOME")}};
};

RecordingEntry Entry(std::string file)
{
    RecordingEntry entry;
    entry.time = RecordingHistory::Now();
    entry.port = "COM3";
    entry.device = "/dev/ttyUSB0";
    entry.usbSerial = "A50285BI";
    entry.channel = 2;
    entry.file = std::move(file);
    entry.sha256 = std::string(64, 'a');
    entry.lengthMs = 3000;
    entry.heard = true;
    entry.heardPeakDb = -3.14159;
    entry.heardRmsDb = -INFINITY;
    entry.silentMs = 250;
    entry.ended = "silent-output";
    entry.exitStatus = 1;
    entry.note = "REC left 200 ms after the sound ended";
    return entry;
}

int Mode(const std::string &path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

TEST(RecordingHistory, EntriesComeBackAsWrittenInPrivateFilesAndNamesKeepTheirBytes)
{
    PrivateState state;
    const RecordingHistory history;
    EXPECT_EQ(history.Path(), state.Path("state") + "/tamblo/recordings.jsonl");
    std::string error;
    EXPECT_EQ(history.Entries(&error)->size(), 0u) << "no history yet is an empty one";

    RecordingEntry plain = Entry("/home/ana/prompts/bienvenida ñ.wav");
    plain.heard = false;
    plain.usbSerial.clear();
    const RecordingEntry latin1 = Entry("/home/ana/prompts/\xf1\xe9\xff.wav"); // not UTF-8
    ASSERT_TRUE(history.Append(plain, &error)) << error;
    ASSERT_TRUE(history.Append(latin1, &error)) << error;
    EXPECT_EQ(Mode(state.Path("state")), 0700);
    EXPECT_EQ(Mode(state.Path("state") + "/tamblo"), 0700);
    EXPECT_EQ(Mode(history.Path()), 0600);

    int damaged = -1;
    const auto entries = history.Entries(&error, &damaged);
    ASSERT_TRUE(entries) << error;
    ASSERT_EQ(entries->size(), 2u);
    EXPECT_EQ(damaged, 0);
    EXPECT_EQ(RecordingHistory::ToJson((*entries)[0]), RecordingHistory::ToJson(plain));
    const RecordingEntry &back = (*entries)[1];
    EXPECT_EQ(back.file, latin1.file);
    EXPECT_EQ(back.heardRmsDb, -INFINITY);
    EXPECT_EQ(RecordingHistory::ToJson(back), RecordingHistory::ToJson(latin1)) << "every field as written";
    EXPECT_TRUE(QRegularExpression(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}([+-]\d\d:\d\d|Z)$)")
                    .match(QString::fromStdString(back.time))
                    .hasMatch())
        << back.time;

    // Each line is JSON of its own, readable by any tool.
    const auto lines = history.RawLines(&error);
    ASSERT_EQ(lines->size(), 2u);
    const QJsonObject second = QJsonDocument::fromJson(QByteArray::fromStdString((*lines)[1])).object();
    EXPECT_TRUE(second.value("heard").toObject().value("rms_dbfs").isNull());
    EXPECT_TRUE(second.contains("file_base64"));
    EXPECT_EQ(RecordingHistory::Describe(back), back.time + "  COM3 (/dev/ttyUSB0, serial A50285BI) channel 2  "
                                                    + latin1.file
                                                    + "  3.000 s  heard peak −3.1 dBFS, RMS −inf dBFS, silent 250 ms"
                                                      "  silent-output, exit 1  (REC left 200 ms after the sound "
                                                      "ended)");
}

TEST(RecordingHistory, PlaceFollowsTheStateFolderOnlyWhenItIsAbsolute)
{
    PrivateState state;
    setenv("HOME", state.Path("home").c_str(), 1);
    const std::string fallback = state.Path("home") + "/.local/state/tamblo/recordings.jsonl";
    for (const char *value : {"relative/state", ""}) {
        setenv("XDG_STATE_HOME", value, 1);
        EXPECT_EQ(RecordingHistory::DefaultPath(), fallback) << value;
    }
    unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(RecordingHistory::DefaultPath(), fallback);
}

TEST(RecordingHistory, NeitherFollowsALinkNorLosesTheEntriesAroundADamagedLine)
{
    PrivateState state;
    const RecordingHistory history;
    std::string error;
    ASSERT_TRUE(history.Append(Entry("one.wav"), &error)) << error;
    // A line cut short by a crash, then more entries: the next one starts a line of its own.
    std::ofstream(history.Path(), std::ios::app) << R"({"time":"2026-12-07T10:00:00.000+01:00","fi)";
    ASSERT_TRUE(history.Append(Entry("two.wav"), &error)) << error;
    int damaged = 0;
    const auto entries = history.Entries(&error, &damaged);
    ASSERT_EQ(entries->size(), 2u);
    EXPECT_EQ((*entries)[1].file, "two.wav");
    EXPECT_EQ(damaged, 1);
    EXPECT_EQ(history.RawLines(&error)->size(), 3u);

    const std::string elsewhere = state.Path("elsewhere");
    std::ofstream(elsewhere) << "keep\n";
    const RecordingHistory linked(state.Path("linked.jsonl"));
    ASSERT_EQ(::symlink(elsewhere.c_str(), linked.Path().c_str()), 0);
    EXPECT_FALSE(linked.Append(Entry("three.wav"), &error));
    EXPECT_NE(error.find("symbolic link"), std::string::npos) << error;
    std::ifstream kept(elsewhere);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep\n");
}

// A write that the disk cuts short is taken back.
TEST(RecordingHistory, ALineIsWrittenWholeOrNotAtAll)
{
    PrivateState state;
    const RecordingHistory history;
    std::string error;
    ASSERT_TRUE(history.Append(Entry("one.wav"), &error)) << error;
    struct stat before {};
    ASSERT_EQ(::stat(history.Path().c_str(), &before), 0);
    const pid_t child = fork();
    if (child == 0) {
        // The file may grow by 40 bytes only: a full disk, as a write sees it.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{rlim_t(before.st_size + 40), rlim_t(before.st_size + 40)};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::string failure;
        _exit(!history.Append(Entry("cut.wav"), &failure) && failure.find("not written whole") != std::string::npos
                  ? 0
                  : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    struct stat after {};
    ASSERT_EQ(::stat(history.Path().c_str(), &after), 0);
    EXPECT_EQ(after.st_size, before.st_size);
}

TEST(RecordingHistory, ProgramsAppendingAtOnceNeverMixTheirLines)
{
    PrivateState state;
    const RecordingHistory history;
    constexpr int writers = 4, each = 100;
    std::vector<pid_t> children;
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    for (int w = 0; w < writers; ++w) {
        const pid_t child = ::fork();
        if (child == 0) {
            // All begin together, when the pipe closes.
            char go;
            ::close(start[1]);
            (void)!::read(start[0], &go, 1);
            // Lines longer than a pipe's atomic write, so that only one write per line keeps them whole.
            const RecordingEntry entry = Entry(std::string(6000, char('a' + w)));
            std::string error;
            for (int i = 0; i < each; ++i) {
                if (!history.Append(entry, &error))
                    ::_exit(1);
            }
            ::_exit(0);
        }
        children.push_back(child);
    }
    ::close(start[0]);
    ::close(start[1]);
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::string error;
    int damaged = 0;
    const auto entries = history.Entries(&error, &damaged);
    ASSERT_TRUE(entries) << error;
    EXPECT_EQ(entries->size(), std::size_t(writers * each));
    EXPECT_EQ(damaged, 0);
}

TEST(RecordingHistory, FileHashIsSha256OfTheBytes)
{
    PrivateState state;
    const std::string file = state.Path(".") + "/\xff prompt.wav"; // not UTF-8
    std::ofstream(file) << "abc";
    std::string error;
    EXPECT_EQ(RecordingHistory::FileSha256(file, &error),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_FALSE(RecordingHistory::FileSha256(state.Path("missing.wav"), &error));
    EXPECT_NE(error.find("missing.wav: No such file or directory"), std::string::npos) << error;
    ::unlink(file.c_str()); // the temporary folder cannot remove a name that is not UTF-8
}

} // namespace
