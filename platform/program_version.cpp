#include "platform/program_version.h"

// The build passes the project's version to this file alone, so that a new version
// recompiles one file.
#ifndef FRAMEWELL_VERSION
#error "FRAMEWELL_VERSION is set by the build"
#endif

namespace platform {

const char* ProgramVersion() {
    return FRAMEWELL_VERSION;
}

}  // namespace platform
