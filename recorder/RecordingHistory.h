#pragma once

// A record of every recording made on this machine, one JSON line each, so that an installer
// who provisions many devices can show what each one got. Appended by every Tamblo that records,
// also several at once, and read back for the history command.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct RecordingEnd;

struct RecordingEntry {
    // When the recording started, ISO 8601 with the offset from UTC ("2026-12-07T14:03:21.250+01:00").
    std::string time;
    // The port as the operator named it ("COM3") and the device it led to ("/dev/ttyUSB0").
    std::string port;
    std::string device;
    // The USB adapter's serial number, empty where there is none.
    std::string usbSerial;
    int channel = 0;
    // The sound file as given, byte for byte (a name need not be UTF-8), and its SHA-256 in hex.
    std::string file;
    std::string sha256;
    // How much of the file was played onto the device.
    std::int64_t lengthMs = 0;
    // What was heard at the output, when it was listened to: peak and RMS in dBFS (-inf for
    // nothing at all), and the longest silence while the file had sound.
    bool heard = false;
    double heardPeakDb = 0;
    double heardRmsDb = 0;
    std::int64_t silentMs = 0;
    // How it ended, one word ("end", "stopped", "silent-output", "port-lost", ...), and the
    // program's exit status.
    std::string ended;
    int exitStatus = 0;
    // What the operator should know of a whole recording (a REC that came late); often empty.
    std::string note;
};

class RecordingHistory {
public:
    // $XDG_STATE_HOME/tamblo/recordings.jsonl, with ~/.local/state when XDG_STATE_HOME is unset
    // or not an absolute path.
    static std::string DefaultPath();
    // The current time, or another, in the form the entries use.
    static std::string Now();
    static std::string TimeText(std::chrono::system_clock::time_point time);
    // The SHA-256 of a file in lower-case hex; nothing when it cannot be read (error says why).
    static std::optional<std::string> FileSha256(const std::string &path, std::string *error);

    explicit RecordingHistory(std::string path = DefaultPath());
    const std::string &Path() const { return path_; }

    // Adds the entry as one whole line, written at once under the file's lock, or not at all: a
    // write cut short (a full disk) is taken back. Creates the folder (mode 0700) and the file
    // (mode 0600) when they are missing; never through a symbolic link. False with the reason.
    bool Append(const RecordingEntry &entry, std::string *error) const;

    // The lines as they stand in the file, and the entries read from them. A line that does not
    // read (a write cut short) is left out of the entries and counted in `damaged`. No file yet
    // is an empty history; a file that cannot be read is an error.
    std::optional<std::vector<std::string>> RawLines(std::string *error) const;
    std::optional<std::vector<RecordingEntry>> Entries(std::string *error, int *damaged = nullptr) const;

    // The entry for a recording that ended, as the recorder tells it, with its file's SHA-256 where
    // the file can be read. The port is the face's to add; the exit status is 0 for a recording
    // without a problem, 1 for one with a problem, unless the face knows better.
    static RecordingEntry EntryOf(const RecordingEnd &end);

    // One entry as a JSON line (without the newline), and back.
    static std::string ToJson(const RecordingEntry &entry);
    static std::optional<RecordingEntry> FromJson(const std::string &line);
    // One entry as a line of the plain listing: time, port and channel, file, length, what was
    // heard, how it ended.
    static std::string Describe(const RecordingEntry &entry);

private:
    std::string path_;
};
