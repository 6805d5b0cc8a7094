#include "base/Component.h"
#include "serial/MessageTable.h"
#include "serial/SerialErrors.h"
#include "serial/SystemErrors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <typeindex>
#include <typeinfo>
#include <utility>
#include <vector>

namespace {

// A port stand-in: only its loading state matters to RaiseOnError.
class FakePort : public TComponent {};

// The codes below are written as numbers on purpose: these tests pin the published numbering,
// which the names in SystemErrors.h must keep.

std::string LinuxWords(int errnoValue) { return CleanSystemMessage(std::strerror(errnoValue)); }

// The codes the table must hold, as runs of first and last code.
std::vector<int> ExpectedCodes()
{
    const std::vector<std::pair<int, int>> runs = {
        {0, 0},           {-2, -6},         {-8, -8},         {-15, -15},       {-18, -18},       {-100, -105},
        {-150, -162},     {-1001, -1009},   {-2001, -2012},   {-3001, -3010},   {-4001, -4017},   {-4020, -4021},
        {4101, 4101},     {4200, 4213},     {4301, 4312},     {4401, 4403},     {4500, 4523},     {4550, 4553},
        {4599, 4611},     {4630, 4633},     {4660, 4671},     {4700, 4728},     {4730, 4730},     {4801, 4808},
        {4820, 4828},     {4830, 4832},     {4840, 4843},     {-5001, -5003},   {-5501, -5506},   {-6001, -6016},
        {-7001, -7014},   {-7500, -7502},   {-8001, -8005},   {-8050, -8055},   {-8060, -8075},   {-8080, -8083},
        {-8085, -8085},   {-8087, -8092},   {-8100, -8103},   {-8300, -8305},   {-8310, -8318},   {-8320, -8322},
        {-8330, -8332},   {-8340, -8340},   {-8500, -8500},   {9001, 9007},     {10000, 10000},   {10004, 10004},
        {10009, 10009},   {10013, 10014},   {10022, 10022},   {10024, 10024},   {10035, 10071},   {10091, 10093},
        {10101, 10101},   {11001, 11004},   {13501, 13516},   {13533, 13557},   {13565, 13565},   {13597, 13601},
        {13650, 13670},   {-13801, -13803}, {-13805, -13848}, {-13850, -13886}, {-13928, -13932}, {13933, 13933},
        {-13934, -13945}, {-13950, -13959}, {-13980, -13980}, {15001, 15021},   {15100, 15351},   {15501, 15502},
        {15601, 15608},   {15700, 15742},
    };
    std::vector<int> codes;
    for (const auto &[first, last] : runs) {
        const int step = last >= first ? 1 : -1;
        for (int code = first; code != last + step; code += step)
            codes.push_back(code);
    }
    return codes;
}

TEST(MessageTable, HoldsEveryCodeOnceInAscendingMagnitude)
{
    const auto table = MessageTable();
    ASSERT_EQ(table.size(), 892u);
    std::vector<int> codes;
    for (const MessageRow &row : table)
        codes.push_back(row.Code);
    EXPECT_EQ(codes, ExpectedCodes());
    for (size_t i = 1; i < table.size(); ++i)
        EXPECT_LT(std::abs(table[i - 1].Code), std::abs(table[i].Code)) << "row " << i;
}

TEST(MessageTable, ElevenRowsAreEmptyAndEveryOtherRowHasAShortText)
{
    const std::set<int> empty = {4200, 4600, 4630, 4660, 4725, 4726, 4727, 4728, 4730, 10000, 15100};
    for (const MessageRow &row : MessageTable()) {
        const std::string text = row.Text;
        if (empty.count(row.Code))
            EXPECT_EQ(text, "") << row.Code;
        else
            EXPECT_TRUE(!text.empty() && text.size() <= 255) << row.Code;
    }
}

TEST(MessageTable, QuotedTextsAreExact)
{
    const std::vector<std::pair<int, const char *>> quoted = {
        {0, "OK"},
        {-2, "File not found"},
        {-3, "Path not found"},
        {-4, "Too many open files"},
        {-5, "File access denied"},
        {-6, "Invalid file handle"},
        {-8, "Insufficient memory"},
        {-15, "Invalid drive"},
        {-18, "No more files"},
        {-100, "Attempt to read beyond end of file"},
        {-101, "Disk is full"},
        {-102, "File/device not assigned"},
        {-103, "File/device not open"},
        {-104, "File/device not open for input"},
        {-105, "File/device not open for output"},
        {-150, "Disk is write-protected"},
        {-151, "Unknown disk unit"},
        {-152, "Drive is not ready"},
        {-153, "Unknown command"},
        {-154, "Data error"},
        {-155, "Bad request structure length"},
        {-156, "Seek error"},
        {-157, "Unknown media type"},
        {-158, "Disk sector not found"},
        {-159, "Printer is out of paper"},
        {-160, "Device write error"},
        {-161, "Device read error"},
        {-162, "General failure"},
        {-1001, "Bad handle passed to com function"},
        {-1002, "Bad argument passed to function"},
        {-1003, "Got quit message"},
        {-1004, "Terminal buffer greater than 65521"},
        {-1005, "ComPort component not assigned"},
        {-1006, "Internal error creating window class"},
        {-1007, "Modem component not assigned"},
        {-1008, "Phonebook component not assigned"},
        {-1009, "Component not compatible with WinSock"},
        {-2001, "ie_BadId - Specified comport doesn't exist"},
        {-2002, "ie_Baudrate - unsupported baud rate"},
        {-2003, "ie_Bytesize - invalid byte size"},
        {-2004, "ie_Default - error in default parameters"},
        {-2005, "ie_Hardware - Specified comport in use"},
        {-2006, "ie_Memory - unable to allocate queues"},
        {-2007, "ie_NOpen - device not open"},
        {-2008, "ie_Open - device already open"},
        {-2009, "No more handles, can't open port"},
        {-2010, "No timers available"},
        {-2011, "The ComNumber property of the TComPort has not been set"},
        {-2012, "Comport was not opened by Tapi"},
        {-3001, "No device layer specified"},
        {-3002, "Function not supported by driver"},
        {-3003, "EnableCommNotification failed"},
        {-3004, "Failed to put entire block"},
        {-3005, "Failed to get entire block"},
        {-3006, "Output buffer too small for block"},
        {-3007, "Buffer is empty"},
        {-3008, "Tracing not enabled"},
        {-3009, "Logging not enabled"},
        {-3010, "Base address not set"},
    };
    for (const auto &[code, text] : quoted) {
        EXPECT_EQ(MessageForCode(code), text) << code;
        EXPECT_EQ(MessageForCode(-code), text) << -code;
    }
}

TEST(MessageForCode, ComparesMagnitudesOfSixteenBitCodes)
{
    const std::string stored = MessageForCode(13933);
    EXPECT_FALSE(stored.empty());
    EXPECT_EQ(MessageForCode(-13933), stored);
    // The first and last rows are reachable by the search.
    EXPECT_EQ(MessageForCode(0), "OK");
    EXPECT_EQ(MessageForCode(15742), MessageTable().back().Text);
    // Only the low 16 bits of a code take part.
    EXPECT_EQ(MessageForCode(-2001 - 65536), "ie_BadId - Specified comport doesn't exist");
}

TEST(MessageForCode, FallsBackToTheSystemsWordsForCodesWithoutText)
{
    // No row for 87 or 1117: Linux's words for EINVAL and EIO.
    EXPECT_EQ(MessageForCode(87), LinuxWords(EINVAL));
    EXPECT_EQ(MessageForCode(-87), LinuxWords(EINVAL));
    EXPECT_EQ(MessageForCode(1117), LinuxWords(EIO));
    // A row with text wins over the system.
    EXPECT_EQ(MessageForCode(5), "File access denied");
    // Empty rows and unknown numbers with no system words stay empty.
    EXPECT_EQ(MessageForCode(10000), "");
    EXPECT_EQ(MessageForCode(7), "");
    EXPECT_EQ(MessageForCode(32000), "");
}

TEST(CleanSystemMessage, TurnsControlCharactersIntoSingleSpaces)
{
    EXPECT_EQ(CleanSystemMessage("The parameter is incorrect.\r\n"), "The parameter is incorrect. ");
    EXPECT_EQ(CleanSystemMessage("\r\nfirst line\r\n\r\nsecond\tline   end"), " first line second line end");
    EXPECT_EQ(CleanSystemMessage("no change"), "no change");
    EXPECT_EQ(CleanSystemMessage(""), "");
    // Bytes of UTF-8 text are above 127, not control characters.
    EXPECT_EQ(CleanSystemMessage("Ung\xc3\xbcltiges  Argument"), "Ung\xc3\xbcltiges Argument");
}

TEST(SystemErrors, MapErrnoToTheWindowsNumbering)
{
    EXPECT_EQ(SystemErrorFromErrno(ENOENT), SystemError::FileNotFound);
    EXPECT_EQ(SystemErrorFromErrno(ENXIO), SystemError::FileNotFound);
    EXPECT_EQ(SystemErrorFromErrno(EIO), SystemError::FileNotFound);
    EXPECT_EQ(SystemErrorFromErrno(EACCES), SystemError::AccessDenied);
    EXPECT_EQ(SystemErrorFromErrno(EBUSY), SystemError::AccessDenied);
    EXPECT_EQ(SystemErrorFromErrno(EWOULDBLOCK), SystemError::AccessDenied);
    EXPECT_EQ(SystemErrorFromErrno(ENOMEM), SystemError::NotEnoughMemory);
    EXPECT_EQ(SystemErrorFromErrno(EINVAL), SystemError::InvalidParameter);
    EXPECT_EQ(SystemErrorFromErrno(EDOM), SystemError::GenFailure);

    EXPECT_EQ(SystemErrorText(SystemError::AccessDenied), std::strerror(EACCES));
    EXPECT_EQ(SystemErrorText(SystemError::InvalidParameter), std::strerror(EINVAL));
    EXPECT_EQ(SystemErrorText(SystemError::GenFailure), std::strerror(EIO));
    EXPECT_EQ(SystemErrorText(7), "");
}

TEST(SerialExceptionConstructors, KeepTheCodeOrTheText)
{
    const ENoPortSelected fromCode(-2011);
    EXPECT_EQ(fromCode.FailureCode, -2011);
    EXPECT_EQ(fromCode.Message(), "The ComNumber property of the TComPort has not been set");
    EXPECT_STREQ(fromCode.what(), "The ComNumber property of the TComPort has not been set");

    const ENullApi fromText(std::string("No device layer here"));
    EXPECT_EQ(fromText.FailureCode, 0);
    EXPECT_EQ(fromText.Message(), "No device layer here");
}

TEST(RaiseOnError, PassesSuccessAndInformationalCodesThrough)
{
    FakePort port;
    for (const int code : {0, 1, 4101, 13933, 15742, INT_MAX})
        EXPECT_EQ(RaiseOnError(port, code), code);
}

TEST(RaiseOnError, PassesEveryCodeThroughWhileThePortIsLoading)
{
    std::unique_ptr<FakePort> port;
    {
        FormLoadingScope loading;
        port = std::make_unique<FakePort>();
    }
    ASSERT_TRUE(port->IsLoading());
    for (const int code : {-2001, -8, -87, -1001, -1, INT_MIN})
        EXPECT_EQ(RaiseOnError(*port, code), code);

    port->FinishLoading();
    EXPECT_THROW(RaiseOnError(*port, -2001), EBadId);
}

// Runs RaiseOnError and hands back what it raised, which must be exactly of the class Expected.
template <typename Expected>
Expected Raised(int code)
{
    FakePort port;
    try {
        RaiseOnError(port, code);
    } catch (const Expected &e) {
        EXPECT_EQ(typeid(e), typeid(Expected)) << code << " raised " << typeid(e).name();
        return e;
    } catch (const std::exception &e) {
        ADD_FAILURE() << code << " raised " << typeid(e).name();
        throw;
    }
    throw std::logic_error("RaiseOnError(" + std::to_string(code) + ") raised nothing");
}

// Checks that a code raises exactly Leaf, carrying the code and its table text.
template <typename Leaf>
void ExpectLeaf(int code)
{
    const Leaf e = Raised<Leaf>(code);
    EXPECT_EQ(e.FailureCode, code);
    EXPECT_EQ(e.Message(), MessageForCode(code));
    EXPECT_FALSE(e.Message().empty()) << code;
}

TEST(RaiseOnError, RaisesTheClassTheCodeSelects)
{
    const EBadId badId = Raised<EBadId>(-2001);
    EXPECT_EQ(badId.FailureCode, -2001);
    EXPECT_EQ(badId.Message(), "ie_BadId - Specified comport doesn't exist");

    // The codes of the port's own failure paths, then one of each other kind.
    ExpectLeaf<EAlreadyOpen>(-2008);
    ExpectLeaf<ENoPortSelected>(-2011);
    ExpectLeaf<ECommNotOpen>(-2007);
    ExpectLeaf<ENullApi>(-3001);
    ExpectLeaf<EOutputBufferTooSmall>(-3006);
    ExpectLeaf<EPutBlockFail>(-3004);
    ExpectLeaf<EBaseAddressNotSet>(-3010);
    ExpectLeaf<EBadArgument>(-1002);
    ExpectLeaf<ENotDialing>(-4004);
    ExpectLeaf<EAlreadyDialing>(-4005);
    ExpectLeaf<EBadTriggerHandle>(-5003);
    ExpectLeaf<EBadFieldForIndex>(-7014);
    ExpectLeaf<EInvalidPageNumber>(-8053);
    ExpectLeaf<EFaxPageError>(-8070);
    ExpectLeaf<ETapiBearerModeUnavail>(-13803);
    ExpectLeaf<ETapiCallUnavail>(-13805);
    ExpectLeaf<ETapiInvalMessageID>(-13848);
    ExpectLeaf<ETapiInvalParam>(-13850);
    ExpectLeaf<ETapiNoMultipleInstance>(-13886);
    ExpectLeaf<ETapiBusy>(-13928);
    ExpectLeaf<ETapiVoiceNotSupported>(-13935);
    ExpectLeaf<ETapiWaveFail>(-13936);
    ExpectLeaf<ETapiTranslateFail>(-13942);
    ExpectLeaf<ERasLoadFail>(-13980);
}

TEST(RaiseOnError, SeveralCodesShareInternalAndProtocol)
{
    for (const int code : {-1006, -7003, -7006, -7012})
        ExpectLeaf<EInternal>(code);
    EXPECT_EQ(Raised<EInternal>(-1006).Message(), "Internal error creating window class");
    EXPECT_NE(Raised<EInternal>(-7003).Message(), Raised<EInternal>(-7006).Message());

    for (const int code : {-6006, -6008, -6009})
        ExpectLeaf<EProtocol>(code);
}

TEST(RaiseOnError, SystemRangeRaisesInOutErrorsAndOutOfMemory)
{
    FakePort port;
    try {
        RaiseOnError(port, -8);
        ADD_FAILURE() << "-8 raised nothing";
    } catch (const EInOutError &) {
        ADD_FAILURE() << "-8 raised EInOutError";
    } catch (const EOutOfMemory &e) {
        EXPECT_EQ(e.Message(), "Out of memory");
    }

    const EInOutError invalid = Raised<EInOutError>(-87);
    EXPECT_EQ(invalid.ErrorCode, 87);
    EXPECT_EQ(invalid.Message(), LinuxWords(EINVAL));

    const EInOutError notFound = Raised<EInOutError>(-2);
    EXPECT_EQ(notFound.ErrorCode, 2);
    EXPECT_EQ(notFound.Message(), "File not found");

    const EInOutError edge = Raised<EInOutError>(-162);
    EXPECT_EQ(edge.ErrorCode, 162);
    EXPECT_EQ(edge.Message(), "General failure");
}

TEST(RaiseOnError, OtherNegativeCodesRaiseTheGenericException)
{
    // Rows without a class, numbers just outside the system range, and codes with no row at all.
    for (const int code : {-1001, -3002, -4009, -4021, -1, -163, -1117, -13804, -13934, INT_MIN}) {
        const ESerialException e = Raised<ESerialException>(code);
        EXPECT_EQ(e.FailureCode, 0) << code;
        EXPECT_EQ(e.Message(), "Serial link exception") << code;
    }
}

// The category a selecting code's class belongs to, by the code's range.
bool InExpectedCategory(int code, const ESerialException &e)
{
    if (code == -7003 || code == -7006 || code == -7012)
        return typeid(e) == typeid(EInternal);
    if (code == -13980)
        return dynamic_cast<const ERas *>(&e) != nullptr;
    switch (-code / 1000) {
    case 1: return dynamic_cast<const EGeneral *>(&e) != nullptr;
    case 2: return dynamic_cast<const EOpenComm *>(&e) != nullptr;
    case 3: return dynamic_cast<const ESerialIO *>(&e) != nullptr;
    case 4: return dynamic_cast<const EModem *>(&e) != nullptr;
    case 5: return dynamic_cast<const ETrigger *>(&e) != nullptr;
    case 6: return typeid(e) == typeid(EProtocol);
    case 7: return dynamic_cast<const EINI *>(&e) != nullptr;
    case 8: return dynamic_cast<const EFax *>(&e) != nullptr;
    case 13: return dynamic_cast<const ETapi *>(&e) != nullptr;
    default: return false;
    }
}

TEST(RaiseOnError, EveryFailureRowRaisesItsClassOrTheGenericException)
{
    // Outside the system range a failure row either selects a class, which then carries the code and
    // the row's text, or raises the generic exception. 166 codes select 161 distinct classes: every
    // leaf once, except EInternal with four codes, and EProtocol with three.
    int selecting = 0;
    std::set<std::type_index> classes;
    FakePort port;
    for (const MessageRow &row : MessageTable()) {
        if (row.Code >= 0 || (row.Code >= -162 && row.Code <= -2))
            continue;
        try {
            RaiseOnError(port, row.Code);
            ADD_FAILURE() << row.Code << " raised nothing";
        } catch (const ESerialException &e) {
            if (e.FailureCode == 0) {
                EXPECT_EQ(typeid(e), typeid(ESerialException)) << row.Code;
                EXPECT_EQ(e.Message(), "Serial link exception");
                continue;
            }
            ++selecting;
            classes.insert(typeid(e));
            EXPECT_TRUE(InExpectedCategory(row.Code, e)) << row.Code << " raised " << typeid(e).name();
            EXPECT_EQ(e.FailureCode, row.Code);
            EXPECT_EQ(e.Message(), row.Text);
        }
    }
    EXPECT_EQ(selecting, 166);
    EXPECT_EQ(classes.size(), 161u);
}

TEST(RaiseOnError, CallersCatchByKind)
{
    FakePort port;
    EXPECT_THROW(RaiseOnError(port, -2008), EOpenComm);
    EXPECT_THROW(RaiseOnError(port, -2011), EOpenComm);
    EXPECT_THROW(RaiseOnError(port, -3004), ESerialIO);
    EXPECT_THROW(RaiseOnError(port, -1006), EGeneral);
    EXPECT_THROW(RaiseOnError(port, -7012), ESerialException);
    EXPECT_THROW(RaiseOnError(port, -13931), ETapi);
    // Everything the port raises is an Exception the application can show.
    for (const int code : {-2001, -8, -87, -1001})
        EXPECT_THROW(RaiseOnError(port, code), Exception) << code;
}

} // namespace
