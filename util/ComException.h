#pragma once

#include "util/Exception.h"
#include "util/HResult.h"

// A failed store, MIME or sending call. The text names what failed (the call, and the
// subject where one is known); the result code says why.
class ComException : public Exception {
public:
    ComException(HRESULT hr, std::string context = {})
        : Exception(std::move(context)), result(hr) {}
    HRESULT hr() const { return result; }

private:
    HRESULT result;
};

// Returns hr when it is not negative, else raises ComException carrying it and the
// context, which names the call (there is no form without one: an error text must say
// what failed).
HRESULT checkHr(HRESULT hr, const std::string& context);

// The reason a result code stands for: errno's text for a code made by hresultFromErrno,
// a short phrase for the other named codes, the number for any other.
std::string resultText(HRESULT hr);
