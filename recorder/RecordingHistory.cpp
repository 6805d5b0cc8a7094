#include "recorder/RecordingHistory.h"

#include "media/FileDescriptor.h"
#include "media/SoundLevel.h"
#include "recorder/Recorder.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace {

std::string SystemError(const std::string &what, const std::string &path, int error)
{
    return what + " " + path + ": " + std::strerror(error);
}

// Reads the whole file, a block at a time; 0 at its end, else the errno of the failed read.
int ReadAll(int fd, const std::function<void(const char *, std::size_t)> &take)
{
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got < 0 ? errno : 0;
        take(buffer.data(), std::size_t(got));
    }
}

// Creates every missing folder on the way to `folder`, private to the user.
bool MakeFolders(const std::string &folder, std::string *error)
{
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            *error = SystemError("The recording history's folder cannot be made:", part, errno);
            return false;
        }
        if (slash == std::string::npos)
            return true;
    }
}

// JSON holds Unicode text: a name that is not UTF-8 is written readable (with replacement
// characters) beside its exact bytes in base64, which reading prefers.
void PutText(QJsonObject &object, const char *key, const std::string &bytes)
{
    const QByteArray raw = QByteArray::fromStdString(bytes);
    const QString text = QString::fromUtf8(raw);
    object.insert(QLatin1String(key), text);
    if (text.toUtf8() != raw)
        object.insert(QLatin1String(key) + QLatin1String("_base64"), QString::fromLatin1(raw.toBase64()));
}

std::string GetText(const QJsonObject &object, const char *key)
{
    const QJsonValue exact = object.value(QLatin1String(key) + QLatin1String("_base64"));
    if (exact.isString())
        return QByteArray::fromBase64(exact.toString().toLatin1()).toStdString();
    return object.value(QLatin1String(key)).toString().toStdString();
}

// Levels are numbers, and nothing heard at all (-inf) is null, which JSON can hold.
QJsonValue Level(double db) { return std::isfinite(db) ? QJsonValue(std::round(db * 100) / 100) : QJsonValue(); }

double LevelFrom(const QJsonValue &value) { return value.isDouble() ? value.toDouble() : -INFINITY; }

std::string Decibels(double db, const char *unit) { return DecibelText(db) + " " + unit; }

} // namespace

std::string RecordingHistory::DefaultPath()
{
    const char *state = std::getenv("XDG_STATE_HOME");
    std::string base;
    if (state && state[0] == '/') {
        base = state;
    } else {
        const char *home = std::getenv("HOME");
        if (!home || !home[0]) {
            const passwd *user = ::getpwuid(::getuid());
            home = user ? user->pw_dir : "/";
        }
        base = std::string(home) + "/.local/state";
    }
    return base + "/tamblo/recordings.jsonl";
}

std::string RecordingHistory::Now() { return TimeText(std::chrono::system_clock::now()); }

std::string RecordingHistory::TimeText(std::chrono::system_clock::time_point time)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms);
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs).toStdString();
}

RecordingEntry RecordingHistory::EntryOf(const RecordingEnd &end)
{
    RecordingEntry entry;
    entry.time = TimeText(end.startedAt);
    entry.channel = end.channel;
    entry.file = end.file;
    std::string unread;
    if (!end.file.empty())
        entry.sha256 = FileSha256(end.file, &unread).value_or("");
    entry.lengthMs = end.playedMs;
    entry.heard = end.heard.listened;
    entry.heardPeakDb = end.heard.peakDb;
    entry.heardRmsDb = end.heard.rmsDb;
    entry.silentMs = end.heard.silentMs;
    entry.ended = Verdict::EndingOf(end.reason).word;
    entry.exitStatus = end.problem.isEmpty() ? 0 : 1;
    entry.note = end.note.toStdString();
    return entry;
}

std::optional<std::string> RecordingHistory::FileSha256(const std::string &path, std::string *error)
{
    // Opened by its bytes: Qt's file names would lose a name that is not UTF-8.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) {
        *error = SystemError("Cannot read", path, errno);
        return std::nullopt;
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (const int failed = ReadAll(file.Get(), [&](const char *data, std::size_t size) {
            hash.addData(QByteArrayView(data, qsizetype(size)));
        })) {
        *error = SystemError("Cannot read", path, failed);
        return std::nullopt;
    }
    return hash.result().toHex().toStdString();
}

RecordingHistory::RecordingHistory(std::string path) : path_(std::move(path)) {}

