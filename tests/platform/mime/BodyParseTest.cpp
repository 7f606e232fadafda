#include "MimeTestSupport.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fstream>
#include <random>
#include <sstream>

namespace {

// Both text bodies as a message parse gives them, and as the body-only parse gives them:
// result and text of each kind.
std::string bodies(IMimeBody* body) {
    std::string all;
    for (std::uint32_t kind : {TXT_HTML, TXT_PLAIN}) {
        std::string text;
        HRESULT hr = body->GetTextBodyUtf8(kind, &text);
        all += std::to_string(hr) + ":" + text + "\n";
    }
    return all;
}

// The body-only parse must give exactly the bodies of the message parse, whatever the
// bytes: the classifier reads one and the sorter the other.
void expectSameBodies(const std::string& bytes, const std::string& what) {
    com_ptr<IMimeMessage> message;
    com_ptr<IMimeBody> body;
    HRESULT messageResult = MimeOleCreateMessage(bytes, {}, message.out());
    HRESULT bodyResult = MimeOleCreateBody(bytes, body.out());
    ASSERT_EQ(SUCCEEDED(bodyResult), SUCCEEDED(messageResult)) << what;
    if (message) {
        EXPECT_EQ(bodies(body.get()), bodies(message.get())) << what;
    }
}

std::string multipart(const std::string& headers, const std::string& body) {
    return headers + "Content-Type: multipart/alternative; boundary=\"alt\"\n\n" + body;
}

struct BodyCase {
    const char* name;
    std::string bytes;
};

class BodyParse : public testing::TestWithParam<BodyCase> {};

TEST_P(BodyParse, GivesTheBodiesOfTheMessageParse) {
    expectSameBodies(GetParam().bytes, GetParam().name);
}

const std::string alternatives =
    "--alt\nContent-Type: text/plain; charset=iso-8859-1\nContent-Transfer-Encoding: "
    "quoted-printable\n\ngr=FC=\nn\n--alt\nContent-Type: text/html; charset=utf-8\n"
    "Content-Transfer-Encoding: base64\n\nPHA+aGk8L3A+\n--alt--\n";

INSTANTIATE_TEST_SUITE_P(
    Messages, BodyParse,
    testing::Values(
        BodyCase{"empty", ""}, BodyCase{"blank_line", "\n"},
        BodyCase{"first_line_without_colon", "no header here\nSubject: x\n\nbody\n"},
        BodyCase{"binary", std::string("\x01\x02\0\xff\xfe text\n", 12)},
        BodyCase{"mbox_from_line", "From a@example.org Mon Jan 1 00:00:00 2024\nSubject: x\n\nb\n"},
        BodyCase{"mbox_from_line_second",
                 "Subject: x\nFrom a@example.org Mon Jan 1 00:00:00 2024\n\nb\n"},
        BodyCase{"quoted_from_line", ">From a@example.org\nSubject: x\n\nb\n"},
        BodyCase{"folded_fields",
                 "Received: from a\n\tby b\nSubject: long\n  subject\ncontent-type:\n "
                 "text/plain;\n\tcharset=koi8-r\nX-Empty:\n\n\xc1\n"},
        BodyCase{"blank_line_of_spaces", "Subject: x\n \nContent-Type: text/html\n\n<p>t</p>\n"},
        BodyCase{"nul_in_field",
                 std::string("Subject: a\0b\nContent-Type: text/html\n\n<p>t</p>\n", 43)},
        BodyCase{"content_field_after_many",
                 std::string(200, 'X') +
                     ": y\nA: b\nContent-Transfer-"
                     "Encoding: base64\nContent-Type: text/plain\n\naGVsbG8=\n"},
        BodyCase{"content_prefix_only", "Content-: x\nContentType: text/html\n\n<p>t</p>\n"},
        BodyCase{"cr_only_lines", "Subject: x\rContent-Type: text/html\r\r<p>t</p>\r"},
        BodyCase{"later_field_with_space",
                 "Subject: x\nX-Foo : bar\nContent-Type: text/html\n\n<p>t</p>\n"},
        BodyCase{"headers_only", "Subject: x\nFrom: a@example.org\n"},
        BodyCase{"no_blank_line_before_garbage", "Subject: x\nnot a header\nmore\n"},
        BodyCase{"crlf", "Subject: x\r\nContent-Type: text/html\r\n\r\n<p>a</p>\r\n"},
        BodyCase{"folded_content_type",
                 "Subject: x\nContent-Type: text/html;\n  charset=\"iso-8859-1\"\n\n<b>\xe9</b>\n"},
        BodyCase{"content_type_twice",
                 "Content-Type: text/plain\nSubject: x\nContent-Type: text/html\n\n<i>t</i>\n"},
        BodyCase{"header_name_with_space", "Subject : x\nContent-Type : text/html\n\n<p>s</p>\n"},
        BodyCase{"continuation_first", " folded\nSubject: x\n\nbody\n"},
        BodyCase{"attachment_disposition",
                 "Content-Type: text/plain\nContent-Disposition: attachment\n\nfile\n"},
        BodyCase{"alternative",
                 multipart("From: a@example.org\nMIME-Version: 1.0\n", alternatives)},
        BodyCase{"alternative_without_mime_version", multipart("Subject: x\n", alternatives)},
        BodyCase{"related_with_start",
                 "Content-Type: multipart/related; boundary=r; start=\"<two>\"\n\n--r\n"
                 "Content-Type: text/html\nContent-ID: <one>\n\n<p>1</p>\n--r\nContent-Type: "
                 "text/html\nContent-ID: <two>\n\n<p>2</p>\n--r--\n"},
        BodyCase{"attached_message",
                 "Content-Type: multipart/mixed; boundary=m\n\n--m\nContent-Type: "
                 "message/rfc822\n\nSubject: inner\nContent-Type: text/html\n\n<p>in</p>\n--m\n"
                 "Content-Type: text/plain\n\nouter\n--m--\n"},
        BodyCase{"encrypted", "Content-Type: multipart/encrypted; boundary=e\n\n--e\n"
                              "Content-Type: text/plain\n\nsecret\n--e--\n"}),
    [](const testing::TestParamInfo<BodyCase>& info) { return info.param.name; });

TEST(BodyParse, EveryTruncationOfAMultipartMessage) {
    std::string full = multipart("From: a@example.org\nSubject: cut\n", alternatives);
    for (std::size_t length = 0; length <= full.size(); ++length)
        expectSameBodies(full.substr(0, length), "first " + std::to_string(length) + " bytes");
}

TEST(BodyParse, RandomBytes) {
    std::mt19937 random(4711);
    for (int round = 0; round < 300; ++round) {
        std::string bytes(random() % 2048, '\0');
        for (char& c : bytes)
            c = static_cast<char>(" :\n\r-abcCT\x80\xff"[random() % 13]);
        if (round % 2)
            bytes = "Content-Type: multipart/mixed; boundary=q\n\n--q\n" + bytes + "\n--q--";
        expectSameBodies(bytes, "round " + std::to_string(round));
    }
}

TEST(BodyParse, TestMessages) {
    for (const char* folder : {"attachment", "broken", "html", "plain"}) {
        std::string path = corpusPath(folder);
        DIR* dir = opendir(path.c_str());
        ASSERT_TRUE(dir) << path;
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            std::ifstream file(path + "/" + entry->d_name, std::ios::binary);
            std::stringstream bytes;
            bytes << file.rdbuf();
            expectSameBodies(bytes.str(), entry->d_name);
        }
        closedir(dir);
    }
}

} // namespace
