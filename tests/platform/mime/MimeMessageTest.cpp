#include "MimeTestSupport.h"

#include "util/Encoding.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

// Ticks of Tue, 14 Nov 2023 22:13:20 UTC (Unix time 1700000000).
constexpr std::uint64_t ticks1700000000 = 133444736000000000ULL;

std::string headed(const std::string& headers, const std::string& body) {
    return "From: a@example.org\nSubject: test\nMIME-Version: 1.0\n" + headers + "\n" + body;
}

struct BodyCase {
    const char* name;
    std::string message;
    std::string html;  // expected HTML body, "<none>" when absent
    std::string plain; // expected plain body
};

class BodySelection : public testing::TestWithParam<BodyCase> {};

TEST_P(BodySelection, FindsThePartAClientShows) {
    com_ptr<IMimeMessage> message = parseMessage(GetParam().message);
    ASSERT_TRUE(message);
    EXPECT_EQ(bodyOf(message.get(), TXT_HTML), GetParam().html);
    EXPECT_EQ(bodyOf(message.get(), TXT_PLAIN), GetParam().plain);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BodySelection,
    testing::Values(
        BodyCase{"no_content_type_is_plain", "Subject: x\n\nhello\n", "<none>", "hello\r\n"},
        BodyCase{"html_only", headed("Content-Type: text/html\n", "<p>hi</p>"), "<p>hi</p>",
                 "<none>"},
        BodyCase{"alternative_gives_each_kind",
                 headed("Content-Type: multipart/alternative; boundary=b\n",
                        "--b\nContent-Type: text/plain\n\nplain\n--b\nContent-Type: "
                        "text/html\n\n<b>rich</b>\n--b--\n"),
                 "<b>rich</b>", "plain"},
        BodyCase{"alternative_prefers_the_last_html",
                 headed("Content-Type: multipart/alternative; boundary=b\n",
                        "--b\nContent-Type: text/html\n\nfirst\n--b\nContent-Type: "
                        "text/html\n\nsecond\n--b--\n"),
                 "second", "<none>"},
        BodyCase{"related_root_named_by_start",
                 headed("Content-Type: multipart/related; boundary=r; start=\"<two@x>\"\n",
                        "--r\nContent-Type: text/html\nContent-ID: <one@x>\n\nnot "
                        "root\n--r\nContent-Type: text/html\nContent-ID: "
                        "<two@x>\n\nroot\n--r--\n"),
                 "root", "<none>"},
        BodyCase{"mixed_skips_attachments",
                 headed("Content-Type: multipart/mixed; boundary=m\n",
                        "--m\nContent-Type: text/html\nContent-Disposition: attachment; "
                        "filename=a.html\n\n<p>file</p>\n--m\nContent-Type: "
                        "text/plain\n\nbody\n--m--\n"),
                 "<none>", "body"},
        BodyCase{"mixed_takes_the_first_fitting_part",
                 headed("Content-Type: multipart/mixed; boundary=m\n",
                        "--m\nContent-Type: text/plain\n\none\n--m\nContent-Type: "
                        "text/plain\n\ntwo\n--m--\n"),
                 "<none>", "one"},
        BodyCase{"attached_message_not_looked_into",
                 headed("Content-Type: multipart/mixed; boundary=m\n",
                        "--m\nContent-Type: message/rfc822\n\nSubject: inner\n\ninner "
                        "body\n--m--\n"),
                 "<none>", "<none>"},
        BodyCase{"single_part_marked_attachment_still_shown",
                 headed("Content-Type: text/plain\nContent-Disposition: attachment\n", "shown"),
                 "<none>", "shown"},
        BodyCase{"encrypted_has_no_body",
                 headed("Content-Type: multipart/encrypted; boundary=e; "
                        "protocol=\"application/pgp-encrypted\"\n",
                        "--e\nContent-Type: application/pgp-encrypted\n\nVersion: "
                        "1\n--e\nContent-Type: application/octet-stream\n\n-----BEGIN PGP "
                        "MESSAGE-----\n--e--\n"),
                 "<none>", "<none>"},
        BodyCase{"empty_multipart", headed("Content-Type: multipart/mixed; boundary=z\n", ""),
                 "<none>", "<none>"},
        BodyCase{"quoted_printable_soft_breaks",
                 headed("Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: "
                        "quoted-printable\n",
                        "long =\nline gr=C3=BC=C3=9F\n"),
                 "<none>", "long line gr\xC3\xBC\xC3\x9F\r\n"},
        BodyCase{"base64_latin1",
                 headed("Content-Type: text/plain; charset=iso-8859-1\n"
                        "Content-Transfer-Encoding: base64\n",
                        "Y2Fm6Q0KbGluZQ==\n"),
                 "<none>", "caf\xC3\xA9\r\nline"},
        BodyCase{
            "html_meta_charset_when_undeclared",
            headed("Content-Type: text/html\n", "<meta charset=iso-8859-2><p>\xB3\xF3\x64\xBC</p>"),
            "<meta charset=iso-8859-2><p>\xC5\x82\xC3\xB3\x64\xC5\xBA</p>", "<none>"},
        BodyCase{"html_meta_utf16_read_as_utf8",
                 headed("Content-Type: text/html\n", "<meta charset=utf-16><p>\xC3\xA9</p>"),
                 "<meta charset=utf-16><p>\xC3\xA9</p>", "<none>"},
        BodyCase{"line_ends_of_every_kind", headed("Content-Type: text/plain\n", "a\nb\r\nc\rd\n"),
                 "<none>", "a\r\nb\r\nc\r\nd\r\n"}),
    [](const testing::TestParamInfo<BodyCase>& info) { return info.param.name; });

