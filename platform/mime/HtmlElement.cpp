#include "platform/mime/HtmlElement.h"

#include "util/Encoding.h"
#include "platform/mime/CharsetText.h"
#include "platform/mime/HtmlSerializer.h"
#include "platform/mime/InnerText.h"

#include <new>

HtmlElement::HtmlElement(std::shared_ptr<const ParsedHtml> document, const GumboNode* node)
    : document(std::move(document)), node(node) {}

HRESULT HtmlElement::get_innerText(std::u16string* text) {
    if (!text)
        return E_POINTER;
    try {
        *text = utf8ToWide(CharsetText::withCrLf(InnerText::of(node)));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT HtmlElement::get_innerHTML(std::u16string* html) {
    if (!html)
        return E_POINTER;
    try {
        *html = utf8ToWide(HtmlSerializer::childrenOf(node));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT HtmlElement::get_innerTextUtf8(std::string* text) {
    if (!text)
        return E_POINTER;
    try {
        *text = CharsetText::withCrLf(InnerText::of(node));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT HtmlElement::get_innerHTMLUtf8(std::string* html) {
    if (!html)
        return E_POINTER;
    try {
        *html = HtmlSerializer::childrenOf(node);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
