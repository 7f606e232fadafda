#pragma once

#include "util/Exception.h"
#include "util/HResult.h"

// A failed store, MIME or sending call. The text is the context given where it was
// raised (empty for the plain check).
class ComException : public Exception {
public:
    ComException(HRESULT hr, std::string context = {})
        : Exception(std::move(context)), result(hr) {}
    HRESULT hr() const { return result; }

private:
    HRESULT result;
};

// Returns hr when it is not negative, else raises ComException carrying it.
HRESULT checkHr(HRESULT hr);
HRESULT checkHr(HRESULT hr, const std::string& context);