TEST(MimeMessage, StreamHandsOutUtf16InChunksAndEndsWithSFalse) {
    std::string text(3000, 'x');
    text += "\xE2\x82\xAC"; // one unit more, beyond the first chunk
    com_ptr<IMimeMessage> message =
        parseMessage(headed("Content-Type: text/plain; charset=utf-8\n", text));
    com_ptr<IStream> stream;
    ASSERT_EQ(message->GetTextBody(TXT_PLAIN, IET_UNICODE, stream.out(), nullptr), S_OK);
    char16_t buffer[1024];
    std::uint32_t read = 0;
    ASSERT_EQ(stream->Read(buffer, 2046, &read), S_OK);
    EXPECT_EQ(read, 2046u);
    EXPECT_EQ(buffer[0], u'x');
    ASSERT_EQ(stream->Read(buffer, 2046, &read), S_OK);
    EXPECT_EQ(read, 2046u);
    ASSERT_EQ(stream->Read(buffer, 2046, &read), S_OK);
    EXPECT_EQ(read, 2u * 3001 - 2 * 2046);
    EXPECT_EQ(buffer[read / 2 - 1], u'\u20AC');
    EXPECT_EQ(stream->Read(buffer, 2046, &read), S_FALSE);
    EXPECT_EQ(read, 0u);
}

TEST(MimeMessage, TextBodyRefusesOtherEncodingsAndKinds) {
    com_ptr<IMimeMessage> message = parseMessage("Subject: x\n\nbody\n");
    com_ptr<IStream> stream;
    EXPECT_EQ(message->GetTextBody(TXT_PLAIN, 1, stream.out(), nullptr), E_INVALIDARG);
    EXPECT_EQ(message->GetTextBody(3, IET_UNICODE, stream.out(), nullptr), E_INVALIDARG);
    EXPECT_EQ(message->GetTextBody(TXT_PLAIN, IET_UNICODE, nullptr, nullptr), E_POINTER);
}

std::string textProp(IMimeMessage* message, std::uint32_t id, HRESULT* result = nullptr) {
    PROPVARIANT value;
    value.vt = VT_LPWSTR;
    HRESULT hr = message->GetProp(id, 0, &value);
    if (result)
        *result = hr;
    std::string text = hr == S_OK && value.vt == VT_LPWSTR ? wideToUtf8(value.pwszVal) : "<absent>";
    PropVariantClear(&value);
    return text;
}

