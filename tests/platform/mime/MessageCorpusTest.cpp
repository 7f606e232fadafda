#include "MimeTestSupport.h"

#include "util/Encoding.h"

#include <gtest/gtest.h>

namespace {

struct CorpusCase {
    const char* name;
    const char* file;    // under tests/data/mail
    const char* subject; // nullptr: absent
    const char* from;    // bare address of IAT_FROM, nullptr: absent
    const char* html;    // a piece of the HTML body, nullptr: none
    const char* plain;   // a piece of the plain body, nullptr: none
};

std::string subjectOf(IMimeMessage* message) {
    PROPVARIANT value;
    value.vt = VT_LPWSTR;
    if (message->GetProp(PID_HDR_SUBJECT, 0, &value) != S_OK)
        return "<absent>";
    return wideToUtf8(value.pwszVal);
}

std::string fromOf(IMimeMessage* message) {
    char* text = nullptr;
    if (message->GetAddressFormat(IAT_FROM, AFT_RFC822_EMAIL, &text) != S_OK)
        return "<absent>";
    std::string from = text;
    com_ptr<IMimeAllocator> allocator;
    MimeOleGetAllocator(allocator.out());
    allocator->Free(text);
    return from;
}

void expectBody(IMimeMessage* message, std::uint32_t kind, const char* piece) {
    std::string body = bodyOf(message, kind);
    if (!piece) {
        EXPECT_EQ(body, "<none>");
        return;
    }
    EXPECT_NE(body.find(piece), std::string::npos) << body;
    // Whatever the file's line ends, the text has CR LF only.
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (body[i] == '\n') {
            EXPECT_TRUE(i > 0 && body[i - 1] == '\r') << "bare LF at " << i;
        }
        if (body[i] == '\r') {
            EXPECT_TRUE(i + 1 < body.size() && body[i + 1] == '\n') << "bare CR at " << i;
        }
    }
}

class Corpus : public testing::TestWithParam<CorpusCase> {};

TEST_P(Corpus, ReadsAsAMailClientShowsIt) {
    const CorpusCase& c = GetParam();
    com_ptr<IMimeMessage> message = loadMessage(corpusPath(c.file));
    ASSERT_TRUE(message);
    EXPECT_EQ(subjectOf(message.get()), c.subject ? c.subject : "<absent>");
    EXPECT_EQ(fromOf(message.get()), c.from ? c.from : "<absent>");
    expectBody(message.get(), TXT_HTML, c.html);
    expectBody(message.get(), TXT_PLAIN, c.plain);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, Corpus,
    testing::Values(
        CorpusCase{"plain_utf8", "plain/1700000001.M101P4001.brevalo-test:2,S",
                   "Order 4711 has not arrived", "anna.keller@example.org", nullptr,
                   "Hello,\r\n\r\nmy order 4711"},
        CorpusCase{"plain_latin1_quoted_printable", "plain/1700000002.M102P4002.brevalo-test:2,",
                   "Rechnung f\xC3\xBCr M\xC3\xA4rz", "juergen@example.net", nullptr,
                   "Bitte \xC3\xBC"
                   "berweisen Sie den Betrag bis zum 30.\r\n"},
        CorpusCase{"plain_unknown_charset", "plain/1700000003.M103P4003.brevalo-test:2,S",
                   "Unknown charset", "bob@example.org", nullptr,
                   "Caf\xC3\xA9 au lait costs 3\xE2\x82\xAC."},
        CorpusCase{"plain_windows1252_base64", "plain/1700000004.M104P4004.brevalo-test:2,S",
                   "Versandbestaetigung", "versand@shop.example", nullptr,
                   "unterwegs \xE2\x80\x93 Lieferung"},
        CorpusCase{"html_alternative", "html/1700000011.M111P4011.brevalo-test:2,S", "Weekly news",
                   "news@example.org", "<b>HTML</b>&nbsp;part", "this is the PLAIN part."},
        CorpusCase{"html_only", "html/1700000012.M112P4012.brevalo-test:2,",
                   "\xC3\x9C"
                   "bersicht",
                   "shop@example.net", "<h1>Your   order</h1>", nullptr},
        CorpusCase{"html_related_in_mixed", "html/1700000013.M113P4013.brevalo-test:2,S",
                   "Monthly report", "reports@example.org", "Report in <i>HTML</i>",
                   "Report in plain text."},
        CorpusCase{"html_meta_charset", "html/1700000014.M114P4014.brevalo-test:2,S",
                   "Meta charset", "old@example.org",
                   "Gr\xC3\xBC\xC3\x9F"
                   "e aus M\xC3\xBCnchen",
                   nullptr},
        CorpusCase{"attachment_only", "attachment/1700000031.M131P4031.brevalo-test:2,S",
                   "Only an attachment", "files@example.org", nullptr, nullptr},
        CorpusCase{"broken_multipart_without_boundary",
                   "broken/1700000021.M121P4021.brevalo-test:2,", "Multipart without boundary",
                   "broken@example.org", nullptr, nullptr},
        CorpusCase{"broken_truncated_base64", "broken/1700000022.M122P4022.brevalo-test:2,",
                   "Truncated in the middle", "truncated@example.org", nullptr,
                   "Hello, this message was cut off"},
        CorpusCase{"broken_binary_garbage", "broken/1700000023.M123P4023.brevalo-test:2,", nullptr,
                   nullptr, nullptr, "PNG garbage"},
        CorpusCase{"broken_empty_file", "broken/1700000024.M124P4024.brevalo-test:2,", nullptr,
                   nullptr, nullptr, ""},
        CorpusCase{"broken_headers_only", "broken/1700000025.M125P4025.brevalo-test:2,",
                   "Only headers, no blank line, no body", "headers-only@example.org", nullptr, ""},
        CorpusCase{"broken_unclosed_boundaries", "broken/1700000026.M126P4026.brevalo-test:2,",
                   "Boundaries that never close", "nested@example.org",
                   "<p>html after the outer boundary</p>", "inner plain"},
        CorpusCase{"broken_bad_base64_and_group", "broken/1700000027.M127P4027.brevalo-test:2,",
                   "Bad base64 and quoted-printable", "alice@example.org, bob@example.org", nullptr,
                   ""}),
    [](const testing::TestParamInfo<CorpusCase>& info) { return info.param.name; });

} // namespace
