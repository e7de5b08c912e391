#include "media/render/output_file.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

namespace media {
namespace {

namespace fs = std::filesystem;

// The hidden files that a signal handler may have to delete, in storage it can read without
// allocating or locking. A handler copies a path, then checks that the slot's generation did
// not change meanwhile, so a slot being reused under it is never mistaken for a ready one.
constexpr int kSlotCount = 8;
constexpr std::size_t kSlotBytes = 4096;
struct Slot {
    std::atomic<unsigned> generation{0};
    std::atomic<bool> ready{false};
    char path[kSlotBytes] = {};
};
Slot slots[kSlotCount];
std::atomic<bool> slotClaimed[kSlotCount];

int claimSlot(const std::string& path) {
    if (path.size() >= kSlotBytes) return -1;
    for (int i = 0; i < kSlotCount; ++i) {
        bool expected = false;
        if (!slotClaimed[i].compare_exchange_strong(expected, true)) continue;
        Slot& slot = slots[i];
        slot.generation.fetch_add(1);
        std::memcpy(slot.path, path.c_str(), path.size() + 1);
        slot.ready.store(true);
        return i;
    }
    return -1;
}

void releaseSlot(int i) {
    if (i < 0) return;
    slots[i].ready.store(false);
    slots[i].generation.fetch_add(1);
    slotClaimed[i].store(false);
}

// Follows links to the file that is really replaced, so that a link keeps pointing at the
// new file instead of being replaced by it.
fs::path resolveLinks(const fs::path& path) {
    fs::path resolved = path;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(resolved, error))) break;
        const fs::path target = fs::read_symlink(resolved, error);
        if (error) break;
        resolved = target.is_absolute() ? target : resolved.parent_path() / target;
    }
    return resolved;
}

// At most maxBytes of text, never ending inside a UTF-8 sequence.
std::string cutUtf8(const std::string& text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    std::size_t cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut);
}

std::size_t longestName(const fs::path& folder) {
#if defined(_WIN32)
    (void)folder;
    return 255;
#else
    const long longest = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    return longest > 0 ? static_cast<std::size_t>(longest) : 255;
#endif
}

std::string inQuotes(const std::string& text) {
    return "\"" + text + "\"";
}

std::string reasonOf(int error) {
    std::string text = std::strerror(error);
    return text.empty() ? "unknown error" : text;
}

// Data that only the page cache holds would be lost with the replaced file in a power cut.
void flushToDisk(const fs::path& path, bool folder) {
#if defined(_WIN32)
    (void)path;
    (void)folder;
#else
    const int fd = ::open(path.c_str(), folder ? O_RDONLY | O_DIRECTORY : O_RDONLY);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
#endif
}

}  // namespace

std::string OutputTargetProblem(const std::string& path) {
    if (path.empty()) return "No output file is named.";
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    switch (status.type()) {
        case fs::file_type::not_found:
            return {};
        case fs::file_type::regular:
            return {};
        case fs::file_type::directory:
            return "It is a folder, not a file.";
        case fs::file_type::fifo:
            return "It is a named pipe, not a file.";
        case fs::file_type::block:
        case fs::file_type::character:
            return "It is a device, not a file.";
        case fs::file_type::socket:
            return "It is a socket, not a file.";
        default:
            break;
    }
    if (error == std::errc::filename_too_long) return "The name is too long for the file system.";
    if (error) return "It cannot be looked at: " + error.message() + ".";
    return "It is not a regular file.";
}

UnfinishedOutput::~UnfinishedOutput() {
    Abandon();
}

bool UnfinishedOutput::Reserve(const std::string& target, std::string* problem) {
    Abandon();
    target_ = target;
    const fs::path resolved = resolveLinks(fs::path(target));
    resolved_ = resolved.string();
    if (std::string why = OutputTargetProblem(resolved_); !why.empty()) {
        *problem = target + ": " + why;
        return false;
    }
    const fs::path folder = resolved.has_parent_path() ? resolved.parent_path() : fs::path(".");
    std::error_code error;
    const fs::file_status folderStatus = fs::status(folder, error);
    if (folderStatus.type() == fs::file_type::not_found) {
        *problem = "The folder " + inQuotes(folder.string()) + " does not exist.";
        return false;
    }
    if (folderStatus.type() != fs::file_type::directory) {
        *problem = inQuotes(folder.string()) + " is not a folder.";
        return false;
    }
    const std::string name = resolved.filename().string();
    const std::size_t longest = longestName(folder);
    if (name.size() > longest) {
        *problem = "The file name " + inQuotes(name) + " is too long: a name may have at most " +
                   std::to_string(longest) + " bytes here.";
        return false;
    }

    // "." + name + "." + 6 random characters + ".part", the name cut so that the whole fits.
    const std::string stem = cutUtf8(name, longest - 1 - 7 - 5);
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof kAlphabet) - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string unique(6, 'x');
        for (char& c : unique) c = kAlphabet[pick(random)];
        const fs::path candidate = folder / ("." + stem + "." + unique + ".part");
        // "x": created here or not at all, never an existing file opened.
        errno = 0;
        std::FILE* file = std::fopen(candidate.string().c_str(), "wbx");
        if (!file) {
            if (errno == EEXIST) continue;
            *problem = "Could not write in the folder " + inQuotes(folder.string()) + ": " +
                       reasonOf(errno) + ".";
            return false;
        }
        std::fclose(file);
        temporaryPath_ = candidate.string();
        slot_ = claimSlot(temporaryPath_);
        return true;
    }
    *problem = "Could not find a free name in the folder " + inQuotes(folder.string()) + ".";
    return false;
}

bool UnfinishedOutput::Commit(std::string* problem) {
    if (!reserved()) {
        *problem = "The output file " + inQuotes(target_) + " was not written.";
        return false;
    }
    // Something may have taken the target's place while the conversion ran.
    if (std::string why = OutputTargetProblem(resolved_); !why.empty()) {
        *problem = target_ + ": " + why;
        Abandon();
        return false;
    }
    std::error_code error;
    if (fs::is_regular_file(resolved_, error)) {
        // A replaced file keeps who may read it; a new one has what the process gives files.
        fs::permissions(temporaryPath_, fs::status(resolved_, error).permissions(),
                        fs::perm_options::replace, error);
        flushToDisk(temporaryPath_, false);
    }
    fs::rename(temporaryPath_, resolved_, error);
    if (error) {
        *problem = "Could not replace " + inQuotes(target_) + ": " + error.message() + ".";
        Abandon();
        return false;
    }
    const fs::path folder = fs::path(resolved_).parent_path();
    flushToDisk(folder.empty() ? fs::path(".") : folder, true);
    releaseSlot(slot_);
    slot_ = -1;
    temporaryPath_.clear();
    return true;
}

void UnfinishedOutput::Abandon() {
    if (!reserved()) return;
    std::error_code error;
    fs::remove(temporaryPath_, error);
    releaseSlot(slot_);
    slot_ = -1;
    temporaryPath_.clear();
}

void AbandonUnfinishedOutputsNow() {
#if !defined(_WIN32)
    char path[kSlotBytes];
    for (Slot& slot : slots) {
        const unsigned before = slot.generation.load();
        if (!slot.ready.load()) continue;
        std::memcpy(path, slot.path, kSlotBytes);
        path[kSlotBytes - 1] = '\0';
        if (slot.generation.load() == before && slot.ready.load()) ::unlink(path);
    }
#endif
}

}  // namespace media
