#pragma once

#include "platform/Unknown.h"
#include "platform/Result.h"

#include <string>
#include <string_view>

class IHTMLElement : public IUnknown {
public:
    // What a browser's innerText gives: visible text, entities decoded, CR LF for
    // block ends and <br>, white space collapsed.
    virtual HRESULT get_innerText(std::u16string* text) = 0;
    virtual HRESULT get_innerHTML(std::u16string* html) = 0;
    // The same two in UTF-8, for callers that keep their text in UTF-8 (no UTF-16 pass).
    virtual HRESULT get_innerTextUtf8(std::string* text) = 0;
    virtual HRESULT get_innerHTMLUtf8(std::string* html) = 0;
};

class IHTMLDocument2 : public IUnknown {
public:
    // write appends to the document's source; close parses what was written.
    virtual HRESULT write(const std::u16string& html) = 0;
    // write for UTF-8 source.
    virtual HRESULT writeUtf8(std::string_view html) = 0;
    virtual HRESULT close() = 0;
    // Fails when the document has no body element.
    virtual HRESULT get_body(IHTMLElement** body) = 0;
};

HRESULT createHtmlDocument(IHTMLDocument2** document);
