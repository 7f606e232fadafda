#include "util/ComException.h"

#include <cstdio>
#include <cstring>

HRESULT checkHr(HRESULT hr, const std::string& context) {
    if (FAILED(hr))
        throw ComException(hr, context);
    return hr;
}

std::string resultText(HRESULT hr) {
    // The codes the layers name (platform/Result.h) first: two of them lie in the errno
    // range below but mean what their names say.
    switch (static_cast<std::uint32_t>(hr)) {
    case 0x80004001u:
        return "not implemented";
    case 0x80004002u:
        return "no such interface";
    case 0x80004003u:
        return "null pointer";
    case 0x80004004u:
        return "aborted";
    case 0x80004005u:
        return "unspecified failure";
    case 0x8000FFFFu:
        return "unexpected failure";
    case 0x8007000Eu:
        return "out of memory";
    case 0x80070057u:
        return "invalid argument";
    case 0x800CCE05u:
        return "the message has no body of that kind";
    case 0x800C0101u:
        return "no message id left in the folder";
    default:
        break;
    }
    // An errno value carried by hresultFromErrno.
    if ((static_cast<std::uint32_t>(hr) & 0xFFFF0000u) == 0x80070000u)
        return std::strerror(static_cast<int>(hr & 0xFFFF));
    char text[48];
    std::snprintf(text, sizeof text, "%s code %#x", FAILED(hr) ? "failure" : "success",
                  static_cast<unsigned>(hr));
    return text;
}
