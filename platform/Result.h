#pragma once

#include "util/HResult.h"

// Result codes of the store, MIME and sending layers.
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
// The message has no body of the asked kind (HTML or plain text).
constexpr HRESULT MIME_E_NOT_FOUND = static_cast<HRESULT>(0x800CCE05u);
// A folder has given out every message id (a new message can get none until its ids are
// numbered afresh).
constexpr HRESULT STORE_E_NO_IDS_LEFT = static_cast<HRESULT>(0x800C0101u);
// The sending command had the whole mail and was cut off (killed at its time limit or by a
// signal) before it said how it went: the mail may or may not have gone out.
constexpr HRESULT SEND_E_OUTCOME_UNKNOWN = static_cast<HRESULT>(0x800C0201u);

// Maps an errno value to a failure code (the platform's "HRESULT from Win32" rule:
// facility 7, the error number in the low word), so the number stays readable.
constexpr HRESULT hresultFromErrno(int error) {
    return error <= 0 ? E_FAIL
                      : static_cast<HRESULT>(0x80070000u | (static_cast<unsigned>(error) & 0xFFFF));
}
