#pragma once

#include "platform/Html.h"
#include "platform/mime/ParsedHtml.h"

#include <memory>

// An element of a parsed document; keeps the parse alive while it is held.
class HtmlElement final : public ComObject<IHTMLElement> {
public:
    HtmlElement(std::shared_ptr<const ParsedHtml> document, const GumboNode* node);

    HRESULT get_innerText(std::u16string* text) override;
    HRESULT get_innerHTML(std::u16string* html) override;
    HRESULT get_innerTextUtf8(std::string* text) override;
    HRESULT get_innerHTMLUtf8(std::string* html) override;

private:
    std::shared_ptr<const ParsedHtml> document;
    const GumboNode* node;
};
