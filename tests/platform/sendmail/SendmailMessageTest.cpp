#include "platform/sendmail/SendmailMessage.h"

#include "util/ComPtr.h"
#include "util/Encoding.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A sendmail-compatible script that records its arguments and the message it was given.
class Recorder : public ::testing::Test {
protected:
    void SetUp() override {
        script = dir / "sendmail";
        std::ofstream(script) << "#!/bin/sh\n"
                                 "echo \"$@\" > \"$(dirname \"$0\")/args\"\n"
                                 "cat > \"$(dirname \"$0\")/message\"\n"
                                 "exit ${SENDMAIL_EXIT:-0}\n";
        fs::permissions(script, fs::perms::owner_all);
    }

    HRESULT send(const std::string& command, const std::u16string& subject,
                 const std::u16string& from, const std::u16string& to, const std::u16string& body,
                 std::string* error = nullptr, const std::string& attached = {},
                 int seconds = sendmailSecondsDefault) {
        com_ptr<IOEMessage> message;
        EXPECT_EQ(createOEMessage(command, message.out(), seconds), S_OK);
        std::uint32_t handle = 0, result = 0;
        EXPECT_EQ(message->Create(0, 0, &handle), S_OK);
        EXPECT_EQ(message->SetBody(handle, body, "text", "html", &result), S_OK);
        EXPECT_EQ(message->SetHeader(handle, PID_HDR_SUBJECT, subject, &result), S_OK);
        EXPECT_EQ(message->SetHeader(handle, PID_HDR_FROM, from, &result), S_OK);
        EXPECT_EQ(message->SetHeader(handle, PID_HDR_TO, to, &result), S_OK);
        EXPECT_EQ(message->SetExtraHeader(handle, "Auto-Submitted", "auto-replied"), S_OK);
        if (!attached.empty()) {
            EXPECT_EQ(message->AttachMessage(handle, attached), S_OK);
        }
        HRESULT hr = message->Send(handle, &result);
        if (error)
            *error = message->ErrorText();
        return hr;
    }

    std::string headerBlock() {
        std::string text = readFile(dir / "message");
        return text.substr(0, text.find("\n\n"));
    }

    TempFolder folder{"send"};
    fs::path dir = folder.path(), script;
};

} // namespace

TEST_F(Recorder, WritesACompleteMessageWithAnAddressList) {
    ASSERT_EQ(send(script.string() + " -t -oi", u"Your order", u"sorter@example.org",
                   u"anna@example.org;bert@example.org,carl@example.org",
                   u"<p>Gr\u00FC\u00DFe</p>"),
              S_OK);
    EXPECT_EQ(readFile(dir / "args"), "-t -oi\n");
    std::string headers = headerBlock();
    EXPECT_NE(headers.find("From: sorter@example.org"), std::string::npos) << headers;
    EXPECT_NE(headers.find("To: anna@example.org, bert@example.org, carl@example.org"),
              std::string::npos)
        << headers;
    EXPECT_NE(headers.find("Subject: Your order"), std::string::npos);
    EXPECT_NE(headers.find("Date: "), std::string::npos);
    EXPECT_NE(headers.find("Message-Id: <"), std::string::npos);
    EXPECT_NE(headers.find("MIME-Version: 1.0"), std::string::npos);
    EXPECT_NE(headers.find("Auto-Submitted: auto-replied"), std::string::npos);
    EXPECT_NE(headers.find("Content-Type: text/html; charset=utf-8"), std::string::npos);
    // The body travels 7-bit clean and decodes back to the UTF-8 text.
    std::string all = readFile(dir / "message");
    EXPECT_EQ(all.find("\xC3\xBC"), std::string::npos);
}

// A comma inside a quoted display name belongs to the name: the list is split at the
// commas and semicolons between addresses only.
TEST_F(Recorder, QuotedNameWithACommaStaysOneAddress) {
    ASSERT_EQ(send(script.string(), u"Hi", u"sorter@example.org",
                   u"\"Doe, John\" <j@example.org>, anna@example.org;\"Roe; Rita\" <r@example.org>",
                   u"x"),
              S_OK);
    std::string headers = headerBlock();
    for (std::size_t fold; (fold = headers.find("\n\t")) != std::string::npos;)
        headers.replace(fold, 2, " ");
    EXPECT_NE(headers.find("To: \"Doe, John\" <j@example.org>, anna@example.org,"),
              std::string::npos)
        << headers;
    EXPECT_NE(headers.find(", \"Roe; Rita\" <r@example.org>\n"), std::string::npos) << headers;
}

TEST_F(Recorder, StrangersCannotInjectHeaders) {
    ASSERT_EQ(send(script.string(), u"Hi\r\nBcc: evil@example.org", u"sorter@example.org",
                   u"anna@example.org\r\nBcc: evil@example.org", u"x"),
              S_OK);
    std::string headers = headerBlock();
    std::istringstream lines(headers);
    for (std::string line; std::getline(lines, line);)
        EXPECT_NE(line.rfind("Bcc:", 0), 0u) << headers;
}

