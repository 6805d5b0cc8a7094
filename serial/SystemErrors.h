#pragma once

#include <string>

// The serial link's result codes: 0 for success, a positive value for information, and for a
// failure either -n for system error n or one of the link's own codes below. Operating-system
// failures are numbered the Windows way, so that the codes and the message table keep one
// numbering on every platform.
namespace SystemError {
constexpr int InvalidFunction = 1;
constexpr int FileNotFound = 2;
constexpr int PathNotFound = 3;
constexpr int TooManyOpenFiles = 4;
constexpr int AccessDenied = 5;
constexpr int InvalidHandle = 6;
constexpr int NotEnoughMemory = 8;
// TAMBLO_PORTS is set but names no directory.
constexpr int BadEnvironment = 10;
// The user has no permission to open the port (not in the group that may use serial ports).
constexpr int InvalidAccess = 12;
constexpr int WriteProtect = 19;
// The path exists but is no serial device (a directory, a plain file, ...).
constexpr int BadUnit = 20;
constexpr int GenFailure = 31;
constexpr int SharingViolation = 32;
constexpr int NotSupported = 50;
constexpr int InvalidParameter = 87;
constexpr int BrokenPipe = 109;
constexpr int DiskFull = 112;
constexpr int SemTimeout = 121;
constexpr int OperationAborted = 995;
constexpr int IoDevice = 1117;
} // namespace SystemError

