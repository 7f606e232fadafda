#pragma once

#include "platform/Html.h"
#include "platform/mime/ParsedHtml.h"

#include <memory>
#include <string>
#include <string_view>

// A document filled by write and parsed by close; a write after close starts a new one.
class HtmlDocument final : public ComObject<IHTMLDocument2> {
public:
    HRESULT write(const std::u16string& html) override;
    HRESULT writeUtf8(std::string_view html) override;
    HRESULT close() override;
    HRESULT get_body(IHTMLElement** body) override;

private:
    std::string written; // UTF-8, what the parser reads
    bool closed = false;
    std::shared_ptr<const ParsedHtml> parsed;
};
