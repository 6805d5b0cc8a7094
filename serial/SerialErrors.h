#pragma once

#include "base/Exception.h"

#include <string>

class TComponent;

// The root of every failure of the serial link. Made from a result code it carries that code
// and the code's text from the message table; made from a text it carries code 0.
class ESerialException : public Exception {
public:
    explicit ESerialException(int code);
    explicit ESerialException(const std::string &text);
    // The code's failure told in a text of its own.
    ESerialException(int code, const std::string &text);

    int FailureCode;
};

// The classes below add nothing; they exist so that a caller can catch a failure by kind.
#define TAMBLO_SERIAL_ERROR(Name, Base)                                                                                \
    class Name : public Base {                                                                                         \
    public:                                                                                                            \
        using Base::Base;                                                                                              \
    };

// Categories
TAMBLO_SERIAL_ERROR(EGeneral, ESerialException)
TAMBLO_SERIAL_ERROR(EOpenComm, ESerialException)
TAMBLO_SERIAL_ERROR(ESerialIO, ESerialException)
TAMBLO_SERIAL_ERROR(EModem, ESerialException)
TAMBLO_SERIAL_ERROR(ETrigger, ESerialException)
TAMBLO_SERIAL_ERROR(EProtocol, ESerialException)
TAMBLO_SERIAL_ERROR(EINI, ESerialException)
TAMBLO_SERIAL_ERROR(EFax, ESerialException)
TAMBLO_SERIAL_ERROR(ETapi, ESerialException)
TAMBLO_SERIAL_ERROR(ERas, ESerialException)

// General
TAMBLO_SERIAL_ERROR(EBadArgument, EGeneral)
TAMBLO_SERIAL_ERROR(EGotQuitMsg, EGeneral)
TAMBLO_SERIAL_ERROR(EBufferTooBig, EGeneral)
TAMBLO_SERIAL_ERROR(EPortNotAssigned, EGeneral)
TAMBLO_SERIAL_ERROR(EInternal, EGeneral)
TAMBLO_SERIAL_ERROR(EModemNotAssigned, EGeneral)
TAMBLO_SERIAL_ERROR(EPhonebookNotAssigned, EGeneral)
TAMBLO_SERIAL_ERROR(ECannotUseWithWinSock, EGeneral)

// Opening the port
TAMBLO_SERIAL_ERROR(EBadId, EOpenComm)
TAMBLO_SERIAL_ERROR(EBaudRate, EOpenComm)
TAMBLO_SERIAL_ERROR(EByteSize, EOpenComm)
TAMBLO_SERIAL_ERROR(EDefault, EOpenComm)
TAMBLO_SERIAL_ERROR(EHardware, EOpenComm)
TAMBLO_SERIAL_ERROR(EMemory, EOpenComm)
TAMBLO_SERIAL_ERROR(ECommNotOpen, EOpenComm)
TAMBLO_SERIAL_ERROR(EAlreadyOpen, EOpenComm)
TAMBLO_SERIAL_ERROR(ENoHandles, EOpenComm)
TAMBLO_SERIAL_ERROR(ENoTimers, EOpenComm)
TAMBLO_SERIAL_ERROR(ENoPortSelected, EOpenComm)
TAMBLO_SERIAL_ERROR(ENotOpenedByTapi, EOpenComm)

// Input and output
TAMBLO_SERIAL_ERROR(ENullApi, ESerialIO)
TAMBLO_SERIAL_ERROR(ERegisterHandlerFailed, ESerialIO)
TAMBLO_SERIAL_ERROR(EPutBlockFail, ESerialIO)
// The line hung up (the device was unplugged): a block that could not be put, told as such.
TAMBLO_SERIAL_ERROR(ELineGone, EPutBlockFail)
TAMBLO_SERIAL_ERROR(EGetBlockFail, ESerialIO)
TAMBLO_SERIAL_ERROR(EOutputBufferTooSmall, ESerialIO)
TAMBLO_SERIAL_ERROR(EBufferIsEmpty, ESerialIO)
TAMBLO_SERIAL_ERROR(ETracingNotEnabled, ESerialIO)
TAMBLO_SERIAL_ERROR(ELoggingNotEnabled, ESerialIO)
TAMBLO_SERIAL_ERROR(EBaseAddressNotSet, ESerialIO)