bool RecordingHistory::Append(const RecordingEntry &entry, std::string *error) const
{
    const std::size_t slash = path_.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : path_.substr(0, slash);
    const std::string name = slash == std::string::npos ? path_ : path_.substr(slash + 1);
    if (!MakeFolders(folder, error))
        return false;
    FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.Get() < 0) {
        *error = SystemError("The recording history's folder cannot be opened:", folder, errno);
        return false;
    }
    FileDescriptor file(
        ::openat(directory.Get(), name.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (file.Get() < 0) {
        const int reason = errno;
        *error = reason == ELOOP
                     ? "The recording history " + path_ + " is a symbolic link; it is not written through one"
                     : SystemError("The recording history cannot be opened:", path_, reason);
        return false;
    }
    // Several programs append at once: each holds the file while it looks at the end, writes its
    // line, and cuts back what a failed write left, so that a line is whole or not there.
    while (::flock(file.Get(), LOCK_EX) != 0 && errno == EINTR) {
    }
    std::string line = ToJson(entry) + "\n";
    // A line cut short before (a crash) stays a line of its own, and this one starts afresh.
    const off_t end = ::lseek(file.Get(), 0, SEEK_END);
    char last = '\n';
    if (end > 0 && ::pread(file.Get(), &last, 1, end - 1) == 1 && last != '\n')
        line.insert(line.begin(), '\n');
    ssize_t written;
    do
        written = ::write(file.Get(), line.data(), line.size());
    while (written < 0 && errno == EINTR);
    if (written == ssize_t(line.size()))
        return true;
    if (written < 0) {
        *error = SystemError("The recording history cannot be written:", path_, errno);
        return false;
    }
    *error = "The recording history " + path_ + " was not written whole (is the disk full?)";
    if (end < 0 || ::ftruncate(file.Get(), end) != 0)
        *error += "; the part written is left in it";
    return false;
}

std::optional<std::vector<std::string>> RecordingHistory::RawLines(std::string *error) const
{
    std::vector<std::string> lines;
    FileDescriptor file(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) {
        if (errno == ENOENT)
            return lines; // nothing recorded yet
        *error = SystemError("The recording history cannot be read:", path_, errno);
        return std::nullopt;
    }
    std::string text;
    if (const int failed = ReadAll(file.Get(), [&](const char *data, std::size_t size) { text.append(data, size); })) {
        *error = SystemError("The recording history cannot be read:", path_, failed);
        return std::nullopt;
    }
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        if (end > start)
            lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::optional<std::vector<RecordingEntry>> RecordingHistory::Entries(std::string *error, int *damaged) const
{
    const auto lines = RawLines(error);
    if (!lines)
        return std::nullopt;
    std::vector<RecordingEntry> entries;
    int unread = 0;
    for (const std::string &line : *lines) {
        if (auto entry = FromJson(line))
            entries.push_back(std::move(*entry));
        else
            ++unread;
    }
    if (damaged)
        *damaged = unread;
    return entries;
}

std::string RecordingHistory::ToJson(const RecordingEntry &entry)
{
    QJsonObject object;
    object.insert("time", QString::fromStdString(entry.time));
    PutText(object, "port", entry.port);
    PutText(object, "device", entry.device);
    if (!entry.usbSerial.empty())
        PutText(object, "usb_serial", entry.usbSerial);
    object.insert("channel", entry.channel);
    PutText(object, "file", entry.file);
    object.insert("sha256", QString::fromStdString(entry.sha256));
    object.insert("length_ms", qint64(entry.lengthMs));
    if (entry.heard) {
        QJsonObject heard;
        heard.insert("peak_dbfs", Level(entry.heardPeakDb));
        heard.insert("rms_dbfs", Level(entry.heardRmsDb));
        heard.insert("silent_ms", qint64(entry.silentMs));
        object.insert("heard", heard);
    } else {
        object.insert("heard", QJsonValue());
    }
    object.insert("ended", QString::fromStdString(entry.ended));
    object.insert("exit_status", entry.exitStatus);
    if (!entry.note.empty())
        object.insert("note", QString::fromStdString(entry.note));
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

std::optional<RecordingEntry> RecordingHistory::FromJson(const std::string &line)
{
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(line), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    if (!object.value("time").isString() || !object.value("file").isString())
        return std::nullopt;
    RecordingEntry entry;
    entry.time = object.value("time").toString().toStdString();
    entry.port = GetText(object, "port");
    entry.device = GetText(object, "device");
    entry.usbSerial = GetText(object, "usb_serial");
    entry.channel = object.value("channel").toInt();
    entry.file = GetText(object, "file");
    entry.sha256 = object.value("sha256").toString().toStdString();
    entry.lengthMs = object.value("length_ms").toInteger();
    const QJsonValue heard = object.value("heard");
    entry.heard = heard.isObject();
    if (entry.heard) {
        entry.heardPeakDb = LevelFrom(heard["peak_dbfs"]);
        entry.heardRmsDb = LevelFrom(heard["rms_dbfs"]);
        entry.silentMs = heard["silent_ms"].toInteger();
    }
    entry.ended = object.value("ended").toString().toStdString();
    entry.exitStatus = object.value("exit_status").toInt();
    entry.note = object.value("note").toString().toStdString();
    return entry;
}

std::string RecordingHistory::Describe(const RecordingEntry &entry)
{
    std::string text = entry.time + "  " + entry.port;
    if (!entry.device.empty() || !entry.usbSerial.empty()) {
        text += " (" + entry.device;
        if (!entry.usbSerial.empty())
            text += (entry.device.empty() ? "serial " : ", serial ") + entry.usbSerial;
        text += ")";
    }
    text += " channel " + std::to_string(entry.channel) + "  " + entry.file + "  " + SecondsText(entry.lengthMs) + "  ";
    if (entry.heard)
        text += "heard peak " + Decibels(entry.heardPeakDb, "dBFS") + ", RMS " + Decibels(entry.heardRmsDb, "dBFS")
                + ", silent " + std::to_string(entry.silentMs) + " ms";
    else
        text += "not listened to";
    text += "  " + entry.ended + ", exit " + std::to_string(entry.exitStatus);
    if (!entry.note.empty())
        text += "  (" + entry.note + ")";
    return text;
}
