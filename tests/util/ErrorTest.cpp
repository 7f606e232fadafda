#include "platform/ComInit.h"
#include "platform/Result.h"
#include "platform/Unknown.h"
#include "util/ComException.h"
#include "util/ComPtr.h"
#include "util/ErrorReport.h"
#include "util/Log.h"

#include <gtest/gtest.h>

#include <cerrno>

#include <thread>
#include <vector>

TEST(CheckHr, NegativeRaisesWithTheContext) {
    EXPECT_EQ(checkHr(S_FALSE, "IStoreNamespace::Initialize"), S_FALSE);
    try {
        checkHr(E_FAIL, "IStoreNamespace::Initialize");
        FAIL() << "no exception";
    } catch (const ComException& e) {
        EXPECT_EQ(e.hr(), E_FAIL);
        EXPECT_STREQ(e.what(), "IStoreNamespace::Initialize");
    }
}

// Every error text names what failed and why, whatever the raiser gave.
struct ErrorTextCase {
    const char* name;
    HRESULT hr;
    const char* what;
    const char* text;
};

void PrintTo(const ErrorTextCase& c, std::ostream* out) {
    *out << c.name;
}

class ComErrorText : public testing::TestWithParam<ErrorTextCase> {};

TEST_P(ComErrorText, NamesTheCallAndTheReason) {
    const ErrorTextCase& c = GetParam();
    std::vector<std::pair<std::string, std::string>> shown;
    ErrorReporter previous =
        setErrorReporter([&](const std::string& caption, const std::string& text) {
            shown.emplace_back(caption, text);
        });
    showComError(ComException(c.hr, c.what), "Sorting a new message");
    setErrorReporter(previous);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].first, "Error");
    EXPECT_EQ(shown[0].second, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ComErrorText,
    testing::Values(
        ErrorTextCase{"errno", hresultFromErrno(ENOSPC), "copy inbox message 7 into folder 'A'",
                      "Sorting a new message failed: copy inbox message 7 into folder 'A': No "
                      "space left on device"},
        ErrorTextCase{"errno_unnamed_call", hresultFromErrno(ENOSPC), "",
                      "Sorting a new message failed: No space left on device"},
        ErrorTextCase{"named_code", MIME_E_NOT_FOUND, "open the text body",
                      "Sorting a new message failed: open the text body: the message has no "
                      "body of that kind"},
        ErrorTextCase{"named_code_in_errno_range", E_OUTOFMEMORY, "parse",
                      "Sorting a new message failed: parse: out of memory"},
        ErrorTextCase{"ids_used_up", STORE_E_NO_IDS_LEFT, "list the inbox",
                      "Sorting a new message failed: list the inbox: no message id left in the "
                      "folder"},
        // The plain failure code adds nothing to a text that says what failed.
        ErrorTextCase{"plain_failure", E_FAIL, "no inbox in the mail store",
                      "Sorting a new message failed: no inbox in the mail store"},
        ErrorTextCase{"plain_failure_unnamed", E_FAIL, "",
                      "Sorting a new message failed: unspecified failure"},
        ErrorTextCase{"unknown_code", static_cast<HRESULT>(0x80123456u), "",
                      "Sorting a new message failed: failure code 0x80123456"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DebugLog, EveryLineReachesTheSinkCutAt1023) {
    std::vector<std::string> lines;
    setLogToStderr(false);
    setLogSink([&](const std::string& line) { lines.push_back(line); });
    debugLog("ZELKO: jobvariant %d", 3);
    debugLog("%s", std::string(5000, 'x').c_str());
    setLogSink(nullptr);
    setLogToStderr(true);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "ZELKO: jobvariant 3");
    EXPECT_EQ(lines[1].size(), 1023u);
    EXPECT_EQ(formatString("%d%%", 80), "80%");
}

namespace {
struct Probe : ComObject<IUnknown> {
    explicit Probe(int* deaths) : deaths(deaths) {}
    ~Probe() override { ++*deaths; }
    int* deaths;
};
} // namespace

TEST(ComPtr, OutSlotReleasesFirstAndTheHolderReleasesLast) {
    int deaths = 0;
    {
        com_ptr<IUnknown> holder(new Probe(&deaths));
        IUnknown** slot = holder.out();
        EXPECT_EQ(deaths, 1); // the old object went before the callee fills the slot
        EXPECT_EQ(*slot, nullptr);
        *slot = new Probe(&deaths);
        com_ptr<IUnknown> copy = holder;
        EXPECT_EQ(copy.get(), holder.get());
    }
    EXPECT_EQ(deaths, 2);
}

TEST(ComInit, PerThreadPair) {
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    std::thread([] { EXPECT_FALSE(comInitialized()); }).join();
    CoUninitialize();
    CoUninitialize();
    EXPECT_FALSE(comInitialized());
}
