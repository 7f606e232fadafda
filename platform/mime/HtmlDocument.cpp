#include "platform/mime/HtmlDocument.h"

#include "util/Encoding.h"
#include "platform/mime/HtmlDepthLimit.h"
#include "platform/mime/HtmlElement.h"

#include <new>

HRESULT HtmlDocument::write(const std::u16string& html) {
    try {
        return writeUtf8(wideToUtf8(html));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT HtmlDocument::writeUtf8(std::string_view html) {
    try {
        if (closed) {
            written.clear();
            closed = false;
        }
        written += html;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT HtmlDocument::close() {
    try {
        // The new parse replaces the old one only when it succeeded; elements handed out
        // keep theirs.
        std::string source = std::move(written);
        written = std::string();
        closed = true;
        parsed = std::make_shared<const ParsedHtml>(HtmlDepthLimit::limited(std::move(source)));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT HtmlDocument::get_body(IHTMLElement** body) {
    if (!body)
        return E_POINTER;
    *body = nullptr;
    if (!parsed)
        return E_FAIL;
    const GumboNode* node = parsed->body();
    if (!node)
        return E_FAIL;
    *body = new HtmlElement(parsed, node);
    return S_OK;
}

HRESULT createHtmlDocument(IHTMLDocument2** document) {
    if (!document)
        return E_POINTER;
    *document = new HtmlDocument;
    return S_OK;
}
