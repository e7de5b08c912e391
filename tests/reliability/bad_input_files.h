#pragma once

// Files that a converter must not trust, made by the test in a folder of its own: empty, noise,
// text, cut short, without an index, without frames, without a picture, and things that are not
// readable files at all. Valid clips come from the shared fixtures and are copied where a case
// needs an awkward path.

#include <QString>

namespace reliability_tests {

class BadInputFiles {
public:
    // folder must exist; the files are made there on first use.
    explicit BadInputFiles(const QString& folder);

    QString zeroBytes() const;
    // 64 KiB of seeded noise with the given extension ("mpg", "avi", "wmv").
    QString randomBytes(const QString& extension) const;
    QString textRenamedAvi() const;
    // The first 40% of a valid file: an MPEG-2 program stream, an AVI.
    QString truncatedProgramStream() const;
    QString truncatedAvi() const;
    // An MP4 whose index (the moov box at its end) is cut off.
    QString mp4WithoutIndex() const;
    // An AVI with its headers and no frame.
    QString headerOnlyAvi() const;
    // An AVI with sound and no picture.
    QString audioOnlyAvi() const;
    // A folder named like a video.
    QString folderNamedAvi() const;
    // A file that the test's user may not read (mode 000; see AsUnprivilegedUser for root).
    QString unreadable() const;
    // A path where nothing is.
    QString missing() const;
    // A named pipe: opening it for reading blocks until a writer comes.
    QString namedPipe() const;

    // A valid clip copied to a path with blanks and letters beyond ASCII.
    QString spacedNonAsciiClip() const;
    // A valid clip copied to nested folders so that its absolute path has exactly length
    // characters (at least 40). Empty on failure.
    QString clipWithPathLength(int length) const;

    // A small valid clip (3 s, 160 x 120, 25 fps, sound), shared with other tests.
    static QString validClip();

private:
    QString path(const QString& name) const;
    QString folder_;
};

// Root reads every file whatever its mode; while this object lives the whole process (every
// thread) is the unprivileged user "nobody", so that mode 000 means what it says. Does nothing
// when the process is not root.
class AsUnprivilegedUser {
public:
    AsUnprivilegedUser();
    ~AsUnprivilegedUser();
    AsUnprivilegedUser(const AsUnprivilegedUser&) = delete;
    AsUnprivilegedUser& operator=(const AsUnprivilegedUser&) = delete;

    // False when the identity could not be changed (the caller skips its check).
    bool active() const { return ok_; }

private:
    bool switched_ = false;
    bool ok_ = true;
};

// Whether the current identity can read the file (it is unreadable only when this is false).
bool CanRead(const QString& path);

}  // namespace reliability_tests
