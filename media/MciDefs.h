#pragma once

// The vocabulary of the media system's single command entry point: commands, flags, items,
// parameter blocks, modes, notices and result codes. The player builds these blocks and hands
// them to mciSendCommand (MediaSystem.h).

#include <cstdint>

class QObject;

using MCIDEVICEID = std::uint16_t;
using MCIERROR = std::uint32_t;

// Commands.
inline constexpr unsigned MCI_OPEN = 0x0803;
inline constexpr unsigned MCI_CLOSE = 0x0804;
inline constexpr unsigned MCI_PLAY = 0x0806;
inline constexpr unsigned MCI_SEEK = 0x0807;
inline constexpr unsigned MCI_STOP = 0x0808;
inline constexpr unsigned MCI_PAUSE = 0x0809;
inline constexpr unsigned MCI_GETDEVCAPS = 0x080B;
inline constexpr unsigned MCI_SET = 0x080D;
inline constexpr unsigned MCI_STEP = 0x080E;
inline constexpr unsigned MCI_RECORD = 0x080F;
inline constexpr unsigned MCI_STATUS = 0x0814;
inline constexpr unsigned MCI_WINDOW = 0x0841;
inline constexpr unsigned MCI_PUT = 0x0842;
inline constexpr unsigned MCI_WHERE = 0x0843;
inline constexpr unsigned MCI_CUE = 0x0830;
inline constexpr unsigned MCI_RESUME = 0x0855;

// Flags common to every command.
inline constexpr std::uint32_t MCI_NOTIFY = 0x00000001;
inline constexpr std::uint32_t MCI_WAIT = 0x00000002;
inline constexpr std::uint32_t MCI_FROM = 0x00000004;
inline constexpr std::uint32_t MCI_TO = 0x00000008;
inline constexpr std::uint32_t MCI_TRACK = 0x00000010;

// Open.
inline constexpr std::uint32_t MCI_OPEN_SHAREABLE = 0x00000100;
inline constexpr std::uint32_t MCI_OPEN_ELEMENT = 0x00000200;
inline constexpr std::uint32_t MCI_OPEN_TYPE = 0x00002000;

// Seek.
inline constexpr std::uint32_t MCI_SEEK_TO_START = 0x00000100;
inline constexpr std::uint32_t MCI_SEEK_TO_END = 0x00000200;

// Status and capabilities.
inline constexpr std::uint32_t MCI_STATUS_ITEM = 0x00000100;
inline constexpr std::uint32_t MCI_GETDEVCAPS_ITEM = 0x00000100;

inline constexpr std::uint32_t MCI_STATUS_LENGTH = 0x00000001;
inline constexpr std::uint32_t MCI_STATUS_POSITION = 0x00000002;
inline constexpr std::uint32_t MCI_STATUS_NUMBER_OF_TRACKS = 0x00000003;
inline constexpr std::uint32_t MCI_STATUS_MODE = 0x00000004;
inline constexpr std::uint32_t MCI_STATUS_READY = 0x00000007;
inline constexpr std::uint32_t MCI_STATUS_TIME_FORMAT = 0x00000006;
inline constexpr std::uint32_t MCI_STATUS_CURRENT_TRACK = 0x00000008;
// Ours: why the latest play ended before its end (a damaged file, a lost output), 0 when it did
// not; known from the moment the sound is cut short, before that sound has been played.
inline constexpr std::uint32_t MCI_STATUS_FAILURE = 0x00004001;

inline constexpr std::uint32_t MCI_GETDEVCAPS_CAN_RECORD = 0x00000001;
inline constexpr std::uint32_t MCI_GETDEVCAPS_HAS_AUDIO = 0x00000002;
inline constexpr std::uint32_t MCI_GETDEVCAPS_HAS_VIDEO = 0x00000003;
inline constexpr std::uint32_t MCI_GETDEVCAPS_DEVICE_TYPE = 0x00000004;
inline constexpr std::uint32_t MCI_GETDEVCAPS_USES_FILES = 0x00000005;
inline constexpr std::uint32_t MCI_GETDEVCAPS_COMPOUND_DEVICE = 0x00000006;
inline constexpr std::uint32_t MCI_GETDEVCAPS_CAN_EJECT = 0x00000007;
inline constexpr std::uint32_t MCI_GETDEVCAPS_CAN_PLAY = 0x00000008;
inline constexpr std::uint32_t MCI_GETDEVCAPS_CAN_SAVE = 0x00000009;

