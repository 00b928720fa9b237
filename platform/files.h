// File-system helpers with the semantics the program relies on: Windows-style
// wildcard search, file times at the two-second file-date precision, and text
// files in the ANSI code page.
#pragma once

#include "platform/datetime.h"
#include "platform/errors.h"

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

// Last-write time in local time, seconds cut to even; nothing when the file
// is missing or its time lies outside 1980 to 2107.
std::optional<TDateTime> FileAge(const QString& path);
// Sets the last-write time (seconds cut to even); false when the file cannot
// be changed or the time lies outside 1980 to 2107.
bool FileSetDate(const QString& path, TDateTime time);
// The time as the file-date format keeps it, or nothing outside its range.
std::optional<TDateTime> ToFileDatePrecision(TDateTime time);

bool DeleteFile(const QString& path);
// Refuses (false) when the destination exists.
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
// renamed over the old one, so a failure leaves it intact. Raises EInOutError.
void WriteFileBytes(const QString& path, const QByteArray& bytes);
// Creates or replaces the file, each line followed by CR LF, as WriteFileBytes.
void WriteAnsiLines(const QString& path, const QStringList& lines);
void AppendAnsiLines(const QString& path, const QStringList& lines);

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
