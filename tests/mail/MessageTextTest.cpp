#include "mail/MessageText.h"

#include "util/ComException.h"
#include "mail/HtmlText.h"
#include "mail/StoreAccess.h"
#include "MailTestSupport.h"

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>

namespace {

com_ptr<IMimeMessage> parsed(const std::string& bytes) {
    com_ptr<IMimeMessage> message;
    EXPECT_EQ(MimeOleCreateMessage(bytes, {}, message.out()), S_OK);
    return message;
}

// A store with one corpus message in its inbox, opened as the program opens it.
class StoredMessage : public testing::Test {
protected:
    void SetUp() override {
        std::setlocale(LC_ALL, "C"); // the system code page is then UTF-8
        initMessageAccess();
    }

    com_ptr<IMimeMessage> open(const std::string& corpusName) {
        temp.deliverCorpus(corpusName);
        connection = connectStore(temp.root());
        MESSAGEPROPS props;
        HENUMSTORE handle = nullptr;
        EXPECT_EQ(connection.inbox->GetFirstMessage(0, 0, 0, &props, &handle), S_OK);
        received = props.ftReceived;
        MESSAGEID id = props.dwMessageId;
        connection.inbox->FreeMessageProps(&props);
        connection.inbox->GetMessageClose(handle);
        com_ptr<IMimeMessage> message;
        EXPECT_EQ(connection.inbox->OpenMessage(id, message.out()), S_OK);
        return message;
    }

