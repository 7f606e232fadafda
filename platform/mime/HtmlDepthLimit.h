#pragma once

#include <string>

// Keeps the element nesting of an HTML text within a bound before it is parsed. The
// parser's cost grows with the nesting depth for every block element, so a message of
// a million nested <div>s would hold the program for minutes; browsers cap the depth
// the same way. Texts within the bound are returned unchanged.
class HtmlDepthLimit {
public:
    static constexpr int defaultDepth = 512;

    // Start tags that would nest deeper than maxDepth are dropped, and as many of the
    // end tags that follow them.
    static std::string limited(std::string html, int maxDepth = defaultDepth);
};
