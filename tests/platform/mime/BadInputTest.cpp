#include "MimeTestSupport.h"

#include "util/Encoding.h"

#include <gtest/gtest.h>

#include <csignal>
#include <random>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Everything the program asks of a message; must neither crash nor hang.
void readEverything(IMimeMessage* message) {
    bodyOf(message, TXT_HTML);
    bodyOf(message, TXT_PLAIN);
    for (std::uint32_t id : {PID_HDR_SUBJECT, PID_HDR_FROM, PID_HDR_TO}) {
        PROPVARIANT value;
        value.vt = VT_LPWSTR;
        message->GetProp(id, 0, &value);
        PropVariantClear(&value);
    }
    for (std::uint32_t id : {PID_HDR_DATE, PID_ATT_RECVTIME}) {
        PROPVARIANT value;
        value.vt = VT_FILETIME;
        message->GetProp(id, 0, &value);
    }
    for (std::uint32_t type : {IAT_FROM, IAT_SENDER, IAT_REPLYTO}) {
        char* text = nullptr;
        if (message->GetAddressFormat(type, AFT_RFC822_EMAIL, &text) == S_OK)
            std::free(text);
    }
    std::string value;
    message->GetHeader("Auto-Submitted", &value);
}

struct HangCase {
    const char* name;
    std::string message;
};

// Malformed multiparts of the kind that once made GMime's boundary getter spin for ever.
// Each is parsed in a child process; a child still running after the bound is a hang.
class HangGuard : public testing::TestWithParam<HangCase> {};

TEST_P(HangGuard, ParsingFinishes) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        com_ptr<IMimeMessage> message;
        if (MimeOleCreateMessage(GetParam().message, {}, message.out()) == S_OK)
            readEverything(message.get());
        _exit(0);
    }
    // Such a message parses in milliseconds: woken by the child's end, the wait costs
    // nothing, and a hang never meets the bound.
    int status = 0;
    int exited = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
    ASSERT_GE(exited, 0);
    pollfd waiting{exited, POLLIN, 0};
    bool done = poll(&waiting, 1, 10000) == 1;
    close(exited);
    if (done)
        waitpid(child, &status, 0);
    if (!done) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "parsing " << GetParam().name << " did not finish";
    }
    ASSERT_TRUE(WIFEXITED(status)) << "child died with signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

std::string multipart(const std::string& contentType, const std::string& body) {
    return "From: a@example.org\nMIME-Version: 1.0\nContent-Type: " + contentType + "\n\n" + body;
}

INSTANTIATE_TEST_SUITE_P(
    Table, HangGuard,
    testing::Values(
        HangCase{"no_boundary", multipart("multipart/mixed", "--x\n\nhi\n--x--\n")},
        HangCase{"empty_boundary", multipart("multipart/mixed; boundary=", "--\n\nhi\n----\n")},
        HangCase{"quoted_empty_boundary",
                 multipart("multipart/alternative; boundary=\"\"", "--\n\n--\n")},
        HangCase{"boundary_of_spaces",
                 multipart("multipart/mixed; boundary=\"   \"", "--   \n\nhi\n--   --\n")},
        HangCase{"boundary_of_dashes",
                 multipart("multipart/mixed; boundary=\"--\"", "----\n\n------\n----\n")},
        HangCase{"nested_same_boundary",
                 multipart("multipart/mixed; boundary=s",
                           "--s\nContent-Type: multipart/mixed; boundary=s\n\n--s\n\nin\n--s--\n")},
        HangCase{"nested_without_boundaries",
                 multipart("multipart/mixed", "Content-Type: multipart/related\n\n"
                                              "Content-Type: multipart/alternative\n\n")},
        HangCase{"boundary_parameter_twice",
                 multipart("multipart/mixed; boundary=a; boundary=b", "--a\n\nx\n--b\n\ny\n")},
        HangCase{"unterminated_parameter",
                 multipart("multipart/mixed; boundary=\"abc", "--abc\n\nx\n")},
        HangCase{"deeply_nested",
                 [] {
                     std::string s = "Subject: deep\n";
                     for (int i = 0; i < 5000; ++i)
                         s += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) +
                              "\n\n--b" + std::to_string(i) + "\n";
                     return s + "Content-Type: text/plain\n\ninner\n";
                 }()}),
    [](const testing::TestParamInfo<HangCase>& info) { return info.param.name; });

TEST(BadInput, EveryTruncationOfAMultipartMessageReads) {
    std::string full = multipart(
        "multipart/alternative; boundary=\"alt\"",
        "--alt\nContent-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: "
        "quoted-printable\n\ngr=C3=BC=\nn\n--alt\nContent-Type: text/html; charset=utf-8\n"
        "Content-Transfer-Encoding: base64\n\nPHA+aGk8L3A+\n--alt--\n");
    for (std::size_t length = 0; length <= full.size(); ++length) {
        com_ptr<IMimeMessage> message = parseMessage(full.substr(0, length));
        ASSERT_TRUE(message) << length;
        readEverything(message.get());
    }
}

TEST(BadInput, RandomBytesGiveAMessageOrAClearFailure) {
    std::mt19937 random(4711);
    for (int round = 0; round < 300; ++round) {
        std::string bytes(random() % 2048, '\0');
        for (char& c : bytes)
            c = static_cast<char>(random());
        // Mix in the characters that steer the parser.
        if (round % 2)
            bytes = "Content-Type: multipart/mixed; boundary=q\n\n--q\n" + bytes + "\n--q--";
        com_ptr<IMimeMessage> message;
        HRESULT hr = MimeOleCreateMessage(bytes, {}, message.out());
        ASSERT_TRUE(hr == S_OK || FAILED(hr));
        if (message)
            readEverything(message.get());
    }
}

TEST(BadInput, FiftyMegabyteMessages) {
    constexpr std::size_t size = 50u << 20;
    // A huge plain body: read whole, line ends converted.
    std::string line = "0123456789 abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ\n";
    std::string body;
    body.reserve(size + line.size());
    while (body.size() < size)
        body += line;
    com_ptr<IMimeMessage> message =
        parseMessage("Subject: big\nContent-Type: text/plain; charset=us-ascii\n\n" + body);
    ASSERT_TRUE(message);
    com_ptr<IStream> stream;
    ASSERT_EQ(message->GetTextBody(TXT_PLAIN, IET_UNICODE, stream.out(), nullptr), S_OK);
    std::uint64_t units = 0;
    char16_t buffer[1024];
    std::uint32_t read = 0;
    while (stream->Read(buffer, 2046, &read) == S_OK)
        units += read / 2;
    std::size_t lines = body.size() / line.size();
    EXPECT_EQ(units, body.size() + lines); // one CR more per line

    // A huge attachment beside a small body: the body is found, the attachment ignored.
    std::string attachment;
    attachment.reserve(size + 80);
    std::string chunk(76, 'A');
    chunk += '\n';
    while (attachment.size() < size)
        attachment += chunk;
    message = parseMessage(multipart("multipart/mixed; boundary=big",
                                     "--big\nContent-Type: text/plain\n\nsmall body\n--big\n"
                                     "Content-Type: application/octet-stream\n"
                                     "Content-Transfer-Encoding: base64\n\n" +
                                         attachment + "--big--\n"));
    ASSERT_TRUE(message);
    EXPECT_EQ(bodyOf(message.get(), TXT_PLAIN), "small body");
}

} // namespace
