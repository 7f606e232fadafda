#pragma once

#include <gumbo.h>

#include <string>

// What a browser's innerText gives for an element: the rendered text only (no script,
// style, head, template, comments or hidden elements), white space collapsed as CSS
// does outside <pre>, a line break between blocks, two around paragraphs, a tab between
// table cells and a line break between rows. UTF-8 with LF line ends.
class InnerText {
public:
    static std::string of(const GumboNode* element);

private:
    void enter(const GumboNode* element);
    void leave(const GumboNode* element);
    void text(const char* text, bool preformatted);
    void string(const char* text);
    void requireBreaks(int count);
    void flushBreaks();

    std::string out;
    int pendingBreaks = 0;
    bool pendingSpace = false;
    bool lineStart = true; // white space here is dropped
};
