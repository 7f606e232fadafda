#include "util/ComException.h"

HRESULT checkHr(HRESULT hr) {
    if (FAILED(hr))
        throw ComException(hr);
    return hr;
}

HRESULT checkHr(HRESULT hr, const std::string& context) {
    if (FAILED(hr))
        throw ComException(hr, context);
    return hr;
}
