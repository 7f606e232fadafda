#include "platform/ComInit.h"
#include "platform/Result.h"
#include "platform/Unknown.h"
#include "util/ComException.h"
#include "util/ComPtr.h"
#include "util/ErrorReport.h"
#include "util/Log.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

TEST(CheckHr, NegativeRaisesWithTheContext) {
    EXPECT_EQ(checkHr(S_FALSE), S_FALSE);
    try {
        checkHr(E_FAIL, "IStoreNamespace::Initialize");
        FAIL() << "no exception";
    } catch (const ComException& e) {
        EXPECT_EQ(e.hr(), E_FAIL);
        EXPECT_STREQ(e.what(), "IStoreNamespace::Initialize");
    }
}

TEST(ShowComError, TextAndCaptionOfTheBox) {
    std::vector<std::pair<std::string, std::string>> shown;
    ErrorReporter previous =
        setErrorReporter([&](const std::string& caption, const std::string& text) {
            shown.emplace_back(caption, text);
        });
    try {
        checkHr(MIME_E_NOT_FOUND);
    } catch (const ComException& e) {
        showComError(e, "inbox notify");
    }
    showComError(ComException(E_FAIL, "CoCreateInstance error"), "x");
    setErrorReporter(previous);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].first, "Error");
    // A plain check has nothing after the colon and blank.
    EXPECT_EQ(shown[0].second, "com error 0x800cce05:  in context 'inbox notify'");
    EXPECT_EQ(shown[1].second, "com error 0x80004005: CoCreateInstance error in context 'x'");
}

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