TEST_F(Recorder, NonAsciiSubjectIsEncoded) {
    ASSERT_EQ(send(script.string(), u"R\u00E9ponse \u2014 ok", u"sorter@example.org",
                   u"anna@example.org", u"x"),
              S_OK);
    std::string headers = headerBlock();
    EXPECT_NE(headers.find("Subject: =?"), std::string::npos) << headers;
    for (unsigned char c : headers)
        EXPECT_LT(c, 128);
}

TEST_F(Recorder, FailuresNameTheCommandAndItsStatus) {
    setenv("SENDMAIL_EXIT", "75", 1);
    std::string error;
    EXPECT_EQ(send(script.string(), u"s", u"a@example.org", u"b@example.org", u"x", &error),
              E_FAIL);
    unsetenv("SENDMAIL_EXIT");
    EXPECT_NE(error.find(script.string()), std::string::npos) << error;
    EXPECT_NE(error.find("status 75"), std::string::npos) << error;

    EXPECT_EQ(
        send((dir / "missing").string(), u"s", u"a@example.org", u"b@example.org", u"x", &error),
        E_FAIL);
    EXPECT_NE(error.find("could not be started"), std::string::npos) << error;

    fs::remove(dir / "message");
    EXPECT_EQ(send(script.string(), u"s", u"a@example.org", u" ; ,", u"x", &error), E_INVALIDARG);
    EXPECT_NE(error.find("no recipient"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(dir / "message"));
}

TEST_F(Recorder, ACommandThatStopsReadingDoesNotKillTheSender) {
    std::ofstream(script) << "#!/bin/sh\nexit 3\n";
    std::u16string big(2'000'000, u'x');
    std::string error;
    EXPECT_EQ(send(script.string(), u"s", u"a@example.org", u"b@example.org", big, &error), E_FAIL);
    EXPECT_NE(error.find("status 3"), std::string::npos) << error;
}

// A command that does not end in time is killed with what it started (here a sleep
// that would keep running), and whether the mail went out is not known.
TEST_F(Recorder, ACommandPastItsTimeLimitIsKilledWithItsProcessGroup) {
    std::ofstream(script)
        << "#!/bin/sh\nsleep 600 &\necho $! > \"$(dirname \"$0\")/child\"\nwait\n";
    std::string error;
    EXPECT_EQ(send(script.string(), u"s", u"a@x.org", u"b@x.org", u"x", &error, {}, 1),
              SEND_E_OUTCOME_UNKNOWN);
    EXPECT_NE(error.find("did not end within 1 seconds"), std::string::npos) << error;
    int child = std::stoi(readFile(dir / "child"));
    pollfd ended{static_cast<int>(syscall(SYS_pidfd_open, child, 0)), POLLIN, 0};
    EXPECT_TRUE(ended.fd < 0 || poll(&ended, 1, 10000) == 1) << "the sleep outlived the limit";
    close(ended.fd);
}

// A forward's arrived message travels as its own bytes in a message/rfc822 part, in the
// transfer encoding that leaves them as they are.
TEST_F(Recorder, TheArrivedMessageTravelsByteForByte) {
    for (auto [original, encoding] : std::vector<std::pair<std::string, const char*>>{
             {"Subject: pdf\nContent-Type: multipart/mixed; boundary=b\n\n--b\n\nbill\n--b\n"
              "Content-Type: application/pdf\n\nJVBERi0x\n--b--\n",
              "7bit"},
             {"Subject: s\n\nGr\xC3\xBC\xC3\x9F\x65\n", "8bit"},
             {"Subject: s\n\n" + std::string(999, 'x'), "binary"}}) {
        ASSERT_EQ(send(script.string(), u"s", u"a@x.org", u"b@x.org", u"x", nullptr, original),
                  S_OK);
        std::string sent = readFile(dir / "message");
        std::size_t part = sent.find("Content-Type: message/rfc822"),
                    body = sent.find("\n\n", part);
        ASSERT_NE(part, std::string::npos) << sent;
        EXPECT_NE(sent.substr(part, body - part).find(encoding), std::string::npos) << sent;
        EXPECT_EQ(sent.substr(body + 2, original.size()), original);
    }
}

TEST(SendmailCommand, EnvironmentOverridesTheDefault) {
    unsetenv("BREVALO_SENDMAIL");
    EXPECT_EQ(defaultSendmailCommand(), "/usr/sbin/sendmail -t -oi");
    setenv("BREVALO_SENDMAIL", "/opt/mail/send -x", 1);
    EXPECT_EQ(defaultSendmailCommand(), "/opt/mail/send -x");
    unsetenv("BREVALO_SENDMAIL");
}
