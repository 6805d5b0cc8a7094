#include "serial/SerialErrors.h"

#include "base/Component.h"
#include "serial/MessageTable.h"
#include "serial/SystemErrors.h"

ESerialException::ESerialException(int code) : Exception(MessageForCode(code)), FailureCode(code) {}

ESerialException::ESerialException(const std::string &text) : Exception(text), FailureCode(0) {}

ESerialException::ESerialException(int code, const std::string &text) : Exception(text), FailureCode(code) {}

namespace {

// Raises the class that a code selects; returns when no class is selected by it.
void RaiseClassForCode(int code)
{
#define RAISE_FOR(value, Class)                                                                                        \
    case value: throw Class(code);

    switch (code) {
        RAISE_FOR(SerialResult::BadArgument, EBadArgument)
        RAISE_FOR(SerialResult::GotQuitMsg, EGotQuitMsg)
        RAISE_FOR(SerialResult::BufferTooBig, EBufferTooBig)
        RAISE_FOR(SerialResult::PortNotAssigned, EPortNotAssigned)
        RAISE_FOR(SerialResult::Internal, EInternal)
        RAISE_FOR(SerialResult::InternalDatabase, EInternal)
        RAISE_FOR(SerialResult::InternalIndex, EInternal)
        RAISE_FOR(SerialResult::InternalField, EInternal)
        RAISE_FOR(SerialResult::ModemNotAssigned, EModemNotAssigned)
        RAISE_FOR(SerialResult::PhonebookNotAssigned, EPhonebookNotAssigned)
        RAISE_FOR(SerialResult::CannotUseWithWinSock, ECannotUseWithWinSock)

        RAISE_FOR(SerialResult::BadId, EBadId)
        RAISE_FOR(SerialResult::BaudRate, EBaudRate)
        RAISE_FOR(SerialResult::ByteSize, EByteSize)
        RAISE_FOR(SerialResult::Default, EDefault)
        RAISE_FOR(SerialResult::Hardware, EHardware)
        RAISE_FOR(SerialResult::Memory, EMemory)
        RAISE_FOR(SerialResult::CommNotOpen, ECommNotOpen)
        RAISE_FOR(SerialResult::AlreadyOpen, EAlreadyOpen)
        RAISE_FOR(SerialResult::NoHandles, ENoHandles)
        RAISE_FOR(SerialResult::NoTimers, ENoTimers)
        RAISE_FOR(SerialResult::NoPortSelected, ENoPortSelected)
        RAISE_FOR(SerialResult::NotOpenedByTapi, ENotOpenedByTapi)

        RAISE_FOR(SerialResult::NullApi, ENullApi)
        RAISE_FOR(SerialResult::RegisterHandlerFailed, ERegisterHandlerFailed)
        RAISE_FOR(SerialResult::PutBlockFail, EPutBlockFail)
        RAISE_FOR(SerialResult::GetBlockFail, EGetBlockFail)
        RAISE_FOR(SerialResult::OutputBufferTooSmall, EOutputBufferTooSmall)
        RAISE_FOR(SerialResult::BufferIsEmpty, EBufferIsEmpty)
        RAISE_FOR(SerialResult::TracingNotEnabled, ETracingNotEnabled)
        RAISE_FOR(SerialResult::LoggingNotEnabled, ELoggingNotEnabled)
        RAISE_FOR(SerialResult::BaseAddressNotSet, EBaseAddressNotSet)

        RAISE_FOR(SerialResult::ModemNotStarted, EModemNotStarted)
        RAISE_FOR(SerialResult::ModemBusy, EModemBusy)
        RAISE_FOR(SerialResult::ModemNotDialing, EModemNotDialing)
        RAISE_FOR(SerialResult::NotDialing, ENotDialing)
        RAISE_FOR(SerialResult::AlreadyDialing, EAlreadyDialing)
        RAISE_FOR(SerialResult::ModemNotResponding, EModemNotResponding)
        RAISE_FOR(SerialResult::ModemRejectedCommand, EModemRejectedCommand)
        RAISE_FOR(SerialResult::ModemStatusMismatch, EModemStatusMismatch)

        RAISE_FOR(SerialResult::NoMoreTriggers, ENoMoreTriggers)
        RAISE_FOR(SerialResult::TriggerTooLong, ETriggerTooLong)
        RAISE_FOR(SerialResult::BadTriggerHandle, EBadTriggerHandle)

        RAISE_FOR(SerialResult::TooManyErrors, EProtocol)
        RAISE_FOR(SerialResult::BlockOutOfSequence, EProtocol)
        RAISE_FOR(SerialResult::BlockCheckFailed, EProtocol)

        RAISE_FOR(SerialResult::KeyTooLong, EKeyTooLong)
        RAISE_FOR(SerialResult::DataTooLarge, EDataTooLarge)
        RAISE_FOR(SerialResult::IniWrite, EIniWrite)
        RAISE_FOR(SerialResult::IniRead, EIniRead)
        RAISE_FOR(SerialResult::RecordExists, ERecordExists)
        RAISE_FOR(SerialResult::RecordNotFound, ERecordNotFound)
        RAISE_FOR(SerialResult::DatabaseFull, EDatabaseFull)
        RAISE_FOR(SerialResult::DatabaseEmpty, EDatabaseEmpty)
        RAISE_FOR(SerialResult::BadFieldList, EBadFieldList)
        RAISE_FOR(SerialResult::BadFieldForIndex, EBadFieldForIndex)

        RAISE_FOR(SerialResult::FaxBadFormat, EFaxBadFormat)
        RAISE_FOR(SerialResult::BadGraphicsFormat, EBadGraphicsFormat)
        RAISE_FOR(SerialResult::ConvertAbort, EConvertAbort)
        RAISE_FOR(SerialResult::UnpackAbort, EUnpackAbort)
        RAISE_FOR(SerialResult::CantMakeBitmap, ECantMakeBitmap)
        RAISE_FOR(SerialResult::InvalidPageNumber, EInvalidPageNumber)
        RAISE_FOR(SerialResult::FaxBadMachine, EFaxBadMachine)
        RAISE_FOR(SerialResult::FaxBadModemResult, EFaxBadModemResult)
        RAISE_FOR(SerialResult::FaxTrainError, EFaxTrainError)
        RAISE_FOR(SerialResult::FaxInitError, EFaxInitError)
        RAISE_FOR(SerialResult::FaxBusy, EFaxBusy)
        RAISE_FOR(SerialResult::FaxVoiceCall, EFaxVoiceCall)
        RAISE_FOR(SerialResult::FaxDataCall, EFaxDataCall)
        RAISE_FOR(SerialResult::FaxNoDialTone, EFaxNoDialTone)
        RAISE_FOR(SerialResult::FaxNoCarrier, EFaxNoCarrier)
        RAISE_FOR(SerialResult::FaxSessionError, EFaxSessionError)
        RAISE_FOR(SerialResult::FaxPageError, EFaxPageError)

        RAISE_FOR(SerialResult::TapiAllocated, ETapiAllocated)
        RAISE_FOR(SerialResult::TapiBadDeviceID, ETapiBadDeviceID)
        RAISE_FOR(SerialResult::TapiBearerModeUnavail, ETapiBearerModeUnavail)
        RAISE_FOR(SerialResult::TapiCallUnavail, ETapiCallUnavail)
        RAISE_FOR(SerialResult::TapiCompletionOverrun, ETapiCompletionOverrun)
        RAISE_FOR(SerialResult::TapiConferenceFull, ETapiConferenceFull)
        RAISE_FOR(SerialResult::TapiDialBilling, ETapiDialBilling)
        RAISE_FOR(SerialResult::TapiDialDialtone, ETapiDialDialtone)
        RAISE_FOR(SerialResult::TapiDialPrompt, ETapiDialPrompt)
        RAISE_FOR(SerialResult::TapiDialQuiet, ETapiDialQuiet)
        RAISE_FOR(SerialResult::TapiIncompatibleApiVersion, ETapiIncompatibleApiVersion)
        RAISE_FOR(SerialResult::TapiIncompatibleExtVersion, ETapiIncompatibleExtVersion)
        RAISE_FOR(SerialResult::TapiIniFileCorrupt, ETapiIniFileCorrupt)
        RAISE_FOR(SerialResult::TapiInUse, ETapiInUse)
        RAISE_FOR(SerialResult::TapiInvalAddress, ETapiInvalAddress)
        RAISE_FOR(SerialResult::TapiInvalAddressID, ETapiInvalAddressID)
        RAISE_FOR(SerialResult::TapiInvalAddressMode, ETapiInvalAddressMode)
        RAISE_FOR(SerialResult::TapiInvalAddressState, ETapiInvalAddressState)
        RAISE_FOR(SerialResult::TapiInvalAppHandle, ETapiInvalAppHandle)
        RAISE_FOR(SerialResult::TapiInvalAppName, ETapiInvalAppName)
        RAISE_FOR(SerialResult::TapiInvalBearerMode, ETapiInvalBearerMode)
        RAISE_FOR(SerialResult::TapiInvalCallComplMode, ETapiInvalCallComplMode)
        RAISE_FOR(SerialResult::TapiInvalCallHandle, ETapiInvalCallHandle)
        RAISE_FOR(SerialResult::TapiInvalCallParams, ETapiInvalCallParams)
        RAISE_FOR(SerialResult::TapiInvalCallPrivilege, ETapiInvalCallPrivilege)
        RAISE_FOR(SerialResult::TapiInvalCallSelect, ETapiInvalCallSelect)
        RAISE_FOR(SerialResult::TapiInvalCallState, ETapiInvalCallState)
        RAISE_FOR(SerialResult::TapiInvalCallStatelist, ETapiInvalCallStatelist)
        RAISE_FOR(SerialResult::TapiInvalCard, ETapiInvalCard)
        RAISE_FOR(SerialResult::TapiInvalCompletionID, ETapiInvalCompletionID)
        RAISE_FOR(SerialResult::TapiInvalConfCallHandle, ETapiInvalConfCallHandle)
        RAISE_FOR(SerialResult::TapiInvalConsultCallHandle, ETapiInvalConsultCallHandle)
        RAISE_FOR(SerialResult::TapiInvalCountryCode, ETapiInvalCountryCode)
        RAISE_FOR(SerialResult::TapiInvalDeviceClass, ETapiInvalDeviceClass)
        RAISE_FOR(SerialResult::TapiInvalDeviceHandle, ETapiInvalDeviceHandle)
        RAISE_FOR(SerialResult::TapiInvalDialParams, ETapiInvalDialParams)
        RAISE_FOR(SerialResult::TapiInvalDigitList, ETapiInvalDigitList)
        RAISE_FOR(SerialResult::TapiInvalDigitMode, ETapiInvalDigitMode)
        RAISE_FOR(SerialResult::TapiInvalDigits, ETapiInvalDigits)
        RAISE_FOR(SerialResult::TapiInvalExtVersion, ETapiInvalExtVersion)
        RAISE_FOR(SerialResult::TapiInvalGroupID, ETapiInvalGroupID)
        RAISE_FOR(SerialResult::TapiInvalLineHandle, ETapiInvalLineHandle)
        RAISE_FOR(SerialResult::TapiInvalLineState, ETapiInvalLineState)
        RAISE_FOR(SerialResult::TapiInvalLocation, ETapiInvalLocation)
        RAISE_FOR(SerialResult::TapiInvalMediaList, ETapiInvalMediaList)
        RAISE_FOR(SerialResult::TapiInvalMediaMode, ETapiInvalMediaMode)
        RAISE_FOR(SerialResult::TapiInvalMessageID, ETapiInvalMessageID)
        RAISE_FOR(SerialResult::TapiInvalParam, ETapiInvalParam)
        RAISE_FOR(SerialResult::TapiInvalParkID, ETapiInvalParkID)
        RAISE_FOR(SerialResult::TapiInvalParkMode, ETapiInvalParkMode)
        RAISE_FOR(SerialResult::TapiInvalPointer, ETapiInvalPointer)
        RAISE_FOR(SerialResult::TapiInvalPrivSelect, ETapiInvalPrivSelect)
        RAISE_FOR(SerialResult::TapiInvalRate, ETapiInvalRate)
        RAISE_FOR(SerialResult::TapiInvalRequestMode, ETapiInvalRequestMode)
        RAISE_FOR(SerialResult::TapiInvalTerminalID, ETapiInvalTerminalID)
        RAISE_FOR(SerialResult::TapiInvalTerminalMode, ETapiInvalTerminalMode)
        RAISE_FOR(SerialResult::TapiInvalTimeout, ETapiInvalTimeout)
        RAISE_FOR(SerialResult::TapiInvalTone, ETapiInvalTone)
        RAISE_FOR(SerialResult::TapiInvalToneList, ETapiInvalToneList)
        RAISE_FOR(SerialResult::TapiInvalToneMode, ETapiInvalToneMode)
        RAISE_FOR(SerialResult::TapiInvalTransferMode, ETapiInvalTransferMode)
        RAISE_FOR(SerialResult::TapiLineMapperFailed, ETapiLineMapperFailed)
        RAISE_FOR(SerialResult::TapiNoConference, ETapiNoConference)
        RAISE_FOR(SerialResult::TapiNoDevice, ETapiNoDevice)
        RAISE_FOR(SerialResult::TapiNoDriver, ETapiNoDriver)
        RAISE_FOR(SerialResult::TapiNoMem, ETapiNoMem)
        RAISE_FOR(SerialResult::TapiNoRequest, ETapiNoRequest)
        RAISE_FOR(SerialResult::TapiNotOwner, ETapiNotOwner)
        RAISE_FOR(SerialResult::TapiNotRegistered, ETapiNotRegistered)
        RAISE_FOR(SerialResult::TapiOperationFailed, ETapiOperationFailed)
        RAISE_FOR(SerialResult::TapiOperationUnavail, ETapiOperationUnavail)
        RAISE_FOR(SerialResult::TapiRateUnavail, ETapiRateUnavail)
        RAISE_FOR(SerialResult::TapiResourceUnavail, ETapiResourceUnavail)
        RAISE_FOR(SerialResult::TapiRequestOverrun, ETapiRequestOverrun)
        RAISE_FOR(SerialResult::TapiStructureTooSmall, ETapiStructureTooSmall)
        RAISE_FOR(SerialResult::TapiTargetNotFound, ETapiTargetNotFound)
        RAISE_FOR(SerialResult::TapiTargetSelf, ETapiTargetSelf)
        RAISE_FOR(SerialResult::TapiUninitialized, ETapiUninitialized)
        RAISE_FOR(SerialResult::TapiUserUserInfoTooBig, ETapiUserUserInfoTooBig)
        RAISE_FOR(SerialResult::TapiReinit, ETapiReinit)
        RAISE_FOR(SerialResult::TapiAddressBlocked, ETapiAddressBlocked)
        RAISE_FOR(SerialResult::TapiBillingRejected, ETapiBillingRejected)
        RAISE_FOR(SerialResult::TapiInvalFeature, ETapiInvalFeature)
        RAISE_FOR(SerialResult::TapiNoMultipleInstance, ETapiNoMultipleInstance)
        RAISE_FOR(SerialResult::TapiBusy, ETapiBusy)
        RAISE_FOR(SerialResult::TapiNotSet, ETapiNotSet)
        RAISE_FOR(SerialResult::TapiNoSelect, ETapiNoSelect)
        RAISE_FOR(SerialResult::TapiLoadFail, ETapiLoadFail)
        RAISE_FOR(SerialResult::TapiGetAddrFail, ETapiGetAddrFail)
        RAISE_FOR(SerialResult::TapiVoiceNotSupported, ETapiVoiceNotSupported)
        RAISE_FOR(SerialResult::TapiWaveFail, ETapiWaveFail)
        RAISE_FOR(SerialResult::TapiTranslateFail, ETapiTranslateFail)

        RAISE_FOR(SerialResult::RasLoadFail, ERasLoadFail)
    default: break;
    }
#undef RAISE_FOR
}

// Codes in this range are negated operating-system error numbers.
constexpr int kFirstSystemCode = -162;
constexpr int kLastSystemCode = -2;

} // namespace

int RaiseOnError(const TComponent &port, int code)
{
    if (code >= 0)
        return code;
    // Property values applied while the window is still being built must not abort the build.
    if (port.IsLoading())
        return code;

    RaiseClassForCode(code);

    if (code >= kFirstSystemCode && code <= kLastSystemCode) {
        if (code == -SystemError::NotEnoughMemory)
            throw EOutOfMemory();
        const int systemError = -code;
        throw EInOutError(MessageForCode(systemError), systemError);
    }
    throw ESerialException(std::string("Serial link exception"));
}
