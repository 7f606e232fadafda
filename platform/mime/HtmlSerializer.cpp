#include "platform/mime/HtmlSerializer.h"

#include <vector>

namespace {

bool isVoid(GumboTag tag) {
    switch (tag) {
    case GUMBO_TAG_AREA:
    case GUMBO_TAG_BASE:
    case GUMBO_TAG_BASEFONT:
    case GUMBO_TAG_BGSOUND:
    case GUMBO_TAG_BR:
    case GUMBO_TAG_COL:
    case GUMBO_TAG_EMBED:
    case GUMBO_TAG_FRAME:
    case GUMBO_TAG_HR:
    case GUMBO_TAG_IMG:
    case GUMBO_TAG_INPUT:
    case GUMBO_TAG_KEYGEN:
    case GUMBO_TAG_LINK:
    case GUMBO_TAG_META:
    case GUMBO_TAG_PARAM:
    case GUMBO_TAG_SOURCE:
    case GUMBO_TAG_TRACK:
    case GUMBO_TAG_WBR:
        return true;
    default:
        return false;
    }
}

// Elements whose text is written as it stands.
bool isRawText(GumboTag tag) {
    switch (tag) {
    case GUMBO_TAG_STYLE:
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_XMP:
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_NOEMBED:
    case GUMBO_TAG_NOFRAMES:
    case GUMBO_TAG_PLAINTEXT:
        return true;
    default:
        return false;
    }
}

bool isElement(const GumboNode* node) {
    return node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE;
}

std::string tagName(const GumboElement& element) {
    if (element.tag != GUMBO_TAG_UNKNOWN) {
        if (element.tag_namespace == GUMBO_NAMESPACE_SVG) {
            GumboStringPiece original = element.original_tag;
            gumbo_tag_from_original_text(&original);
            if (const char* adjusted = gumbo_normalize_svg_tagname(&original))
                return adjusted;
        }
        return gumbo_normalized_tagname(element.tag);
    }
    GumboStringPiece original = element.original_tag;
    gumbo_tag_from_original_text(&original);
    std::string name(original.data ? original.data : "", original.data ? original.length : 0);
    for (char& c : name)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return name;
}

void escape(std::string& out, const char* text, bool attribute) {
    for (const char* p = text; *p; ++p) {
        switch (*p) {
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += attribute ? "&quot;" : "\"";
            break;
        case '<':
            out += attribute ? "<" : "&lt;";
            break;
        case '>':
            out += attribute ? ">" : "&gt;";
            break;
        case '\xC2':
            if (p[1] == '\xA0') {
                out += "&nbsp;";
                ++p;
                break;
            }
            out += *p;
            break;
        default:
            out += *p;
        }
    }
}

void openTag(std::string& out, const GumboElement& element, const std::string& name) {
    out += '<';
    out += name;
    for (unsigned i = 0; i < element.attributes.length; ++i) {
        auto* attribute = static_cast<const GumboAttribute*>(element.attributes.data[i]);
        out += ' ';
        out += attribute->name;
        out += "=\"";
        escape(out, attribute->value, true);
        out += '"';
    }
    out += '>';
}

} // namespace

std::string HtmlSerializer::childrenOf(const GumboNode* element) {
    std::string out;
    if (!element || !isElement(element))
        return out;
    struct Frame {
        const GumboNode* node;
        unsigned next;
        std::string name;
    };
    std::vector<Frame> stack;
    stack.push_back({element, 0, {}});
    while (!stack.empty()) {
        Frame& frame = stack.back();
        const GumboVector& children = frame.node->v.element.children;
        if (frame.next >= children.length) {
            if (stack.size() > 1) {
                out += "</";
                out += frame.name;
                out += '>';
            }
            stack.pop_back();
            continue;
        }
        const GumboNode* parent = frame.node;
        auto* child = static_cast<const GumboNode*>(children.data[frame.next++]);
        switch (child->type) {
        case GUMBO_NODE_TEXT:
        case GUMBO_NODE_WHITESPACE:
            if (isRawText(parent->v.element.tag))
                out += child->v.text.text;
            else
                escape(out, child->v.text.text, false);
            break;
        case GUMBO_NODE_CDATA:
            out += "<![CDATA[";
            out += child->v.text.text;
            out += "]]>";
            break;
        case GUMBO_NODE_COMMENT:
            out += "<!--";
            out += child->v.text.text;
            out += "-->";
            break;
        case GUMBO_NODE_ELEMENT:
        case GUMBO_NODE_TEMPLATE: {
            std::string name = tagName(child->v.element);
            openTag(out, child->v.element, name);
            if (!isVoid(child->v.element.tag))
                stack.push_back({child, 0, std::move(name)});
            break;
        }
        default:
            break;
        }
    }
    return out;
}
