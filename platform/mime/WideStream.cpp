#include "platform/mime/WideStream.h"

#include <algorithm>
#include <cstring>

WideStream::WideStream(std::u16string text) : text(std::move(text)) {}

HRESULT WideStream::Read(void* buffer, std::uint32_t size, std::uint32_t* read) {
    if (read)
        *read = 0;
    if (!buffer && size > 0)
        return E_POINTER;
    std::size_t total = text.size() * sizeof(char16_t);
    std::size_t count = std::min<std::size_t>(size, total - position);
    if (count == 0)
        return S_FALSE;
    std::memcpy(buffer, reinterpret_cast<const char*>(text.data()) + position, count);
    position += count;
    if (read)
        *read = static_cast<std::uint32_t>(count);
    return S_OK;
}