TEST(MimeMessage, TextPropsAreDecodedHeaders) {
    com_ptr<IMimeMessage> message =
        parseMessage("From: =?iso-8859-1?q?J=FCrgen?= <j@example.org>\n"
                     "To: a@example.org,\n  \"B, C\" <b@example.org>\n"
                     "Subject: =?utf-8?b?R3LDvMOfZQ==?= and =?utf-8?q?more?=\n\nbody\n");
    EXPECT_EQ(textProp(message.get(), PID_HDR_SUBJECT), "Gr\xC3\xBC\xC3\x9F"
                                                        "e and more");
    EXPECT_EQ(textProp(message.get(), PID_HDR_FROM), "J\xC3\xBCrgen <j@example.org>");
    EXPECT_EQ(textProp(message.get(), PID_HDR_TO), "a@example.org,  \"B, C\" <b@example.org>");
}

TEST(MimeMessage, AbsentHeadersFailAndLeaveNoValue) {
    com_ptr<IMimeMessage> message = parseMessage("X-Other: 1\n\nbody\n");
    for (std::uint32_t id : {PID_HDR_SUBJECT, PID_HDR_FROM, PID_HDR_TO}) {
        HRESULT hr = S_OK;
        EXPECT_EQ(textProp(message.get(), id, &hr), "<absent>");
        EXPECT_EQ(hr, MIME_E_NOT_FOUND);
    }
    PROPVARIANT value;
    value.vt = VT_FILETIME;
    EXPECT_EQ(message->GetProp(PID_HDR_DATE, 0, &value), MIME_E_NOT_FOUND);
    EXPECT_EQ(message->GetProp(99, 0, &value), E_INVALIDARG);
}

TEST(MimeMessage, EmptySubjectIsPresentButEmpty) {
    com_ptr<IMimeMessage> message = parseMessage("Subject:\n\nbody\n");
    HRESULT hr = E_FAIL;
    EXPECT_EQ(textProp(message.get(), PID_HDR_SUBJECT, &hr), "");
    EXPECT_EQ(hr, S_OK);
}

struct DateCase {
    const char* name;
    const char* header;
    std::uint64_t ticks; // 0: absent
};

class DateProp : public testing::TestWithParam<DateCase> {};

TEST_P(DateProp, GivesUtcFileTime) {
    com_ptr<IMimeMessage> message =
        parseMessage(std::string("Date: ") + GetParam().header + "\n\nbody\n");
    PROPVARIANT value;
    value.vt = VT_FILETIME;
    HRESULT hr = message->GetProp(PID_HDR_DATE, 0, &value);
    if (GetParam().ticks == 0) {
        EXPECT_EQ(hr, MIME_E_NOT_FOUND);
        return;
    }
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(value.vt, VT_FILETIME);
    EXPECT_EQ(fileTimeTicks(value.filetime), GetParam().ticks);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DateProp,
    testing::Values(DateCase{"utc", "Tue, 14 Nov 2023 22:13:20 +0000", ticks1700000000},
                    DateCase{"offset", "Wed, 15 Nov 2023 00:13:20 +0200", ticks1700000000},
                    DateCase{"no_weekday_gmt", "14 Nov 2023 22:13:20 GMT", ticks1700000000},
                    DateCase{"garbage", "not a date", 0}, DateCase{"empty", "", 0}),
    [](const testing::TestParamInfo<DateCase>& info) { return info.param.name; });

TEST(MimeMessage, ReceivedTimeIsTheOneGivenAtCreation) {
    FILETIME received{0x12345678u, 0x01C5ABCDu};
    com_ptr<IMimeMessage> message = parseMessage("Subject: x\n\nbody\n", received);
    PROPVARIANT value;
    value.vt = VT_FILETIME;
    ASSERT_EQ(message->GetProp(PID_ATT_RECVTIME, 0, &value), S_OK);
    EXPECT_EQ(value.filetime.dwLowDateTime, 0x12345678u);
    EXPECT_EQ(value.filetime.dwHighDateTime, 0x01C5ABCDu);
    EXPECT_EQ(PropVariantClear(&value), S_OK);
    EXPECT_EQ(value.vt, VT_EMPTY);
    EXPECT_EQ(fileTimeTicks(value.filetime), 0u);
}

