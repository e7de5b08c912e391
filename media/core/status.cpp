#include "media/core/status.h"

#include <cstdio>
#include <mutex>

namespace media {
namespace {

std::mutex& errorMutex() {
    static std::mutex mutex;
    return mutex;
}
HRESULT lastCode = S_OK;
std::string lastText;

const char* genericText(HRESULT hr) {
    switch (hr) {
        case S_OK: return "The operation completed successfully.";
        case E_NOTIMPL: return "Not implemented.";
        case E_NOINTERFACE: return "No such interface supported.";
        case E_POINTER: return "Invalid pointer.";
        case E_ABORT: return "Operation aborted.";
        case E_FAIL: return "Unspecified error.";
        case E_UNEXPECTED: return "Catastrophic failure.";
        case E_ACCESSDENIED: return "Access is denied.";
        case E_OUTOFMEMORY: return "Not enough memory is available to complete this operation.";
        case E_INVALIDARG: return "The parameter is incorrect.";
        case VFW_E_NOT_FOUND: return "An object or name was not found.";
        case VFW_E_CANNOT_RENDER: return "No combination of filters could be found to render the stream.";
        case VFW_E_TIMEOUT: return "A time-out has expired.";
        case VFW_E_UNSUPPORTED_STREAM: return "Cannot play back the file. The format is not supported.";
        case VFW_E_NO_CODEC: return "A required codec is not installed.";
        case VFW_E_WRITE_FAILED: return "The file could not be written.";
        default: return nullptr;
    }
}

}  // namespace

void SetLastError(HRESULT hr, const std::string& text) {
    std::lock_guard lock(errorMutex());
    lastCode = hr;
    lastText = text;
}

void ClearLastError() {
    std::lock_guard lock(errorMutex());
    lastCode = S_OK;
    lastText.clear();
}

std::string LastErrorText() {
    std::lock_guard lock(errorMutex());
    return lastText;
}

HRESULT LastErrorCode() {
    std::lock_guard lock(errorMutex());
    return lastCode;
}

std::string ErrorText(HRESULT hr, std::size_t limit) {
    std::string text;
    {
        std::lock_guard lock(errorMutex());
        if (lastCode == hr && !lastText.empty()) text = lastText;
    }
    return ErrorText(hr, text, limit);
}

std::string ErrorText(HRESULT hr, const std::string& ownText, std::size_t limit) {
    std::string text = ownText;
    if (text.empty()) {
        const char* generic = genericText(hr);
        text = generic ? generic : "Unknown error " + FormatStatus(hr) + ".";
    }
    if (limit > 0 && text.size() > limit - 1) {
        // Never leave half of a UTF-8 sequence at the end.
        std::size_t cut = limit - 1;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
        text.resize(cut);
    }
    return text;
}

std::string FormatStatus(HRESULT hr) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%x", static_cast<unsigned>(hr));
    return buffer;
}

}  // namespace media
