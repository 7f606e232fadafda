#include "platform/mime/InnerText.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

bool isElement(const GumboNode* node) {
    return node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE;
}

GumboTag tagOf(const GumboNode* node) {
    return isElement(node) ? node->v.element.tag : GUMBO_TAG_UNKNOWN;
}

bool notRendered(GumboTag tag) {
    switch (tag) {
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_STYLE:
    case GUMBO_TAG_HEAD:
    case GUMBO_TAG_TEMPLATE:
    case GUMBO_TAG_TITLE:
    case GUMBO_TAG_NOSCRIPT:
    case GUMBO_TAG_NOEMBED:
    case GUMBO_TAG_NOFRAMES:
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_OBJECT:
    case GUMBO_TAG_AUDIO:
    case GUMBO_TAG_VIDEO:
    case GUMBO_TAG_CANVAS:
    case GUMBO_TAG_DATALIST:
    case GUMBO_TAG_RP:
    case GUMBO_TAG_SELECT:
    case GUMBO_TAG_TEXTAREA:
        return true;
    default:
        return false;
    }
}

bool isBlock(GumboTag tag) {
    switch (tag) {
    case GUMBO_TAG_HTML:
    case GUMBO_TAG_BODY:
    case GUMBO_TAG_ADDRESS:
    case GUMBO_TAG_ARTICLE:
    case GUMBO_TAG_ASIDE:
    case GUMBO_TAG_BLOCKQUOTE:
    case GUMBO_TAG_CAPTION:
    case GUMBO_TAG_CENTER:
    case GUMBO_TAG_DD:
    case GUMBO_TAG_DETAILS:
    case GUMBO_TAG_DIR:
    case GUMBO_TAG_DIV:
    case GUMBO_TAG_DL:
    case GUMBO_TAG_DT:
    case GUMBO_TAG_FIELDSET:
    case GUMBO_TAG_FIGCAPTION:
    case GUMBO_TAG_FIGURE:
    case GUMBO_TAG_FOOTER:
    case GUMBO_TAG_FORM:
    case GUMBO_TAG_FRAMESET:
    case GUMBO_TAG_H1:
    case GUMBO_TAG_H2:
    case GUMBO_TAG_H3:
    case GUMBO_TAG_H4:
    case GUMBO_TAG_H5:
    case GUMBO_TAG_H6:
    case GUMBO_TAG_HEADER:
    case GUMBO_TAG_HGROUP:
    case GUMBO_TAG_HR:
    case GUMBO_TAG_LEGEND:
    case GUMBO_TAG_LI:
    case GUMBO_TAG_LISTING:
    case GUMBO_TAG_MAIN:
    case GUMBO_TAG_MENU:
    case GUMBO_TAG_NAV:
    case GUMBO_TAG_OL:
    case GUMBO_TAG_OPTGROUP:
    case GUMBO_TAG_PLAINTEXT:
    case GUMBO_TAG_PRE:
    case GUMBO_TAG_SECTION:
    case GUMBO_TAG_SUMMARY:
    case GUMBO_TAG_TABLE:
    case GUMBO_TAG_UL:
    case GUMBO_TAG_XMP:
        return true;
    default:
        return false;
    }
}

bool isPreformatted(GumboTag tag) {
    return tag == GUMBO_TAG_PRE || tag == GUMBO_TAG_LISTING || tag == GUMBO_TAG_PLAINTEXT ||
           tag == GUMBO_TAG_XMP;
}

bool isCell(const GumboNode* node) {
    GumboTag tag = tagOf(node);
    return tag == GUMBO_TAG_TD || tag == GUMBO_TAG_TH;
}

bool isRowGroup(GumboTag tag) {
    return tag == GUMBO_TAG_TBODY || tag == GUMBO_TAG_THEAD || tag == GUMBO_TAG_TFOOT;
}

const GumboVector& childrenOf(const GumboNode* node) {
    if (isElement(node))
        return node->v.element.children;
    return node->v.document.children;
}

const GumboNode* childAt(const GumboNode* node, unsigned index) {
    return static_cast<const GumboNode*>(childrenOf(node).data[index]);
}

// Whether a sibling after node (in its parent) satisfies the test.
template <class Test> bool laterSibling(const GumboNode* node, Test test) {
    const GumboNode* parent = node->parent;
    if (!parent)
        return false;
    const GumboVector& siblings = childrenOf(parent);
    for (unsigned i = node->index_within_parent + 1; i < siblings.length; ++i)
        if (test(static_cast<const GumboNode*>(siblings.data[i])))
            return true;
    return false;
}

bool isRow(const GumboNode* node) {
    return tagOf(node) == GUMBO_TAG_TR;
}

bool hasRow(const GumboNode* node) {
    if (!isRowGroup(tagOf(node)))
        return false;
    const GumboVector& children = childrenOf(node);
    for (unsigned i = 0; i < children.length; ++i)
        if (isRow(static_cast<const GumboNode*>(children.data[i])))
            return true;
    return false;
}

