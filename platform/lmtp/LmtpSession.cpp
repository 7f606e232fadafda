#include "platform/lmtp/LmtpSession.h"

#include <cassert>
#include <cctype>
#include <cstdlib>

namespace {

constexpr int maxBadCommands = 10;
// A message line longer than this is taken in pieces, so a line without an end cannot
// hold more than this in memory.
constexpr std::size_t dataPiece = 65536;

bool startsWithWord(std::string_view line, std::string_view word) {
    if (line.size() < word.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(line[i])) != word[i])
            return false;
    return true;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// "<path> params" after "FROM:" or "TO:": the path without brackets and the parameters;
// false when there is no bracketed path. A quoted local part may hold '>'.
bool splitPath(std::string_view text, std::string* path, std::string_view* parameters) {
    text = trimmed(text);
    if (text.empty() || text.front() != '<')
        return false;
    bool quoted = false;
    for (std::size_t i = 1; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\' && quoted) {
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == '>' && !quoted) {
            *path = std::string(text.substr(1, i - 1));
            *parameters = trimmed(text.substr(i + 1));
            return true;
        }
    }
    return false;
}

// The value of SIZE=n among the parameters, or 0.
unsigned long long sizeParameter(std::string_view parameters) {
    while (!parameters.empty()) {
        std::size_t end = parameters.find(' ');
        std::string_view one = parameters.substr(0, end);
        if (startsWithWord(one, "SIZE=")) {
            std::string digits(one.substr(5));
            return std::strtoull(digits.c_str(), nullptr, 10);
        }
        if (end == std::string_view::npos)
            break;
        parameters = trimmed(parameters.substr(end));
    }
    return 0;
}

} // namespace

LmtpSession::LmtpSession(Handler& handler, std::string hostName, std::size_t sizeLimit)
    : handler(handler), host(std::move(hostName)), sizeLimit(sizeLimit) {}

std::string LmtpSession::greeting() const {
    return "220 " + host + " LMTP ready\r\n";
}

void LmtpSession::reset() {
    envelope = {};
    message.clear();
    message.shrink_to_fit();
    received = 0;
    tooBig = false;
    midLine = false;
    if (state != State::start)
        state = State::ready;
}

