#pragma once

#include "platform/Mime.h"

#include <string>

// A read-only stream over UTF-16 text in host order (what GetTextBody hands out).
class WideStream final : public ComObject<IStream> {
public:
    explicit WideStream(std::u16string text);

    HRESULT Read(void* buffer, std::uint32_t size, std::uint32_t* read) override;

private:
    std::u16string text;
    std::size_t position = 0; // in bytes
};
