#pragma once

// Status codes in the style of the desktop platform's media framework: 0 is success, a
// negative value a failure. Codes are tested call by call and nothing is thrown.

#include <cstdint>
#include <string>

#if defined(_WIN32)
#include <winerror.h>  // HRESULT, S_OK, E_FAIL, SUCCEEDED, FAILED, ...
#else
using HRESULT = std::int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
inline constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }
#endif

// Codes of our own media seam, all in one facility ("0x80040xxx"), so that a printed status
// tells a failure of the media seam from a generic one at a glance.
inline constexpr HRESULT VFW_E_NOT_FOUND = static_cast<HRESULT>(0x80040216u);
inline constexpr HRESULT VFW_E_CANNOT_RENDER = static_cast<HRESULT>(0x80040218u);
inline constexpr HRESULT VFW_E_TIMEOUT = static_cast<HRESULT>(0x8004022Eu);
inline constexpr HRESULT VFW_E_UNSUPPORTED_STREAM = static_cast<HRESULT>(0x80040265u);
inline constexpr HRESULT VFW_E_NO_CODEC = static_cast<HRESULT>(0x80040255u);
inline constexpr HRESULT VFW_E_WRITE_FAILED = static_cast<HRESULT>(0x80040262u);

namespace media {

// The longest failure text that a message box shows.
inline constexpr std::size_t kErrorTextLimit = 160;

// Remembers the readable text of the most recent failure (normally GStreamer's own message)
// together with its code. Safe to call from any thread.
void SetLastError(HRESULT hr, const std::string& text);
void ClearLastError();
std::string LastErrorText();
HRESULT LastErrorCode();

// The text to show for a failure code: the remembered text when it belongs to this code,
// otherwise a generic description. Cut to at most limit - 1 bytes, so that it fits a
// limit-byte text field with its terminator, and never inside a UTF-8 sequence.
std::string ErrorText(HRESULT hr, std::size_t limit = kErrorTextLimit);
// The same for a failure that carries its own text: that text, or the generic description when
// it is empty.
std::string ErrorText(HRESULT hr, const std::string& text, std::size_t limit = kErrorTextLimit);

// "0x80004005" style: lower-case hex without padding, as every message prints a status.
std::string FormatStatus(HRESULT hr);

}  // namespace media