TEST(MimeMessage, PropsRefuseTheWrongValueType) {
    com_ptr<IMimeMessage> message = parseMessage("Subject: x\nDate: 14 Nov 2023 22:13:20 GMT\n\nb");
    PROPVARIANT value;
    value.vt = VT_FILETIME;
    EXPECT_EQ(message->GetProp(PID_HDR_SUBJECT, 0, &value), E_INVALIDARG);
    value.vt = VT_LPWSTR;
    EXPECT_EQ(message->GetProp(PID_HDR_DATE, 0, &value), E_INVALIDARG);
    EXPECT_EQ(message->GetProp(PID_HDR_SUBJECT, 0, nullptr), E_POINTER);
}

struct AddressCase {
    const char* name;
    const char* headers;
    std::uint32_t type;
    const char* expected; // nullptr: absent
};

class AddressFormat : public testing::TestWithParam<AddressCase> {};

TEST_P(AddressFormat, GivesBareAddresses) {
    com_ptr<IMimeMessage> message = parseMessage(std::string(GetParam().headers) + "\nbody\n");
    char* text = nullptr;
    HRESULT hr = message->GetAddressFormat(GetParam().type, AFT_RFC822_EMAIL, &text);
    if (!GetParam().expected) {
        EXPECT_EQ(hr, MIME_E_NOT_FOUND);
        EXPECT_EQ(text, nullptr);
        return;
    }
    ASSERT_EQ(hr, S_OK);
    EXPECT_STREQ(text, GetParam().expected);
    com_ptr<IMimeAllocator> allocator;
    ASSERT_EQ(MimeOleGetAllocator(allocator.out()), S_OK);
    allocator->Free(text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, AddressFormat,
    testing::Values(AddressCase{"from_with_name", "From: \"Keller, Anna\" <anna@example.org>\n",
                                IAT_FROM, "anna@example.org"},
                    AddressCase{"reply_to_several", "Reply-To: a@example.org, B <b@example.org>\n",
                                IAT_REPLYTO, "a@example.org, b@example.org"},
                    AddressCase{"sender", "Sender: list-bounces@example.org\n", IAT_SENDER,
                                "list-bounces@example.org"},
                    AddressCase{"group_members_flattened",
                                "From: Team: a@example.org, b@example.org;, c@example.org\n",
                                IAT_FROM, "a@example.org, b@example.org, c@example.org"},
                    AddressCase{"empty_group_is_absent", "Reply-To: undisclosed-recipients:;\n",
                                IAT_REPLYTO, nullptr},
                    AddressCase{"absent_sender", "From: a@example.org\n", IAT_SENDER, nullptr},
                    AddressCase{"encoded_name_dropped",
                                "From: =?utf-8?q?M=C3=BC?= <m@example.org>\n", IAT_FROM,
                                "m@example.org"}),
    [](const testing::TestParamInfo<AddressCase>& info) { return info.param.name; });

TEST(MimeMessage, AddressFormatRefusesOtherFormatsAndTypes) {
    com_ptr<IMimeMessage> message = parseMessage("From: a@example.org\n\nb");
    char* text = nullptr;
    EXPECT_EQ(message->GetAddressFormat(IAT_FROM, 0, &text), E_INVALIDARG);
    EXPECT_EQ(message->GetAddressFormat(64, AFT_RFC822_EMAIL, &text), E_INVALIDARG);
    EXPECT_EQ(message->GetAddressFormat(IAT_FROM, AFT_RFC822_EMAIL, nullptr), E_POINTER);
}

TEST(MimeMessage, GetHeaderDecodesAndUnfolds) {
    com_ptr<IMimeMessage> message = parseMessage("Auto-Submitted: auto-replied\n"
                                                 "precedence: bulk\n"
                                                 "X-Note: =?utf-8?q?caf=C3=A9?=\n folded\n\nb");
    std::string value;
    ASSERT_EQ(message->GetHeader("Auto-Submitted", &value), S_OK);
    EXPECT_EQ(value, "auto-replied");
    ASSERT_EQ(message->GetHeader("Precedence", &value), S_OK); // names ignore case
    EXPECT_EQ(value, "bulk");
    ASSERT_EQ(message->GetHeader("X-Note", &value), S_OK);
    EXPECT_EQ(value, "caf\xC3\xA9 folded");
    EXPECT_EQ(message->GetHeader("List-Id", &value), MIME_E_NOT_FOUND);
}

TEST(MimeOle, LoadingAMissingFileGivesItsErrno) {
    com_ptr<IMimeMessage> message;
    EXPECT_EQ(MimeOleLoadMessageFile("/nonexistent/brevalo/message", {}, message.out()),
              hresultFromErrno(ENOENT));
    EXPECT_FALSE(message);
    EXPECT_EQ(MimeOleLoadMessageFile(BREVALO_TEST_DATA, {}, message.out()),
              hresultFromErrno(EISDIR));
    EXPECT_EQ(MimeOleLoadMessageFile("x", {}, nullptr), E_POINTER);
}

TEST(MimeOle, LoadingAFileEqualsParsingItsBytes) {
    std::string path = corpusPath("plain/1700000001.M101P4001.brevalo-test:2,S");
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    com_ptr<IMimeMessage> fromFile = loadMessage(path);
    com_ptr<IMimeMessage> fromBytes = parseMessage(bytes);
    EXPECT_EQ(bodyOf(fromFile.get(), TXT_PLAIN), bodyOf(fromBytes.get(), TXT_PLAIN));
    EXPECT_NE(bodyOf(fromFile.get(), TXT_PLAIN)
                  .find("Gr\xC3\xBC\xC3\x9F"
                        "e aus Z\xC3\xBCrich"),
              std::string::npos);
}

TEST(MimeOle, AllocatorIsOneObjectThatOutlivesItsHolders) {
    com_ptr<IMimeAllocator> first, second;
    ASSERT_EQ(MimeOleGetAllocator(first.out()), S_OK);
    ASSERT_EQ(MimeOleGetAllocator(second.out()), S_OK);
    EXPECT_EQ(first.get(), second.get());
    first.reset();
    second->Free(std::malloc(16));
    second->Free(nullptr);
    EXPECT_EQ(MimeOleGetAllocator(nullptr), E_POINTER);
    EXPECT_EQ(PropVariantClear(nullptr), E_POINTER);
}

// A transfer agent's retry may write its trace fields anew; only they are left out.
TEST(MimeOle, DeliveryDigestLeavesOutOnlyTheTransferAgentsTraceFields) {
    const std::string base = MimeOleDeliveryDigest("Subject: a\nMessage-ID: <m@x>\n\nbody\n");
    struct {
        std::string message;
        bool same;
    } cases[] = {
        {"Delivery-date: Tue, 8 Dec 2026 06:00:00 +0000\nSubject: a\nMessage-ID: <m@x>\n\nbody\n",
         true},
        {"RETURN-PATH : <a@x>\nEnvelope-to: b@y\nDelivered-To: b@y\nX-Original-To:\n b@y\n"
         "Subject: a\nMessage-ID: <m@x>\n\nbody\n",
         true},
        {"Subject: a\nMessage-ID: <m@x>\n\nbody\nDelivery-date: in the body\n", false},
        {"Subject: b\nMessage-ID: <m@x>\n\nbody\n", false},
        {"Subject: a\nMessage-ID: <m@x>\n\nbody 2\n", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MimeOleDeliveryDigest(c.message) == base, c.same) << c.message;
}

} // namespace
