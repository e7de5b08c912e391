#pragma once

// Path rules that the program states in terms of "the last backslash": here they follow the
// platform's separators (backslash and slash on Windows, slash elsewhere).

#include <QString>

namespace platform {

enum class PathStyle { Windows, Posix };

#if defined(_WIN32)
inline constexpr PathStyle kNativePathStyle = PathStyle::Windows;
#else
inline constexpr PathStyle kNativePathStyle = PathStyle::Posix;
#endif

// The longest path a stored file-name field holds (260 with its terminator).
inline constexpr int kMaxPathLength = 259;

// Up to and including the last separator; empty when there is none.
QString FolderOf(const QString& path, PathStyle style = kNativePathStyle);
// After the last separator; the whole text when there is none.
QString FileNameOf(const QString& path, PathStyle style = kNativePathStyle);

// Where the output goes until the user chooses: "c:\output.avi" on Windows, the home
// folder elsewhere.
QString DefaultOutputName();

}  // namespace platform
