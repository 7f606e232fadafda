#include "sorting/OutgoingMail.h"

#include "util/ComPtr.h"
#include "platform/profile/Loc.h"
#include "core/NeuronOut.h"

#include <gtest/gtest.h>

#include <clocale>

namespace {

class OutgoingMail : public testing::Test {
protected:
    void SetUp() override {
        std::setlocale(LC_ALL, "C");
        locOpen(std::string(BREVALO_BIN_DIR) + "/strings.ini");
    }
    void TearDown() override { locClose(); }

    static com_ptr<IMimeMessage> parsed(const std::string& bytes, const FILETIME& received) {
        com_ptr<IMimeMessage> message;
        EXPECT_EQ(MimeOleCreateMessage(bytes, received, message.out()), S_OK);
        return message;
    }

    static RefsPtr folders(std::initializer_list<std::pair<const char*, const char*>> list) {
        RefsPtr result(new Refs);
        for (const auto& [name, answer] : list) {
            auto* folder = new NeuronOut(name);
            folder->setAnswer(answer);
            result->push_back(RefPtr(folder));
        }
        return result;
    }
};

} // namespace

TEST_F(OutgoingMail, TimeRowsShowTheStoredTimesInUtcAsMailDates) {
    // 2026-12-07 08:15:30 UTC.
    std::uint64_t ticks = (1796631330ULL + 11644473600ULL) * 10000000ULL;
    FILETIME received{static_cast<std::uint32_t>(ticks), static_cast<std::uint32_t>(ticks >> 32)};
    com_ptr<IMimeMessage> message =
        parsed("From: Ann <ann@example.org>\nTo: desk@example.org\nSubject: Bill\n"
               "Date: Mon, 07 Dec 2026 10:30:05 +0100\n\nbody\n",
               received);
    ForwardBody forward = composeForwardBody(message.get());
    EXPECT_EQ(forward.subject, "Bill");
    EXPECT_EQ(forward.body, "<table><tr><td>From:</td><td>Ann &lt;ann@example.org&gt;</td>"
                            "<tr><td>To:</td><td>desk@example.org</td>"
                            "<tr><td>Received:</td><td>Mon, 07 Dec 2026 08:15:30 +0000</td>"
                            "<tr><td>Sent:</td><td>Mon, 07 Dec 2026 09:30:05 +0000</td>"
                            "<tr><td colspan=2>-----</td></table>body<br>");
    EXPECT_EQ(forward.text, "From: Ann <ann@example.org>\nTo: desk@example.org\n"
                            "Received: Mon, 07 Dec 2026 08:15:30 +0000\n"
                            "Sent: Mon, 07 Dec 2026 09:30:05 +0000\n-----\nbody\n");
}

TEST_F(OutgoingMail, MessageWithoutDateHasNoSentRow) {
    com_ptr<IMimeMessage> message = parsed("Subject: s\n\nx\n", FILETIME{});
    std::string body = composeForwardBody(message.get()).body;
    EXPECT_EQ(body.find("Sent:"), std::string::npos) << body;
    EXPECT_NE(body.find("<tr><td>From:</td><td></td>"), std::string::npos) << body;
}

TEST_F(OutgoingMail, AnswersAreTrimmedAndEmptyOnesNameTheFolder) {
    std::string text = composeReplyText(
        folders({{"Invoices", "\r\n\r\n  Paid <soon>.\r\nBye\r\n \t"}, {"Travel", ""}}));
    EXPECT_EQ(text, "Thank you for your message.<br>"
                    "Paid &lt;soon&gt;.<br>Bye<br><br>"
                    "Your message has been passed on to: Travel.<br><br>"
                    "This reply was sent automatically by Brevalo.");
}