// Device types reported by MCI_GETDEVCAPS_DEVICE_TYPE.
inline constexpr std::uint32_t MCI_DEVTYPE_VCR = 513;
inline constexpr std::uint32_t MCI_DEVTYPE_VIDEODISC = 514;
inline constexpr std::uint32_t MCI_DEVTYPE_OVERLAY = 515;
inline constexpr std::uint32_t MCI_DEVTYPE_CD_AUDIO = 516;
inline constexpr std::uint32_t MCI_DEVTYPE_DAT = 517;
inline constexpr std::uint32_t MCI_DEVTYPE_SCANNER = 518;
inline constexpr std::uint32_t MCI_DEVTYPE_ANIMATION = 519;
inline constexpr std::uint32_t MCI_DEVTYPE_DIGITAL_VIDEO = 520;
inline constexpr std::uint32_t MCI_DEVTYPE_OTHER = 521;
inline constexpr std::uint32_t MCI_DEVTYPE_WAVEFORM_AUDIO = 522;
inline constexpr std::uint32_t MCI_DEVTYPE_SEQUENCER = 523;

// Set.
inline constexpr std::uint32_t MCI_SET_DOOR_OPEN = 0x00000100;
inline constexpr std::uint32_t MCI_SET_TIME_FORMAT = 0x00000400;

// Time formats. The sound devices know milliseconds and samples; the track format (10) belongs
// to CD and videodisc devices, which this media system does not have.
inline constexpr std::uint32_t MCI_FORMAT_MILLISECONDS = 0;
inline constexpr std::uint32_t MCI_FORMAT_SAMPLES = 9;
inline constexpr std::uint32_t MCI_FORMAT_TMSF = 10;

// Modes reported by MCI_STATUS_MODE.
inline constexpr std::uint32_t MCI_MODE_NOT_READY = 524;
inline constexpr std::uint32_t MCI_MODE_STOP = 525;
inline constexpr std::uint32_t MCI_MODE_PLAY = 526;
inline constexpr std::uint32_t MCI_MODE_RECORD = 527;
inline constexpr std::uint32_t MCI_MODE_SEEK = 528;
inline constexpr std::uint32_t MCI_MODE_PAUSE = 529;
inline constexpr std::uint32_t MCI_MODE_OPEN = 530;

// Video placement (where, put, window).
inline constexpr std::uint32_t MCI_ANIM_STEP_REVERSE = 0x00010000;
inline constexpr std::uint32_t MCI_ANIM_STEP_FRAMES = 0x00020000;
inline constexpr std::uint32_t MCI_ANIM_RECT = 0x00010000;
inline constexpr std::uint32_t MCI_ANIM_PUT_DESTINATION = 0x00040000;
inline constexpr std::uint32_t MCI_ANIM_WHERE_SOURCE = 0x00020000;
inline constexpr std::uint32_t MCI_ANIM_WHERE_DESTINATION = 0x00040000;
inline constexpr std::uint32_t MCI_ANIM_WINDOW_HWND = 0x00010000;

// Completion notices, posted to the callback object as an MciNotifyEvent.
inline constexpr unsigned MCI_NOTIFY_SUCCESSFUL = 0x0001;
inline constexpr unsigned MCI_NOTIFY_SUPERSEDED = 0x0002;
inline constexpr unsigned MCI_NOTIFY_ABORTED = 0x0004;
inline constexpr unsigned MCI_NOTIFY_FAILURE = 0x0008;

