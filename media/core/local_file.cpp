#include "media/core/local_file.h"

#include <filesystem>
#include <system_error>

namespace media {

HRESULT CheckLocalMediaFile(const std::string& path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (status.type() == std::filesystem::file_type::not_found || path.empty()) {
        SetLastError(VFW_E_NOT_FOUND, "The file does not exist.");
        return VFW_E_NOT_FOUND;
    }
    if (error) {
        SetLastError(E_ACCESSDENIED, "The file cannot be looked at: " + error.message() + ".");
        return E_ACCESSDENIED;
    }
    if (status.type() == std::filesystem::file_type::directory) {
        SetLastError(E_INVALIDARG, "It is a folder, not a media file.");
        return E_INVALIDARG;
    }
    if (status.type() != std::filesystem::file_type::regular) {
        SetLastError(E_INVALIDARG, "It is not a regular file.");
        return E_INVALIDARG;
    }
    return S_OK;
}

}  // namespace media
