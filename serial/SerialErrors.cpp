#include "serial/SerialErrors.h"

#include "base/Component.h"
#include "serial/MessageTable.h"

ESerialException::ESerialException(int code) : Exception(MessageForCode(code)), FailureCode(code) {}

ESerialException::ESerialException(const std::string &text) : Exception(text), FailureCode(0) {}

namespace {

// Raises the class that a code selects; returns when no class is selected by it.
void RaiseClassForCode(int code)
{
#define RAISE_FOR(value, Class) \
    case value:                 \
        throw Class(code);

    switch (code) {
        RAISE_FOR(-1002, EBadArgument)
        RAISE_FOR(-1003, EGotQuitMsg)
        RAISE_FOR(-1004, EBufferTooBig)
        RAISE_FOR(-1005, EPortNotAssigned)
        RAISE_FOR(-1006, EInternal)
        RAISE_FOR(-7003, EInternal)
        RAISE_FOR(-7006, EInternal)
        RAISE_FOR(-7012, EInternal)
        RAISE_FOR(-1007, EModemNotAssigned)
        RAISE_FOR(-1008, EPhonebookNotAssigned)
        RAISE_FOR(-1009, ECannotUseWithWinSock)

        RAISE_FOR(-2001, EBadId)
        RAISE_FOR(-2002, EBaudRate)
        RAISE_FOR(-2003, EByteSize)
        RAISE_FOR(-2004, EDefault)
        RAISE_FOR(-2005, EHardware)
        RAISE_FOR(-2006, EMemory)
        RAISE_FOR(-2007, ECommNotOpen)
        RAISE_FOR(-2008, EAlreadyOpen)
        RAISE_FOR(-2009, ENoHandles)
        RAISE_FOR(-2010, ENoTimers)
        RAISE_FOR(-2011, ENoPortSelected)
        RAISE_FOR(-2012, ENotOpenedByTapi)

        RAISE_FOR(-3001, ENullApi)
        RAISE_FOR(-3003, ERegisterHandlerFailed)
        RAISE_FOR(-3004, EPutBlockFail)
        RAISE_FOR(-3005, EGetBlockFail)
        RAISE_FOR(-3006, EOutputBufferTooSmall)
        RAISE_FOR(-3007, EBufferIsEmpty)
        RAISE_FOR(-3008, ETracingNotEnabled)
        RAISE_FOR(-3009, ELoggingNotEnabled)
        RAISE_FOR(-3010, EBaseAddressNotSet)

        RAISE_FOR(-4001, EModemNotStarted)
        RAISE_FOR(-4002, EModemBusy)
        RAISE_FOR(-4003, EModemNotDialing)
        RAISE_FOR(-4004, ENotDialing)
        RAISE_FOR(-4005, EAlreadyDialing)
        RAISE_FOR(-4006, EModemNotResponding)
        RAISE_FOR(-4007, EModemRejectedCommand)
        RAISE_FOR(-4008, EModemStatusMismatch)

        RAISE_FOR(-5001, ENoMoreTriggers)
        RAISE_FOR(-5002, ETriggerTooLong)
        RAISE_FOR(-5003, EBadTriggerHandle)

        RAISE_FOR(-6006, EProtocol)
        RAISE_FOR(-6008, EProtocol)
        RAISE_FOR(-6009, EProtocol)

        RAISE_FOR(-7001, EKeyTooLong)
        RAISE_FOR(-7002, EDataTooLarge)
        RAISE_FOR(-7004, EIniWrite)
        RAISE_FOR(-7005, EIniRead)
        RAISE_FOR(-7007, ERecordExists)
        RAISE_FOR(-7008, ERecordNotFound)
        RAISE_FOR(-7010, EDatabaseFull)
        RAISE_FOR(-7011, EDatabaseEmpty)
        RAISE_FOR(-7013, EBadFieldList)
        RAISE_FOR(-7014, EBadFieldForIndex)

        RAISE_FOR(-8001, EFaxBadFormat)
        RAISE_FOR(-8002, EBadGraphicsFormat)
        RAISE_FOR(-8003, EConvertAbort)
        RAISE_FOR(-8004, EUnpackAbort)
        RAISE_FOR(-8005, ECantMakeBitmap)
        RAISE_FOR(-8053, EInvalidPageNumber)
        RAISE_FOR(-8060, EFaxBadMachine)
        RAISE_FOR(-8061, EFaxBadModemResult)
        RAISE_FOR(-8062, EFaxTrainError)
        RAISE_FOR(-8063, EFaxInitError)
        RAISE_FOR(-8064, EFaxBusy)
        RAISE_FOR(-8065, EFaxVoiceCall)
        RAISE_FOR(-8066, EFaxDataCall)
        RAISE_FOR(-8067, EFaxNoDialTone)
        RAISE_FOR(-8068, EFaxNoCarrier)
        RAISE_FOR(-8069, EFaxSessionError)
        RAISE_FOR(-8070, EFaxPageError)

        RAISE_FOR(-13801, ETapiAllocated)
        RAISE_FOR(-13802, ETapiBadDeviceID)
        RAISE_FOR(-13803, ETapiBearerModeUnavail)
        RAISE_FOR(-13805, ETapiCallUnavail)
        RAISE_FOR(-13806, ETapiCompletionOverrun)
        RAISE_FOR(-13807, ETapiConferenceFull)
        RAISE_FOR(-13808, ETapiDialBilling)
        RAISE_FOR(-13809, ETapiDialDialtone)
        RAISE_FOR(-13810, ETapiDialPrompt)
        RAISE_FOR(-13811, ETapiDialQuiet)
        RAISE_FOR(-13812, ETapiIncompatibleApiVersion)
        RAISE_FOR(-13813, ETapiIncompatibleExtVersion)
        RAISE_FOR(-13814, ETapiIniFileCorrupt)
        RAISE_FOR(-13815, ETapiInUse)
        RAISE_FOR(-13816, ETapiInvalAddress)
        RAISE_FOR(-13817, ETapiInvalAddressID)
        RAISE_FOR(-13818, ETapiInvalAddressMode)
        RAISE_FOR(-13819, ETapiInvalAddressState)
        RAISE_FOR(-13820, ETapiInvalAppHandle)
        RAISE_FOR(-13821, ETapiInvalAppName)
        RAISE_FOR(-13822, ETapiInvalBearerMode)
        RAISE_FOR(-13823, ETapiInvalCallComplMode)
        RAISE_FOR(-13824, ETapiInvalCallHandle)
        RAISE_FOR(-13825, ETapiInvalCallParams)
        RAISE_FOR(-13826, ETapiInvalCallPrivilege)
        RAISE_FOR(-13827, ETapiInvalCallSelect)
        RAISE_FOR(-13828, ETapiInvalCallState)
        RAISE_FOR(-13829, ETapiInvalCallStatelist)
        RAISE_FOR(-13830, ETapiInvalCard)
        RAISE_FOR(-13831, ETapiInvalCompletionID)
        RAISE_FOR(-13832, ETapiInvalConfCallHandle)
        RAISE_FOR(-13833, ETapiInvalConsultCallHandle)
        RAISE_FOR(-13834, ETapiInvalCountryCode)
        RAISE_FOR(-13835, ETapiInvalDeviceClass)
        RAISE_FOR(-13836, ETapiInvalDeviceHandle)
        RAISE_FOR(-13837, ETapiInvalDialParams)
        RAISE_FOR(-13838, ETapiInvalDigitList)
        RAISE_FOR(-13839, ETapiInvalDigitMode)
        RAISE_FOR(-13840, ETapiInvalDigits)
        RAISE_FOR(-13841, ETapiInvalExtVersion)
        RAISE_FOR(-13842, ETapiInvalGroupID)
        RAISE_FOR(-13843, ETapiInvalLineHandle)
        RAISE_FOR(-13844, ETapiInvalLineState)
        RAISE_FOR(-13845, ETapiInvalLocation)
        RAISE_FOR(-13846, ETapiInvalMediaList)
        RAISE_FOR(-13847, ETapiInvalMediaMode)
        RAISE_FOR(-13848, ETapiInvalMessageID)
        RAISE_FOR(-13850, ETapiInvalParam)
        RAISE_FOR(-13851, ETapiInvalParkID)
        RAISE_FOR(-13852, ETapiInvalParkMode)
        RAISE_FOR(-13853, ETapiInvalPointer)
        RAISE_FOR(-13854, ETapiInvalPrivSelect)
        RAISE_FOR(-13855, ETapiInvalRate)
        RAISE_FOR(-13856, ETapiInvalRequestMode)
        RAISE_FOR(-13857, ETapiInvalTerminalID)
        RAISE_FOR(-13858, ETapiInvalTerminalMode)
        RAISE_FOR(-13859, ETapiInvalTimeout)
        RAISE_FOR(-13860, ETapiInvalTone)
        RAISE_FOR(-13861, ETapiInvalToneList)
        RAISE_FOR(-13862, ETapiInvalToneMode)
        RAISE_FOR(-13863, ETapiInvalTransferMode)
        RAISE_FOR(-13864, ETapiLineMapperFailed)
        RAISE_FOR(-13865, ETapiNoConference)
        RAISE_FOR(-13866, ETapiNoDevice)
        RAISE_FOR(-13867, ETapiNoDriver)
        RAISE_FOR(-13868, ETapiNoMem)
        RAISE_FOR(-13869, ETapiNoRequest)
        RAISE_FOR(-13870, ETapiNotOwner)
        RAISE_FOR(-13871, ETapiNotRegistered)
        RAISE_FOR(-13872, ETapiOperationFailed)
        RAISE_FOR(-13873, ETapiOperationUnavail)
        RAISE_FOR(-13874, ETapiRateUnavail)
        RAISE_FOR(-13875, ETapiResourceUnavail)
        RAISE_FOR(-13876, ETapiRequestOverrun)
        RAISE_FOR(-13877, ETapiStructureTooSmall)
        RAISE_FOR(-13878, ETapiTargetNotFound)
        RAISE_FOR(-13879, ETapiTargetSelf)
        RAISE_FOR(-13880, ETapiUninitialized)
        RAISE_FOR(-13881, ETapiUserUserInfoTooBig)
        RAISE_FOR(-13882, ETapiReinit)
        RAISE_FOR(-13883, ETapiAddressBlocked)
        RAISE_FOR(-13884, ETapiBillingRejected)
        RAISE_FOR(-13885, ETapiInvalFeature)
        RAISE_FOR(-13886, ETapiNoMultipleInstance)
        RAISE_FOR(-13928, ETapiBusy)
        RAISE_FOR(-13929, ETapiNotSet)
        RAISE_FOR(-13930, ETapiNoSelect)
        RAISE_FOR(-13931, ETapiLoadFail)
        RAISE_FOR(-13932, ETapiGetAddrFail)
        RAISE_FOR(-13935, ETapiVoiceNotSupported)
        RAISE_FOR(-13936, ETapiWaveFail)
        RAISE_FOR(-13942, ETapiTranslateFail)

        RAISE_FOR(-13980, ERasLoadFail)
    default:
        break;
    }
#undef RAISE_FOR
}

// Codes in this range are negated operating-system error numbers.
constexpr int kFirstSystemCode = -162;
constexpr int kLastSystemCode = -2;
constexpr int kOutOfMemoryCode = -8;

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
        if (code == kOutOfMemoryCode)
            throw EOutOfMemory();
        const int systemError = -code;
        throw EInOutError(MessageForCode(systemError), systemError);
    }
    throw ESerialException(std::string("Serial link exception"));
}