bool LmtpSession::feed(std::string_view bytes, std::string& replies) {
    pending.append(bytes);
    std::size_t at = 0;
    while (!over && at < pending.size()) {
        std::size_t end = pending.find('\n', at);
        if (end == std::string::npos) {
            std::size_t left = pending.size() - at;
            if (state == State::data && left > dataPiece) {
                // A piece of a long line; a CR at its end may begin the line's end.
                std::size_t take = pending.back() == '\r' ? left - 1 : left;
                longLinePiece(std::string_view(pending).substr(at, take));
                at += take;
            } else if (state != State::data && left > maxCommandLine) {
                discardingLine = true;
                at = pending.size();
            }
            break;
        }
        std::string_view line(pending.data() + at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (state == State::data) {
            dataLine(line, replies);
        } else if (discardingLine || line.size() > maxCommandLine) {
            discardingLine = false;
            replies += "500 5.5.2 Line too long\r\n";
            if (++badCommands >= maxBadCommands)
                over = true;
        } else {
            command(line, replies);
        }
    }
    pending.erase(0, at);
    if (over)
        pending.clear();
    return !over;
}

void LmtpSession::longLinePiece(std::string_view piece) {
    if (!midLine && !piece.empty() && piece.front() == '.')
        piece.remove_prefix(1);
    midLine = true;
    take(piece, false);
}

void LmtpSession::take(std::string_view text, bool lineEnd) {
    received += text.size() + (lineEnd ? 1 : 0);
    if (received > sizeLimit) {
        if (!tooBig) {
            message.clear();
            message.shrink_to_fit();
        }
        tooBig = true;
        return;
    }
    message.append(text);
    if (lineEnd)
        message += '\n';
}

void LmtpSession::dataLine(std::string_view line, std::string& replies) {
    if (!midLine && line == ".") {
        std::vector<std::string> answers;
        if (tooBig)
            answers.assign(envelope.recipients.size(),
                           "552 5.3.4 Message size exceeds fixed maximum message size");
        else
            answers = handler.deliver(envelope, std::move(message));
        assert(answers.size() == envelope.recipients.size() && "one reply per recipient");
        for (const std::string& answer : answers)
            replies += answer + "\r\n";
        reset();
        return;
    }
    if (!midLine && !line.empty() && line.front() == '.')
        line.remove_prefix(1);
    midLine = false;
    take(line, true);
}

void LmtpSession::command(std::string_view line, std::string& replies) {
    auto bad = [&](const char* reply) {
        replies += reply;
        replies += "\r\n";
        if (++badCommands >= maxBadCommands) {
            replies += "421 4.7.0 " + host + " Too many errors, closing the connection\r\n";
            over = true;
        }
    };
    if (startsWithWord(line, "LHLO")) {
        if (trimmed(line.substr(4)).empty())
            return bad("501 5.5.4 LHLO needs a host name");
        reset();
        state = State::ready;
        replies += "250-" + host +
                   "\r\n250-PIPELINING\r\n250-ENHANCEDSTATUSCODES\r\n"
                   "250-8BITMIME\r\n250 SIZE " +
                   std::to_string(sizeLimit) + "\r\n";
        return;
    }
    if (startsWithWord(line, "HELO") || startsWithWord(line, "EHLO"))
        return bad("500 5.5.1 This is LMTP: say LHLO");
    if (startsWithWord(line, "MAIL FROM:")) {
        if (state == State::start)
            return bad("503 5.5.1 LHLO first");
        if (state == State::mail)
            return bad("503 5.5.1 Nested MAIL command");
        std::string path;
        std::string_view parameters;
        if (!splitPath(line.substr(10), &path, &parameters))
            return bad("501 5.5.4 Syntax: MAIL FROM:<address>");
        if (sizeParameter(parameters) > sizeLimit)
            return bad("552 5.3.4 Message size exceeds fixed maximum message size");
        envelope.sender = path;
        state = State::mail;
        replies += "250 2.1.0 Ok\r\n";
        return;
    }
    if (startsWithWord(line, "RCPT TO:")) {
        if (state != State::mail)
            return bad("503 5.5.1 MAIL first");
        std::string path;
        std::string_view parameters;
        if (!splitPath(line.substr(8), &path, &parameters) || path.empty())
            return bad("501 5.5.4 Syntax: RCPT TO:<address>");
        if (envelope.recipients.size() >= maxRecipients) {
            replies += "452 4.5.3 Too many recipients\r\n";
            return;
        }
        std::string answer = handler.checkRecipient(path);
        if (!answer.empty() && answer[0] == '2')
            envelope.recipients.push_back(path);
        replies += answer + "\r\n";
        return;
    }
    if (startsWithWord(line, "DATA") && trimmed(line.substr(4)).empty()) {
        if (state != State::mail)
            return bad("503 5.5.1 MAIL first");
        if (envelope.recipients.empty())
            return bad("503 5.5.1 No valid recipients");
        state = State::data;
        replies += "354 Start mail input; end with <CRLF>.<CRLF>\r\n";
        return;
    }
    if (startsWithWord(line, "RSET")) {
        reset();
        replies += "250 2.0.0 Ok\r\n";
        return;
    }
    if (startsWithWord(line, "NOOP")) {
        replies += "250 2.0.0 Ok\r\n";
        return;
    }
    if (startsWithWord(line, "VRFY")) {
        replies += "252 2.5.2 Send some mail, it will be tried\r\n";
        return;
    }
    if (startsWithWord(line, "QUIT")) {
        replies += "221 2.0.0 " + host + " Bye\r\n";
        over = true;
        return;
    }
    bad("500 5.5.2 Command not recognised");
}
