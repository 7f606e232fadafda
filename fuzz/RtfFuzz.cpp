// The RTF reader of the message view. Any bytes as a document: no crash, and no more
// characters shown than bytes given. The same bytes as a message text, written by
// highlightMatches and read back: the view shows the text (CR LF pairs as paragraph
// breaks, other line-break bytes dropped), and with a pattern for ASCII letters exactly
// those characters are red.
#include "util/Encoding.h"
#include "core/MatchBudget.h"
#include "core/Stimulation.h"
#include "editor/HighlightMatches.h"
#include "editor/RtfReader.h"

#include <QColor>
#include <QGuiApplication>
#include <QTextBlock>
#include <QTextDocument>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

// The shown text (block breaks as U+2029) and, per character, whether it is red.
struct Shown {
    std::u16string text;
    std::string red;
};

Shown shownOf(const QTextDocument& document) {
    Shown shown;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block != document.begin()) {
            shown.text += u'\u2029';
            shown.red += ' ';
        }
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            QTextFragment fragment = it.fragment();
            QTextCharFormat format = fragment.charFormat();
            bool red = format.background().style() != Qt::NoBrush &&
                       format.background().color() == QColor(255, 0, 0);
            shown.text += fragment.text().toStdU16String();
            shown.red += std::string(static_cast<std::size_t>(fragment.length()), red ? '^' : ' ');
        }
    }
    return shown;
}

// What the view must show for a message text: paragraphs at CR LF, lone CR and LF
// dropped, each paragraph decoded as one run of bytes.
std::u16string expectedText(const std::string& text) {
    std::u16string shown;
    std::size_t from = 0;
    for (;;) {
        std::size_t pair = text.find("\r\n", from);
        std::string paragraph = text.substr(from, pair == text.npos ? text.npos : pair - from);
        std::erase_if(paragraph, [](char c) { return c == '\r' || c == '\n'; });
        for (char16_t c : bytesToWide(paragraph)) {
            // The document's own block and frame marks end a block wherever they come.
            bool mark = c == u'\u2029' || c == u'\uFDD0' || c == u'\uFDD1';
            shown += mark ? u'\u2029' : c;
        }
        if (pair == text.npos)
            return shown;
        shown += u'\u2029';
        from = pair + 2;
    }
}

bool isAsciiLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QGuiApplication* application = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "fuzz_rtf";
        static char* argv[] = {name, nullptr};
        return new QGuiApplication(argc, argv);
    }();
    (void)application;
    static const REs letters{compilePattern("[a-z]+")};
    std::string bytes(reinterpret_cast<const char*>(data), size);

    QTextDocument document;
    readRtf(&document, bytes);
    check(static_cast<std::size_t>(document.characterCount()) <= size + 1);

    std::string text = bytes.substr(0, std::strlen(bytes.c_str()));
    readRtf(&document, highlightMatches(text, {}));
    Shown plain = shownOf(document);
    check(plain.text == expectedText(text));
    check(plain.red.find('^') == std::string::npos);

    // The oracle is for a complete match: a clock that stands still keeps the time budget
    // from cutting the matching short when the machine is busy.
    MatchBudget budget({}, MatchBudget::defaultTime,
                       [] { return std::chrono::steady_clock::time_point{}; });
    readRtf(&document, highlightMatches(text, letters, budget));
    Shown marked = shownOf(document);
    check(marked.text == plain.text);
    for (std::size_t i = 0; i < marked.text.size(); ++i)
        check((marked.red[i] == '^') == isAsciiLetter(marked.text[i]));
    return 0;
}
