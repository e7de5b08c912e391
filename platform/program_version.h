#pragma once

// The program's version, as the build names it: one number for the About box and for both
// programs' --version.

namespace platform {

// "3.0.1"
const char* ProgramVersion();

}  // namespace platform