// The link's own failure codes; each selects an exception class (SerialErrors.h), and the
// message table holds its text.
namespace SerialResult {
// General
constexpr int BadArgument = -1002;
constexpr int GotQuitMsg = -1003;
constexpr int BufferTooBig = -1004;
constexpr int PortNotAssigned = -1005;
constexpr int Internal = -1006;
constexpr int ModemNotAssigned = -1007;
constexpr int PhonebookNotAssigned = -1008;
constexpr int CannotUseWithWinSock = -1009;

// Opening the port
constexpr int BadId = -2001;
constexpr int BaudRate = -2002;
constexpr int ByteSize = -2003;
constexpr int Default = -2004;
constexpr int Hardware = -2005;
constexpr int Memory = -2006;
constexpr int CommNotOpen = -2007;
constexpr int AlreadyOpen = -2008;
constexpr int NoHandles = -2009;
constexpr int NoTimers = -2010;
constexpr int NoPortSelected = -2011;
constexpr int NotOpenedByTapi = -2012;

// Input and output
constexpr int NullApi = -3001;
constexpr int RegisterHandlerFailed = -3003;
constexpr int PutBlockFail = -3004;
constexpr int GetBlockFail = -3005;
constexpr int OutputBufferTooSmall = -3006;
constexpr int BufferIsEmpty = -3007;
constexpr int TracingNotEnabled = -3008;
constexpr int LoggingNotEnabled = -3009;
constexpr int BaseAddressNotSet = -3010;

// Modem
constexpr int ModemNotStarted = -4001;
constexpr int ModemBusy = -4002;
constexpr int ModemNotDialing = -4003;
constexpr int NotDialing = -4004;
constexpr int AlreadyDialing = -4005;
constexpr int ModemNotResponding = -4006;
constexpr int ModemRejectedCommand = -4007;
constexpr int ModemStatusMismatch = -4008;

// Triggers
constexpr int NoMoreTriggers = -5001;
constexpr int TriggerTooLong = -5002;
constexpr int BadTriggerHandle = -5003;

// File-transfer protocols
constexpr int TooManyErrors = -6006;
constexpr int BlockOutOfSequence = -6008;
constexpr int BlockCheckFailed = -6009;

// INI database
constexpr int KeyTooLong = -7001;
constexpr int DataTooLarge = -7002;
constexpr int InternalDatabase = -7003;
constexpr int IniWrite = -7004;
constexpr int IniRead = -7005;
constexpr int InternalIndex = -7006;
constexpr int RecordExists = -7007;
constexpr int RecordNotFound = -7008;
constexpr int DatabaseFull = -7010;
constexpr int DatabaseEmpty = -7011;
constexpr int InternalField = -7012;
constexpr int BadFieldList = -7013;
constexpr int BadFieldForIndex = -7014;

// Fax
constexpr int FaxBadFormat = -8001;
constexpr int BadGraphicsFormat = -8002;
constexpr int ConvertAbort = -8003;
constexpr int UnpackAbort = -8004;
constexpr int CantMakeBitmap = -8005;
constexpr int InvalidPageNumber = -8053;
constexpr int FaxBadMachine = -8060;
constexpr int FaxBadModemResult = -8061;
constexpr int FaxTrainError = -8062;
constexpr int FaxInitError = -8063;
constexpr int FaxBusy = -8064;
constexpr int FaxVoiceCall = -8065;
constexpr int FaxDataCall = -8066;
constexpr int FaxNoDialTone = -8067;
constexpr int FaxNoCarrier = -8068;
constexpr int FaxSessionError = -8069;
constexpr int FaxPageError = -8070;

// Telephony
constexpr int TapiAllocated = -13801;
constexpr int TapiBadDeviceID = -13802;
constexpr int TapiBearerModeUnavail = -13803;
constexpr int TapiCallUnavail = -13805;
constexpr int TapiCompletionOverrun = -13806;
constexpr int TapiConferenceFull = -13807;
constexpr int TapiDialBilling = -13808;
constexpr int TapiDialDialtone = -13809;
constexpr int TapiDialPrompt = -13810;
constexpr int TapiDialQuiet = -13811;
constexpr int TapiIncompatibleApiVersion = -13812;
constexpr int TapiIncompatibleExtVersion = -13813;
constexpr int TapiIniFileCorrupt = -13814;
constexpr int TapiInUse = -13815;
constexpr int TapiInvalAddress = -13816;
constexpr int TapiInvalAddressID = -13817;
constexpr int TapiInvalAddressMode = -13818;
constexpr int TapiInvalAddressState = -13819;
constexpr int TapiInvalAppHandle = -13820;
constexpr int TapiInvalAppName = -13821;
constexpr int TapiInvalBearerMode = -13822;
constexpr int TapiInvalCallComplMode = -13823;
constexpr int TapiInvalCallHandle = -13824;
constexpr int TapiInvalCallParams = -13825;
constexpr int TapiInvalCallPrivilege = -13826;
constexpr int TapiInvalCallSelect = -13827;
constexpr int TapiInvalCallState = -13828;
constexpr int TapiInvalCallStatelist = -13829;
constexpr int TapiInvalCard = -13830;
constexpr int TapiInvalCompletionID = -13831;
constexpr int TapiInvalConfCallHandle = -13832;
constexpr int TapiInvalConsultCallHandle = -13833;
constexpr int TapiInvalCountryCode = -13834;
constexpr int TapiInvalDeviceClass = -13835;
constexpr int TapiInvalDeviceHandle = -13836;
constexpr int TapiInvalDialParams = -13837;
constexpr int TapiInvalDigitList = -13838;
constexpr int TapiInvalDigitMode = -13839;
constexpr int TapiInvalDigits = -13840;
constexpr int TapiInvalExtVersion = -13841;
constexpr int TapiInvalGroupID = -13842;
constexpr int TapiInvalLineHandle = -13843;
constexpr int TapiInvalLineState = -13844;
constexpr int TapiInvalLocation = -13845;
constexpr int TapiInvalMediaList = -13846;
constexpr int TapiInvalMediaMode = -13847;
constexpr int TapiInvalMessageID = -13848;
constexpr int TapiInvalParam = -13850;
constexpr int TapiInvalParkID = -13851;
constexpr int TapiInvalParkMode = -13852;
constexpr int TapiInvalPointer = -13853;
constexpr int TapiInvalPrivSelect = -13854;
constexpr int TapiInvalRate = -13855;
constexpr int TapiInvalRequestMode = -13856;
constexpr int TapiInvalTerminalID = -13857;
constexpr int TapiInvalTerminalMode = -13858;
constexpr int TapiInvalTimeout = -13859;
constexpr int TapiInvalTone = -13860;
constexpr int TapiInvalToneList = -13861;
constexpr int TapiInvalToneMode = -13862;
constexpr int TapiInvalTransferMode = -13863;
constexpr int TapiLineMapperFailed = -13864;
constexpr int TapiNoConference = -13865;
constexpr int TapiNoDevice = -13866;
constexpr int TapiNoDriver = -13867;
constexpr int TapiNoMem = -13868;
constexpr int TapiNoRequest = -13869;
constexpr int TapiNotOwner = -13870;
constexpr int TapiNotRegistered = -13871;
constexpr int TapiOperationFailed = -13872;
constexpr int TapiOperationUnavail = -13873;
constexpr int TapiRateUnavail = -13874;
constexpr int TapiResourceUnavail = -13875;
constexpr int TapiRequestOverrun = -13876;
constexpr int TapiStructureTooSmall = -13877;
constexpr int TapiTargetNotFound = -13878;
constexpr int TapiTargetSelf = -13879;
constexpr int TapiUninitialized = -13880;
constexpr int TapiUserUserInfoTooBig = -13881;
constexpr int TapiReinit = -13882;
constexpr int TapiAddressBlocked = -13883;
constexpr int TapiBillingRejected = -13884;
constexpr int TapiInvalFeature = -13885;
constexpr int TapiNoMultipleInstance = -13886;
constexpr int TapiBusy = -13928;
constexpr int TapiNotSet = -13929;
constexpr int TapiNoSelect = -13930;
constexpr int TapiLoadFail = -13931;
constexpr int TapiGetAddrFail = -13932;
constexpr int TapiVoiceNotSupported = -13935;
constexpr int TapiWaveFail = -13936;
constexpr int TapiTranslateFail = -13942;

// Remote access
constexpr int RasLoadFail = -13980;
} // namespace SerialResult

// The system error number for an errno value, as met outside any particular call: a missing or
// placeholder device is FileNotFound, a device held elsewhere (or our lock refused) AccessDenied.
int SystemErrorFromErrno(int errnoValue);

// Linux's own words for a system error number, or an empty text when it has none. The errors
// that only opening a port meets (BadEnvironment, InvalidAccess, BadUnit) get texts that say
// what to do about them.
std::string SystemErrorText(int systemError);
