#include "platform/mime/HtmlElement.h"

#include "util/Encoding.h"
#include "platform/mime/CharsetText.h"
#include "platform/mime/HtmlSerializer.h"
#include "platform/mime/InnerText.h"

#include <new>

HtmlElement::HtmlElement(std::shared_ptr<const ParsedHtml> document, const GumboNode* node)
    : document(std::move(document)), node(node) {}

namespace {

// Fills *out with what make() gives: E_POINTER without a place to put it, E_OUTOFMEMORY
// when the text does not fit in memory.
template <typename Text, typename Make> HRESULT fill(Text* out, Make make) {
    if (!out)
        return E_POINTER;
    try {
        *out = make();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

} // namespace

HRESULT HtmlElement::get_innerText(std::u16string* text) {
    return fill(text, [this] { return utf8ToWide(CharsetText::withCrLf(InnerText::of(node))); });
}

HRESULT HtmlElement::get_innerHTML(std::u16string* html) {
    return fill(html, [this] { return utf8ToWide(HtmlSerializer::childrenOf(node)); });
}

HRESULT HtmlElement::get_innerTextUtf8(std::string* text) {
    return fill(text, [this] { return CharsetText::withCrLf(InnerText::of(node)); });
}

HRESULT HtmlElement::get_innerHTMLUtf8(std::string* html) {
    return fill(html, [this] { return HtmlSerializer::childrenOf(node); });
}
