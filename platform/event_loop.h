#pragma once

#include <QtGlobal>

namespace platform {

// Call first thing in main(), before the application object exists. Qt's event loop on Linux
// normally runs GLib's default main context on the UI thread. The editing services wait for
// their file discovery by running that same context on a worker thread, and when both threads
// contend for it the discovery's answer can be stranded: a conversion that now and then never
// starts. With Qt's own event loop the worker is the only one that runs the context. Nothing of
// the program depends on GLib callbacks reaching the UI thread: media events come through bus
// sync handlers and queued calls.
inline void UseQtEventLoop() { qputenv("QT_NO_GLIB", "1"); }

}  // namespace platform