// Modem
TAMBLO_SERIAL_ERROR(EModemNotStarted, EModem)
TAMBLO_SERIAL_ERROR(EModemBusy, EModem)
TAMBLO_SERIAL_ERROR(EModemNotDialing, EModem)
TAMBLO_SERIAL_ERROR(EModemNotResponding, EModem)
TAMBLO_SERIAL_ERROR(EModemRejectedCommand, EModem)
TAMBLO_SERIAL_ERROR(EModemStatusMismatch, EModem)
TAMBLO_SERIAL_ERROR(EAlreadyDialing, EModem)
TAMBLO_SERIAL_ERROR(ENotDialing, EModem)

// Triggers
TAMBLO_SERIAL_ERROR(ENoMoreTriggers, ETrigger)
TAMBLO_SERIAL_ERROR(ETriggerTooLong, ETrigger)
TAMBLO_SERIAL_ERROR(EBadTriggerHandle, ETrigger)

// INI database
TAMBLO_SERIAL_ERROR(EKeyTooLong, EINI)
TAMBLO_SERIAL_ERROR(EDataTooLarge, EINI)
TAMBLO_SERIAL_ERROR(EIniWrite, EINI)
TAMBLO_SERIAL_ERROR(EIniRead, EINI)
TAMBLO_SERIAL_ERROR(ERecordExists, EINI)
TAMBLO_SERIAL_ERROR(ERecordNotFound, EINI)
TAMBLO_SERIAL_ERROR(EDatabaseFull, EINI)
TAMBLO_SERIAL_ERROR(EDatabaseEmpty, EINI)
TAMBLO_SERIAL_ERROR(EBadFieldList, EINI)
TAMBLO_SERIAL_ERROR(EBadFieldForIndex, EINI)

// Fax
TAMBLO_SERIAL_ERROR(EFaxBadFormat, EFax)
TAMBLO_SERIAL_ERROR(EBadGraphicsFormat, EFax)
TAMBLO_SERIAL_ERROR(EConvertAbort, EFax)
TAMBLO_SERIAL_ERROR(EUnpackAbort, EFax)
TAMBLO_SERIAL_ERROR(ECantMakeBitmap, EFax)
TAMBLO_SERIAL_ERROR(EInvalidPageNumber, EFax)
TAMBLO_SERIAL_ERROR(EFaxBadMachine, EFax)
TAMBLO_SERIAL_ERROR(EFaxBadModemResult, EFax)
TAMBLO_SERIAL_ERROR(EFaxTrainError, EFax)
TAMBLO_SERIAL_ERROR(EFaxInitError, EFax)
TAMBLO_SERIAL_ERROR(EFaxBusy, EFax)
TAMBLO_SERIAL_ERROR(EFaxVoiceCall, EFax)
TAMBLO_SERIAL_ERROR(EFaxDataCall, EFax)
TAMBLO_SERIAL_ERROR(EFaxNoDialTone, EFax)
TAMBLO_SERIAL_ERROR(EFaxNoCarrier, EFax)
TAMBLO_SERIAL_ERROR(EFaxSessionError, EFax)
TAMBLO_SERIAL_ERROR(EFaxPageError, EFax)