// Result codes. 0 is success; mciGetErrorString gives the text of each.
inline constexpr MCIERROR MMSYSERR_NOERROR = 0;
inline constexpr MCIERROR MCIERR_BASE = 256;
inline constexpr MCIERROR MCIERR_INVALID_DEVICE_ID = MCIERR_BASE + 1;
inline constexpr MCIERROR MCIERR_UNRECOGNIZED_COMMAND = MCIERR_BASE + 5;
inline constexpr MCIERROR MCIERR_INVALID_DEVICE_NAME = MCIERR_BASE + 7;
inline constexpr MCIERROR MCIERR_OUT_OF_MEMORY = MCIERR_BASE + 8;
inline constexpr MCIERROR MCIERR_UNSUPPORTED_FUNCTION = MCIERR_BASE + 18;
inline constexpr MCIERROR MCIERR_FILE_NOT_FOUND = MCIERR_BASE + 19;
inline constexpr MCIERROR MCIERR_OUTOFRANGE = MCIERR_BASE + 26;
inline constexpr MCIERROR MCIERR_FLAGS_NOT_COMPATIBLE = MCIERR_BASE + 28;
inline constexpr MCIERROR MCIERR_MISSING_PARAMETER = MCIERR_BASE + 34;
inline constexpr MCIERROR MCIERR_BAD_TIME_FORMAT = MCIERR_BASE + 37;
inline constexpr MCIERROR MCIERR_INVALID_FILE = MCIERR_BASE + 40;
inline constexpr MCIERROR MCIERR_NULL_PARAMETER_BLOCK = MCIERR_BASE + 41;
inline constexpr MCIERROR MCIERR_NO_WINDOW = MCIERR_BASE + 90;
inline constexpr MCIERROR MCIERR_FILE_UNREADABLE = MCIERR_BASE + 92;
inline constexpr MCIERROR MCIERR_NOT_A_FILE = MCIERR_BASE + 93;
inline constexpr MCIERROR MCIERR_EMPTY_FILE = MCIERR_BASE + 94;
inline constexpr MCIERROR MCIERR_DAMAGED_FILE = MCIERR_BASE + 95;
inline constexpr MCIERROR MCIERR_NO_OUTPUT_DEVICE = MCIERR_BASE + 96;
inline constexpr MCIERROR MCIERR_OUTPUT_FAILED = MCIERR_BASE + 97;
inline constexpr MCIERROR MCIERR_SOUNDFONT = MCIERR_BASE + 98;
inline constexpr MCIERROR MCIERR_TOO_MANY_DEVICES = MCIERR_BASE + 99;
inline constexpr MCIERROR MCIERR_NO_ELEMENT = MCIERR_BASE + 100;
inline constexpr MCIERROR MCIERR_CANNOT_RECORD = MCIERR_BASE + 101;
inline constexpr MCIERROR MCIERR_UNSUPPORTED_ENCODING = MCIERR_BASE + 102;
inline constexpr MCIERROR MCIERR_TOO_MANY_CHANNELS = MCIERR_BASE + 103;
inline constexpr MCIERROR MCIERR_UNSUPPORTED_RATE = MCIERR_BASE + 104;
inline constexpr MCIERROR MCIERR_OUTPUT_LOST = MCIERR_BASE + 105;

// Parameter blocks. dwCallback is the object that receives the completion notice of a command
// sent with MCI_NOTIFY; every block starts with it.
struct MCI_GENERIC_PARMS {
    QObject *dwCallback = nullptr;
};

struct MCI_OPEN_PARMS : MCI_GENERIC_PARMS {
    MCIDEVICEID wDeviceID = 0;
    const char *lpstrDeviceType = nullptr;
    const char *lpstrElementName = nullptr;
    const char *lpstrAlias = nullptr;
};

struct MCI_PLAY_PARMS : MCI_GENERIC_PARMS {
    std::uint32_t dwFrom = 0;
    std::uint32_t dwTo = 0;
};

struct MCI_SEEK_PARMS : MCI_GENERIC_PARMS {
    std::uint32_t dwTo = 0;
};

struct MCI_STATUS_PARMS : MCI_GENERIC_PARMS {
    std::uint32_t dwReturn = 0;
    std::uint32_t dwItem = 0;
    std::uint32_t dwTrack = 0;
};

struct MCI_GETDEVCAPS_PARMS : MCI_GENERIC_PARMS {
    std::uint32_t dwReturn = 0;
    std::uint32_t dwItem = 0;
};

struct MCI_SET_PARMS : MCI_GENERIC_PARMS {
    std::uint32_t dwTimeFormat = 0;
    std::uint32_t dwAudio = 0;
};

struct MCI_ANIM_STEP_PARMS : MCI_GENERIC_PARMS {
    std::uint32_t dwFrames = 0;
};

// The four values travel unchanged; the video commands read right and bottom as width and height.
struct MciRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

struct MCI_ANIM_RECT_PARMS : MCI_GENERIC_PARMS {
    MciRect rc;
};

struct MCI_ANIM_WINDOW_PARMS : MCI_GENERIC_PARMS {
    QObject *hWnd = nullptr;
    std::uint32_t nCmdShow = 0;
    const char *lpstrText = nullptr;
};
