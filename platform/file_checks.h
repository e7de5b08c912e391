#pragma once

// What the file system says about a path before the media framework is given it: the
// decoders' "install appropriate decoders" would send a user looking for codecs when the
// file is missing, a folder or not theirs to read.

#include <QString>

namespace platform {

// Why the file at path cannot be read as a video, in one sentence for the user; empty when it
// is a non-empty regular file that this process may read. Never blocks: a named pipe or a
// device is refused without being opened.
QString InputFileProblem(const QString& path);

// Why a conversion may not write its output to path, in one sentence; empty when path is a
// regular file (which a finished conversion replaces) or nothing yet. A folder, a device or a
// named pipe is refused: a conversion would destroy it.
QString OutputFileProblem(const QString& path);

// The path as the user knows it (native separators), quoted, for messages.
QString QuotedPath(const QString& path);

}  // namespace platform