bool lastRowOfTable(const GumboNode* row) {
    if (laterSibling(row, isRow))
        return false;
    const GumboNode* group = row->parent;
    if (!group || !isRowGroup(tagOf(group)))
        return true;
    return !laterSibling(group, [](const GumboNode* n) { return isRow(n) || hasRow(n); });
}

std::string asciiLowerWithoutSpace(const char* text) {
    std::string out;
    for (const char* p = text; *p; ++p) {
        char c = *p;
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f')
            continue;
        out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return out;
}

// Hidden by the hidden attribute or by display:none in its own style (mail senders hide
// preview texts and tracking content that way).
bool isHidden(const GumboNode* node) {
    if (node->type != GUMBO_NODE_ELEMENT)
        return false;
    const GumboVector* attributes = &node->v.element.attributes;
    if (gumbo_get_attribute(attributes, "hidden"))
        return true;
    if (node->v.element.tag == GUMBO_TAG_INPUT)
        return true;
    const GumboAttribute* style = gumbo_get_attribute(attributes, "style");
    if (!style)
        return false;
    std::string css = asciiLowerWithoutSpace(style->value);
    std::size_t at = css.find("display:none");
    while (at != std::string::npos) {
        // Only the property itself, not e.g. "mso-display:none".
        if (at == 0 || css[at - 1] == ';' || css[at - 1] == '{')
            return true;
        at = css.find("display:none", at + 1);
    }
    return false;
}

bool isCollapsibleSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

} // namespace

std::string InnerText::of(const GumboNode* element) {
    InnerText builder;
    if (!element)
        return {};
    struct Frame {
        const GumboNode* node;
        unsigned next;
    };
    std::vector<Frame> stack;
    int preformatted = 0;
    stack.push_back({element, 0});
    builder.enter(element);
    if (isPreformatted(tagOf(element)))
        ++preformatted;
    while (!stack.empty()) {
        Frame& frame = stack.back();
        const GumboNode* node = frame.node;
        if (frame.next >= childrenOf(node).length) {
            if (isPreformatted(tagOf(node)))
                --preformatted;
            builder.leave(node);
            stack.pop_back();
            continue;
        }
        const GumboNode* child = childAt(node, frame.next++);
        switch (child->type) {
        case GUMBO_NODE_TEXT:
        case GUMBO_NODE_WHITESPACE:
        case GUMBO_NODE_CDATA:
            builder.text(child->v.text.text, preformatted > 0);
            break;
        case GUMBO_NODE_ELEMENT:
        case GUMBO_NODE_TEMPLATE:
            if (notRendered(child->v.element.tag) || isHidden(child))
                break;
            builder.enter(child);
            if (isPreformatted(child->v.element.tag))
                ++preformatted;
            stack.push_back({child, 0});
            break;
        default:
            break; // comments
        }
    }
    // Line breaks asked for at the very end are not part of the text.
    return std::move(builder.out);
}

void InnerText::enter(const GumboNode* element) {
    GumboTag tag = tagOf(element);
    if (tag == GUMBO_TAG_BR) {
        string("\n");
        return;
    }
    if (tag == GUMBO_TAG_P)
        requireBreaks(2);
    else if (isBlock(tag))
        requireBreaks(1);
}

void InnerText::leave(const GumboNode* element) {
    GumboTag tag = tagOf(element);
    if (tag == GUMBO_TAG_P)
        requireBreaks(2);
    else if (isBlock(tag))
        requireBreaks(1);
    else if ((tag == GUMBO_TAG_TD || tag == GUMBO_TAG_TH) && laterSibling(element, isCell))
        string("\t");
    else if (tag == GUMBO_TAG_TR && !lastRowOfTable(element))
        string("\n");
}

void InnerText::text(const char* text, bool preformatted) {
    if (preformatted) {
        if (*text)
            flushBreaks();
        std::size_t length = std::strlen(text);
        out.append(text, length);
        if (length > 0)
            lineStart = text[length - 1] == '\n';
        pendingSpace = false;
        return;
    }
    for (const char* p = text; *p; ++p) {
        if (isCollapsibleSpace(*p)) {
            if (!lineStart)
                pendingSpace = true;
            continue;
        }
        flushBreaks();
        if (pendingSpace && !lineStart)
            out += ' ';
        pendingSpace = false;
        const char* run = p;
        while (p[1] && !isCollapsibleSpace(p[1]))
            ++p;
        out.append(run, p - run + 1);
        lineStart = false;
    }
}

void InnerText::string(const char* text) {
    flushBreaks();
    out += text;
    pendingSpace = false;
    lineStart = true;
}

void InnerText::requireBreaks(int count) {
    pendingBreaks = std::max(pendingBreaks, count);
    pendingSpace = false;
    lineStart = true;
}

void InnerText::flushBreaks() {
    if (pendingBreaks == 0)
        return;
    // Breaks asked for before any text are dropped, as at the end.
    if (!out.empty())
        out.append(static_cast<std::size_t>(pendingBreaks), '\n');
    pendingBreaks = 0;
    pendingSpace = false;
    lineStart = true;
}
