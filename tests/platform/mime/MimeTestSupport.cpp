#include "MimeTestSupport.h"

#include "util/Encoding.h"

#include <gtest/gtest.h>

com_ptr<IMimeMessage> parseMessage(const std::string& bytes, FILETIME received) {
    com_ptr<IMimeMessage> message;
    EXPECT_EQ(MimeOleCreateMessage(bytes, received, message.out()), S_OK);
    return message;
}

com_ptr<IMimeMessage> loadMessage(const std::string& path, FILETIME received) {
    com_ptr<IMimeMessage> message;
    EXPECT_EQ(MimeOleLoadMessageFile(path, received, message.out()), S_OK) << path;
    return message;
}

std::string bodyOf(IMimeMessage* message, std::uint32_t kind) {
    com_ptr<IStream> stream;
    HRESULT hr = message->GetTextBody(kind, IET_UNICODE, stream.out(), nullptr);
    if (hr == MIME_E_NOT_FOUND)
        return "<none>";
    EXPECT_EQ(hr, S_OK);
    if (hr != S_OK)
        return "<failed>";
    WideString text;
    char16_t buffer[1024];
    std::uint32_t read = 0;
    while (stream->Read(buffer, 2046, &read) == S_OK && read > 0)
        text.append(buffer, read / 2);
    return wideToUtf8(text);
}

std::string corpusPath(const std::string& name) {
    return std::string(BREVALO_TEST_DATA) + "/mail/" + name;
}