// Telephony
TAMBLO_SERIAL_ERROR(ETapiAllocated, ETapi)
TAMBLO_SERIAL_ERROR(ETapiBadDeviceID, ETapi)
TAMBLO_SERIAL_ERROR(ETapiBearerModeUnavail, ETapi)
TAMBLO_SERIAL_ERROR(ETapiCallUnavail, ETapi)
TAMBLO_SERIAL_ERROR(ETapiCompletionOverrun, ETapi)
TAMBLO_SERIAL_ERROR(ETapiConferenceFull, ETapi)
TAMBLO_SERIAL_ERROR(ETapiDialBilling, ETapi)
TAMBLO_SERIAL_ERROR(ETapiDialDialtone, ETapi)
TAMBLO_SERIAL_ERROR(ETapiDialPrompt, ETapi)
TAMBLO_SERIAL_ERROR(ETapiDialQuiet, ETapi)
TAMBLO_SERIAL_ERROR(ETapiIncompatibleApiVersion, ETapi)
TAMBLO_SERIAL_ERROR(ETapiIncompatibleExtVersion, ETapi)
TAMBLO_SERIAL_ERROR(ETapiIniFileCorrupt, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInUse, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalAddress, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalAddressID, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalAddressMode, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalAddressState, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalAppHandle, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalAppName, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalBearerMode, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalCallComplMode, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalCallHandle, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalCallParams, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalCallPrivilege, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalCallSelect, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalCallState, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalCallStatelist, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalCard, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalCompletionID, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalConfCallHandle, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalConsultCallHandle, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalCountryCode, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalDeviceClass, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalDeviceHandle, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalDialParams, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalDigitList, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalDigitMode, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalDigits, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalExtVersion, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalGroupID, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalLineHandle, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalLineState, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalLocation, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalMediaList, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalMediaMode, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalMessageID, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalParam, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalParkID, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalParkMode, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalPointer, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalPrivSelect, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalRate, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalRequestMode, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalTerminalID, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalTerminalMode, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalTimeout, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalTone, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalToneList, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalToneMode, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalTransferMode, ETapi)
TAMBLO_SERIAL_ERROR(ETapiLineMapperFailed, ETapi)
TAMBLO_SERIAL_ERROR(ETapiNoConference, ETapi)
TAMBLO_SERIAL_ERROR(ETapiNoDevice, ETapi)
TAMBLO_SERIAL_ERROR(ETapiNoDriver, ETapi)
TAMBLO_SERIAL_ERROR(ETapiNoMem, ETapi)
TAMBLO_SERIAL_ERROR(ETapiNoRequest, ETapi)
TAMBLO_SERIAL_ERROR(ETapiNotOwner, ETapi)
TAMBLO_SERIAL_ERROR(ETapiNotRegistered, ETapi)
TAMBLO_SERIAL_ERROR(ETapiOperationFailed, ETapi)
TAMBLO_SERIAL_ERROR(ETapiOperationUnavail, ETapi)
TAMBLO_SERIAL_ERROR(ETapiRateUnavail, ETapi)
TAMBLO_SERIAL_ERROR(ETapiResourceUnavail, ETapi)
TAMBLO_SERIAL_ERROR(ETapiRequestOverrun, ETapi)
TAMBLO_SERIAL_ERROR(ETapiStructureTooSmall, ETapi)
TAMBLO_SERIAL_ERROR(ETapiTargetNotFound, ETapi)
TAMBLO_SERIAL_ERROR(ETapiTargetSelf, ETapi)
TAMBLO_SERIAL_ERROR(ETapiUninitialized, ETapi)
TAMBLO_SERIAL_ERROR(ETapiUserUserInfoTooBig, ETapi)
TAMBLO_SERIAL_ERROR(ETapiReinit, ETapi)
TAMBLO_SERIAL_ERROR(ETapiAddressBlocked, ETapi)
TAMBLO_SERIAL_ERROR(ETapiBillingRejected, ETapi)
TAMBLO_SERIAL_ERROR(ETapiInvalFeature, ETapi)
TAMBLO_SERIAL_ERROR(ETapiNoMultipleInstance, ETapi)
TAMBLO_SERIAL_ERROR(ETapiBusy, ETapi)
TAMBLO_SERIAL_ERROR(ETapiNotSet, ETapi)
TAMBLO_SERIAL_ERROR(ETapiNoSelect, ETapi)
TAMBLO_SERIAL_ERROR(ETapiLoadFail, ETapi)
TAMBLO_SERIAL_ERROR(ETapiGetAddrFail, ETapi)
TAMBLO_SERIAL_ERROR(ETapiVoiceNotSupported, ETapi)
TAMBLO_SERIAL_ERROR(ETapiWaveFail, ETapi)
TAMBLO_SERIAL_ERROR(ETapiTranslateFail, ETapi)

// Remote access
TAMBLO_SERIAL_ERROR(ERasLoadFail, ERas)

#undef TAMBLO_SERIAL_ERROR

// Passes a result code of the serial link through on behalf of a port component: codes of 0 and
// above are returned as they are, and so is every code while the port is still loading from the
// window's description. Any other code raises the exception its value selects.
int RaiseOnError(const TComponent &port, int code);
