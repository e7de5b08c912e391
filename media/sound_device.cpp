#include "media/sound_device.h"

#include <gst/gst.h>

#include "media/gst_handles.h"

namespace media {

bool DesktopHasSoundDevice() {
    static const bool found = [] {
        GstPtr<GstDeviceMonitor> monitor(gst_device_monitor_new());
        gst_device_monitor_add_filter(monitor.get(), "Audio/Sink", nullptr);
        if (!gst_device_monitor_start(monitor.get())) return false;
        GList* devices = gst_device_monitor_get_devices(monitor.get());
        const bool any = devices != nullptr;
        g_list_free_full(devices, gst_object_unref);
        gst_device_monitor_stop(monitor.get());
        return any;
    }();
    return found;
}

}  // namespace media
