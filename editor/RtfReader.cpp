#include "editor/RtfReader.h"

#include "util/Encoding.h"

#include <QColor>
#include <QString>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <cctype>

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Collects the bytes of one run of equal format, so that a character written as several
// escaped bytes is decoded as one.
class RunWriter {
public:
    explicit RunWriter(QTextDocument* document) : cursor(document) {}

    void add(char byte) { bytes += byte; }
    void setHighlight(bool on) {
        if (on == highlighted)
            return;
        flush();
        highlighted = on;
    }
    void paragraph() {
        flush();
        cursor.insertBlock();
    }
    void flush() {
        if (bytes.empty())
            return;
        QTextCharFormat format;
        if (highlighted)
            format.setBackground(QColor(255, 0, 0));
        cursor.insertText(QString::fromStdU16String(bytesToWide(bytes)), format);
        bytes.clear();
    }

private:
    QTextCursor cursor;
    std::string bytes;
    bool highlighted = false;
};

} // namespace

void readRtf(QTextDocument* document, const std::string& rtf) {
    document->clear();
    RunWriter writer(document);
    std::size_t n = rtf.size();
    std::size_t i = 0;
    int depth = 0;
    int skipBelow = 0; // inside a group other than the document's own: text is not shown
    while (i < n) {
        char c = rtf[i];
        if (c == '{') {
            ++depth;
            ++i;
            if (depth > 1 && skipBelow == 0)
                skipBelow = depth;
            continue;
        }
        if (c == '}') {
            if (depth == skipBelow)
                skipBelow = 0;
            --depth;
            ++i;
            continue;
        }
        if (c == '\r' || c == '\n') {
            ++i;
            continue;
        }
        if (c != '\\') {
            if (skipBelow == 0)
                writer.add(c);
            ++i;
            continue;
        }
        ++i;
        if (i >= n)
            break;
        char next = rtf[i];
        if (next == '\\' || next == '{' || next == '}') {
            if (skipBelow == 0)
                writer.add(next);
            ++i;
            continue;
        }
        if (next == '\'') {
            int high = i + 1 < n ? hexValue(rtf[i + 1]) : -1;
            int low = i + 2 < n ? hexValue(rtf[i + 2]) : -1;
            if (high < 0 || low < 0) {
                ++i;
                continue;
            }
            if (skipBelow == 0)
                writer.add(static_cast<char>(high * 16 + low));
            i += 3;
            continue;
        }
        if (!std::isalpha(static_cast<unsigned char>(next))) {
            ++i; // a control symbol the view does not use
            continue;
        }
        std::size_t wordStart = i;
        while (i < n && std::isalpha(static_cast<unsigned char>(rtf[i])))
            ++i;
        std::string word = rtf.substr(wordStart, i - wordStart);
        std::size_t numberStart = i;
        if (i < n && rtf[i] == '-')
            ++i;
        while (i < n && std::isdigit(static_cast<unsigned char>(rtf[i])))
            ++i;
        std::string number = rtf.substr(numberStart, i - numberStart);
        if (i < n && rtf[i] == ' ')
            ++i; // the blank that ends a control word belongs to it
        if (skipBelow != 0)
            continue;
        if (word == "par")
            writer.paragraph();
        else if (word == "highlight")
            writer.setHighlight(!number.empty() && number != "0");
        else if (word == "tab")
            writer.add('\t');
    }
    writer.flush();
}
