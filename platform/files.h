// File-system helpers with the semantics the program relies on: Windows-style
// wildcard search, file times at the two-second file-date precision, and text
// files in the ANSI code page.
//
// The installation folder is one that terminals or a local user may write,
// and the nightly run is root: so nothing here that writes, creates, changes
// or removes a file ever follows a symbolic link in its place. A link stands
// for itself: it is replaced or removed as a link, and never written through.
#pragma once

#include "platform/datetime.h"
#include "platform/errors.h"

#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

struct TSearchEntry {
    QString Name;
    bool IsDirectory = false;
};

// Case-insensitive '*' and '?' matching; a mask ending in ".*" also matches
// names without an extension, as "*.*" matches every name.
bool MatchesMask(const QString& name, const QString& mask);

// Every entry of the folder matching the mask, whatever its attributes
// (hidden and system entries and folders included), in directory order;
// names beginning with "." are skipped.
QList<TSearchEntry> FindEntries(const QString& folder, const QString& mask);

bool FileExists(const QString& path); // a file, not a folder
// A symbolic link, whether or not what it names exists.
bool IsLink(const QString& path);

// Last-write time in local time, seconds cut to even; nothing when the file
// is missing or its time lies outside 1980 to 2107.
std::optional<TDateTime> FileAge(const QString& path);
// Sets the last-write time (seconds cut to even); false when the file cannot
// be changed, is a link, or the time lies outside 1980 to 2107.
bool FileSetDate(const QString& path, TDateTime time);
// The time as the file-date format keeps it, or nothing outside its range.
std::optional<TDateTime> ToFileDatePrecision(TDateTime time);

// A file or a link (also one to a folder) goes; a folder stays (false).
bool DeleteFile(const QString& path);
// Refuses (false) when the destination exists, also as a link. The copy is
// written aside and renamed into place, with the source's permissions.
bool CopyFileNoOverwrite(const QString& from, const QString& to);
// Renames from over to in one step (its folders made first), so a reader
// sees the old file or the new one; the system's words when it failed,
// else empty.
QString ReplaceFile(const QString& from, const QString& to);

// The whole file; raises EInOutError when it cannot be opened or read.
QByteArray ReadFileBytes(const QString& path);
// Lines split at CR LF, LF or CR; raises EInOutError when unreadable.
QStringList ReadAnsiLines(const QString& path);
// Creates or replaces the file with the bytes. The file is written aside and
// renamed over the old one (a link in its place is replaced, not followed),
// so a failure leaves it intact. Raises EInOutError.
void WriteFileBytes(const QString& path, const QByteArray& bytes);
// Creates or replaces the file, each line followed by CR LF, as WriteFileBytes.
void WriteAnsiLines(const QString& path, const QStringList& lines);
// Appends to the file, created when missing; refuses (EInOutError) a link.
void AppendAnsiLines(const QString& path, const QStringList& lines);

// Opens path into file without following a link in its place: a link, or
// anything but a plain file (a folder, a pipe), fails the open. A missing
// file is created unless mode holds ExistingOnly; with NewOnly it must be
// new. file keeps no name: remove the file by its path. Empty on success,
// else why it failed.
QString OpenNoFollow(QFile& file, const QString& path, QIODevice::OpenMode mode);

// A file written beside path under a short name of its own (so that a name
// near the file system's limit still has one) and put in path's place in
// one rename by Commit. A link at path is replaced as a link. Discarded
// unless committed.
class TAsideFile {
public:
    TAsideFile() = default;
    ~TAsideFile();
    TAsideFile(const TAsideFile&) = delete;
    TAsideFile& operator=(const TAsideFile&) = delete;

    // Creates the aside file for path; empty on success, else why not.
    QString Open(const QString& path);
    QFile& File() { return FFile; }
    // Writes out, closes and renames over path; empty on success, else why not.
    QString Commit();
    // Removes the aside file.
    void Discard();

private:
    QString FPath;
    QString FAside;
    QFile FFile;
};

// Removes the folder and everything in it. A link, in its place or inside
// it, is removed as a link: what it names is never entered. True when
// nothing is left (also when there was nothing).
bool RemoveTree(const QString& path);

// The file system that holds path has (almost) no free space left.
bool DiskFull(const QString& path);

// Who may change a file: its owner's user id and its permission bits, of the
// file a read would open (links followed). Nothing when there is no such file.
struct TFileAccess {
    uint OwnerId = 0;
    uint Mode = 0; // permission bits, 0777 at most
    bool GroupOrOtherMayWrite() const { return (Mode & 0022) != 0; }
};
std::optional<TFileAccess> FileAccess(const QString& path);

// A file, or a folder above it, that someone besides root may change: the
// entry and who may change it.
class EExposedFile : public EInOutError {
public:
    EExposedFile(const QString& path, TFileAccess access);
    const QString& Path() const { return FPath; }
    TFileAccess Access() const { return FAccess; }

private:
    QString FPath;
    TFileAccess FAccess;
};

// A file only root may change, read once. The path is resolved (links
// followed), then every folder above the file is judged, from the top: it
// must belong to root and be writable by no one else, or be a sticky folder
// of root's (where no one else may rename or remove root's entries). The file
// is then opened without following a link, and the open descriptor judged as
// the folders (a regular file, root's, writable by no one else) and read to
// its end. Nothing when there is no such file; EExposedFile names the first
// entry that fails; EInOutError when it cannot be read.
std::optional<QByteArray> ReadProtectedFile(const QString& path);
