#include "mail/HtmlText.h"

#include "util/ComException.h"
#include "MailTestSupport.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

const std::string sharedLine = "shared HTML document created";
const std::string nonSharedLine = "NON shared HTML document created";

class HtmlText : public testing::Test {
protected:
    void SetUp() override {
        initMessageAccess();
        finalizeMessageAccess(); // a fresh start: no shared document yet
    }
    void TearDown() override { finalizeMessageAccess(); }
};

TEST_F(HtmlText, SharedDocumentIsCreatedOnceOnTheInitialisingThread) {
    LogRecorder log;
    EXPECT_EQ(htmlToText(u"<p>one</p>", false), u"one");
    EXPECT_EQ(htmlToText(u"<p>two</p>", false), u"two");
    EXPECT_EQ(htmlToText(u"<p>three</p>", false), u"three");
    EXPECT_EQ(log.count(sharedLine), 1);
    EXPECT_EQ(log.count(nonSharedLine), 0);
}

TEST_F(HtmlText, OtherThreadsGetADocumentOfTheirOwnPerCall) {
    LogRecorder log;
    WideString first, second;
    std::thread worker([&] {
        first = htmlToText(u"a<br>b", false);
        second = htmlToText(u"<i>c</i>", true);
    });
    worker.join();
    EXPECT_EQ(first, u"a\r\nb");
    EXPECT_EQ(second, u"<i>c</i>");
    EXPECT_EQ(log.count(nonSharedLine), 2);
    EXPECT_EQ(log.count(sharedLine), 0);
}

TEST_F(HtmlText, UiThreadAndWorkerConvertAtTheSameTime) {
    std::thread worker([] {
        for (int i = 0; i < 200; ++i)
            ASSERT_EQ(
                htmlToText(u"<div>worker</div><div>" + utf8ToWide(std::to_string(i)) + u"</div>",
                           false),
                u"worker\r\n" + utf8ToWide(std::to_string(i)));
    });
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(htmlToText(u"<p>ui " + utf8ToWide(std::to_string(i)) + u"</p>", false),
                  u"ui " + utf8ToWide(std::to_string(i)));
    worker.join();
}

TEST_F(HtmlText, EachCallSeesOnlyItsOwnHtml) {
    EXPECT_EQ(htmlToText(u"<p>first</p><script>x</script>", false), u"first");
    EXPECT_EQ(htmlToText(u"", false), u"");
    EXPECT_EQ(htmlToText(u"second", false), u"second");
}

TEST_F(HtmlText, KeepMarkupGivesTheBodysHtml) {
    EXPECT_EQ(htmlToText(u"<html><head><title>t</title></head><body><p class=x>a &amp; "
                         u"b</p></body></html>",
                         true),
              u"<p class=\"x\">a &amp; b</p>");
}

TEST_F(HtmlText, UninitialisedModuleSharesNothing) {
    LogRecorder log;
    std::thread other([] { initMessageAccess(); });
    other.join(); // the initialising thread is now one that has ended
    EXPECT_EQ(htmlToText(u"x", false), u"x");
    EXPECT_EQ(log.count(nonSharedLine), 1);
    EXPECT_EQ(log.count(sharedLine), 0);
}

} // namespace