    TempStore temp;
    StoreConnection connection;
    FILETIME received;
};

TEST_F(StoredMessage, HtmlIsPreferredOverPlain) {
    com_ptr<IMimeMessage> message = open("html/1700000011.M111P4011.brevalo-test:2,S");
    MessageBody body = messageBody(message.get());
    EXPECT_TRUE(body.found);
    EXPECT_TRUE(body.isHtml);
    EXPECT_EQ(messageText(message.get()),
              "Dear reader,\r\n\r\nthis is the HTML\xC2\xA0part & more.");
}

TEST_F(StoredMessage, PlainTextIsClassifiedUnchanged) {
    com_ptr<IMimeMessage> message = open("plain/1700000001.M101P4001.brevalo-test:2,S");
    MessageBody body = messageBody(message.get());
    EXPECT_TRUE(body.found);
    EXPECT_FALSE(body.isHtml);
    EXPECT_EQ(messageText(message.get()),
              "Hello,\r\n\r\nmy order 4711 from last week has not arrived yet.\r\n"
              "Could you check where it is? Gr\xC3\xBC\xC3\x9F"
              "e aus Z\xC3\xBCrich.\r\n\r\nAnna\r\n");
}

TEST_F(StoredMessage, NoBodyGivesTheEmptyText) {
    com_ptr<IMimeMessage> message = open("attachment/1700000031.M131P4031.brevalo-test:2,S");
    EXPECT_FALSE(messageBody(message.get()).found);
    EXPECT_EQ(messageText(message.get()), "");
}

TEST_F(StoredMessage, HeaderValuesForOutgoingMail) {
    com_ptr<IMimeMessage> message = open("plain/1700000004.M104P4004.brevalo-test:2,S");
    EXPECT_EQ(headerText(message.get(), PID_HDR_SUBJECT), "Versandbestaetigung");
    EXPECT_EQ(headerText(message.get(), PID_HDR_FROM), "\"Versand\" <versand@shop.example>");
    EXPECT_EQ(headerText(message.get(), PID_HDR_TO), "kunde@example.com");
    EXPECT_EQ(addressText(message.get(), IAT_REPLYTO, AFT_RFC822_EMAIL),
              "noreply@shop.example, help@shop.example");
    EXPECT_EQ(addressText(message.get(), IAT_SENDER, AFT_RFC822_EMAIL), "bounces@mailer.example");
    EXPECT_EQ(addressText(message.get(), IAT_FROM, AFT_RFC822_EMAIL), "versand@shop.example");
    EXPECT_EQ(namedHeaderText(message.get(), "Auto-Submitted"), "auto-generated");
    EXPECT_EQ(namedHeaderText(message.get(), "precedence"), "bulk");

    FILETIME time;
    ASSERT_TRUE(headerTime(message.get(), PID_ATT_RECVTIME, &time));
    EXPECT_EQ(fileTimeTicks(time), fileTimeTicks(received));
    ASSERT_TRUE(headerTime(message.get(), PID_HDR_DATE, &time));
    // Fri, 17 Nov 2023 12:00:00 +0000
    EXPECT_EQ(fileTimeTicks(time), (1700222400ULL * 10000000ULL) + 116444736000000000ULL);
}

TEST(MessageText, AbsentHeadersGiveEmptyValues) {
    com_ptr<IMimeMessage> message = parsed("X-Only: this\n\nbody\n");
    EXPECT_EQ(headerText(message.get(), PID_HDR_SUBJECT), "");
    EXPECT_EQ(headerText(message.get(), PID_HDR_FROM), "");
    EXPECT_EQ(addressText(message.get(), IAT_REPLYTO, AFT_RFC822_EMAIL), "");
    EXPECT_EQ(addressText(message.get(), IAT_FROM, AFT_RFC822_EMAIL), "");
    EXPECT_EQ(namedHeaderText(message.get(), "Auto-Submitted"), "");
    FILETIME time{1, 2};
    EXPECT_FALSE(headerTime(message.get(), PID_HDR_DATE, &time));
    EXPECT_EQ(time.dwLowDateTime, 1u); // untouched
    // A header number that is no time is absent as a time.
    EXPECT_FALSE(headerTime(message.get(), PID_HDR_SUBJECT, &time));
}

struct LengthCase {
    const char* name;
    std::size_t units;
};

class BodyLength : public testing::TestWithParam<LengthCase> {};

// The body is read in 2046-byte chunks; every length around the chunk size comes whole.
TEST_P(BodyLength, ComesWhole) {
    std::string text;
    for (std::size_t i = 0; i < GetParam().units; ++i)
        text += static_cast<char>('a' + i % 26);
    com_ptr<IMimeMessage> message = parsed("Content-Type: text/plain\n\n" + text);
    MessageBody body = messageBody(message.get());
    ASSERT_TRUE(body.found);
    EXPECT_EQ(body.text.size(), GetParam().units);
    EXPECT_EQ(wideToUtf8(body.text), text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BodyLength,
    testing::Values(LengthCase{"empty", 0}, LengthCase{"one", 1},
                    LengthCase{"chunk_less_one", 1022}, LengthCase{"one_chunk", 1023},
                    LengthCase{"chunk_and_one", 1024}, LengthCase{"two_chunks", 2046},
                    LengthCase{"many_chunks", 100001}),
    [](const testing::TestParamInfo<LengthCase>& info) { return info.param.name; });

TEST(MessageText, EmptyHtmlBodyIsFoundButEmpty) {
    std::setlocale(LC_ALL, "C");
    com_ptr<IMimeMessage> message = parsed("Content-Type: text/html\n\n");
    MessageBody body = messageBody(message.get());
    EXPECT_TRUE(body.found);
    EXPECT_TRUE(body.isHtml);
    EXPECT_EQ(messageText(message.get()), "");
}

TEST(MessageText, AllocatorIsAvailable) {
    EXPECT_TRUE(mimeAllocator());
}

// Every message of the corpus, through the store: text and headers, never an exception.
TEST(MessageTextCorpus, EveryCorpusMessageReads) {
    std::setlocale(LC_ALL, "C");
    TempStore temp;
    int delivered = 0;
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(std::string(BREVALO_TEST_DATA) + "/mail")) {
        if (!entry.is_regular_file())
            continue;
        temp.deliverCorpus(
            std::filesystem::relative(entry.path(), std::string(BREVALO_TEST_DATA) + "/mail")
                .string());
        ++delivered;
    }
    StoreConnection connection = connectStore(temp.root());
    MESSAGEPROPS props;
    HENUMSTORE handle = nullptr;
    int read = 0;
    for (HRESULT hr = connection.inbox->GetFirstMessage(0, 0, 0, &props, &handle); hr == S_OK;
         hr = connection.inbox->GetNextMessage(handle, 0, &props)) {
        com_ptr<IMimeMessage> message;
        ASSERT_EQ(connection.inbox->OpenMessage(props.dwMessageId, message.out()), S_OK);
        EXPECT_NO_THROW({
            messageText(message.get());
            headerText(message.get(), PID_HDR_SUBJECT);
            addressText(message.get(), IAT_REPLYTO, AFT_RFC822_EMAIL);
            FILETIME time;
            headerTime(message.get(), PID_HDR_DATE, &time);
        });
        ++read;
        connection.inbox->FreeMessageProps(&props);
    }
    connection.inbox->GetMessageClose(handle);
    EXPECT_EQ(read, delivered);
}

TEST(MessageText, FiftyMegabyteHtmlMessage) {
    std::setlocale(LC_ALL, "C");
    std::string row = "<tr><td>cell &amp; more</td><td><b>bold</b> text</td></tr>\n";
    std::string html = "<html><body><table>\n";
    while (html.size() < (50u << 20))
        html += row;
    html += "</table></body></html>\n";
    com_ptr<IMimeMessage> message = parsed("Content-Type: text/html; charset=utf-8\n\n" + html);
    std::string text = messageText(message.get());
    EXPECT_EQ(text.rfind("cell & more\tbold text\r\n", 0), 0u);
    // Only the first part of such a body is parsed, so memory stays bounded.
    EXPECT_GT(text.size(), 1000000u);
    EXPECT_LT(text.size(), maxClassifiedText);
}

TEST(MessageText, HugePlainBodyIsReadUpToTheSameLength) {
    std::setlocale(LC_ALL, "C");
    std::string plain = "first line\n";
    while (plain.size() < maxClassifiedText + 1000)
        plain += "0123456789abcdefghijklmnopqrstuvwxyz\n";
    plain += "the end\n";
    com_ptr<IMimeMessage> message = parsed("Content-Type: text/plain\n\n" + plain);
    std::string text = messageText(message.get());
    // As many characters as an HTML body is read up to, less the word the limit would cut;
    // the end is never read.
    EXPECT_GT(text.size(), maxClassifiedText - 40);
    EXPECT_EQ(text.substr(text.size() - 3), "z\r\n");
    EXPECT_EQ(text.rfind("first line\r\n0123", 0), 0u);
    EXPECT_EQ(text.find("the end"), std::string::npos);
}

// The length is counted in UTF-16 units, as the body was once read: a character past
// U+FFFF counts two, and a character is never cut in half.
TEST(MessageText, HugeBodyIsCutAtWholeCharacters) {
    std::setlocale(LC_ALL, "C");
    struct Case {
        std::string character;
        std::size_t units;
    };
    for (const Case& c : {Case{"\xC3\xBC", 1}, Case{"\xF0\x9F\x98\x80", 2}}) {
        std::string plain;
        while (plain.size() < 4 * maxClassifiedText)
            plain += c.character;
        com_ptr<IMimeMessage> message =
            parsed("Content-Type: text/plain; charset=utf-8\n\n" + plain + "a");
        std::string text = messageText(message.get());
        EXPECT_EQ(text.size(), maxClassifiedText / c.units * c.character.size()) << c.character;
        EXPECT_EQ(text.substr(text.size() - c.character.size()), c.character);
    }
}

} // namespace
