#include "media/core/media_framework.h"

#include <ges/ges.h>
#include <gst/gst.h>

#include <malloc.h>

#include <mutex>

#include "media/core/repaired_file_source.h"

namespace media {
namespace {
std::mutex startMutex;
int startCount = 0;
bool initialised = false;
bool failForTesting = false;
bool editingTried = false;
bool editingStarted = false;

// With startMutex held.
HRESULT startEditingServicesOnce() {
    if (!editingTried) {
        editingTried = true;
        editingStarted = ges_init();
    }
    if (editingStarted) return S_OK;
    SetLastError(E_FAIL, "GStreamer Editing Services could not be initialised.");
    return E_FAIL;
}
}  // namespace

HRESULT StartMediaFramework(bool editingServicesNow) {
    std::lock_guard lock(startMutex);
    if (failForTesting) {
        SetLastError(E_FAIL, "The media framework was told to fail.");
        return E_FAIL;
    }
    if (!initialised) {
        // Every streaming thread that allocates gets a malloc arena of its own, up to eight per
        // core, and an arena keeps the pictures freed into it for its next allocations. The
        // probes before a conversion decode on threads of their own, so their pictures stayed
        // in arenas that the conversion's threads never use: a tenth of a 720p conversion's
        // peak. Two arenas cost no measurable time at the pace pictures are allocated here.
        mallopt(M_ARENA_MAX, 2);
        GError* error = nullptr;
        if (!gst_init_check(nullptr, nullptr, &error)) {
            SetLastError(E_FAIL, error ? error->message : "GStreamer could not be initialised.");
            g_clear_error(&error);
            return E_FAIL;
        }
        RegisterRepairedFileSource();
        initialised = true;
    }
    // Before the count says "running": the sounds and the rest only start once it does.
    if (editingServicesNow) startEditingServicesOnce();
    ++startCount;
    return S_OK;
}

HRESULT StartEditingServices() {
    std::lock_guard lock(startMutex);
    if (!initialised) {
        SetLastError(E_FAIL, "The media framework was not started.");
        return E_FAIL;
    }
    return startEditingServicesOnce();
}

bool EditingServicesStarted() {
    std::lock_guard lock(startMutex);
    return editingStarted;
}

void StopMediaFramework() {
    std::lock_guard lock(startMutex);
    if (startCount > 0) --startCount;
}

bool MediaFrameworkRunning() {
    std::lock_guard lock(startMutex);
    return startCount > 0;
}

void FailMediaFrameworkStartForTesting(bool fail) {
    std::lock_guard lock(startMutex);
    failForTesting = fail;
}

}  // namespace media
