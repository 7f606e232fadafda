#pragma once

#include "platform/Html.h"
#include "platform/mime/ParsedHtml.h"

#include <memory>
#include <string>

// A document filled by write and parsed by close; a write after close starts a new one.
class HtmlDocument final : public ComObject<IHTMLDocument2> {
public:
    HRESULT write(const std::u16string& html) override;
    HRESULT close() override;
    HRESULT get_body(IHTMLElement** body) override;

private:
    std::u16string written;
    bool closed = false;
    std::shared_ptr<const ParsedHtml> parsed;
};
