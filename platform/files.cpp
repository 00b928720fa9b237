#include "platform/files.h"

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <filesystem>

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

bool MatchFrom(const QString& name, qsizetype n, const QString& mask, qsizetype m)
{
    while (m < mask.size()) {
        const QChar c = mask.at(m);
        if (c == u'*') {
            while (m < mask.size() && mask.at(m) == u'*')
                ++m;
            if (m == mask.size())
                return true;
            for (qsizetype i = n; i <= name.size(); ++i)
                if (MatchFrom(name, i, mask, m))
                    return true;
            return false;
        }
        if (n == name.size())
            return false;
        if (c != u'?' && c.toCaseFolded() != name.at(n).toCaseFolded())
            return false;
        ++n;
        ++m;
    }
    return n == name.size();
}

QByteArray JoinCrLf(const QStringList& lines)
{
    QByteArray bytes;
    for (const QString& line : lines) {
        bytes += ToAnsi(line);
        bytes += "\r\n";
    }
    return bytes;
}

bool InFileDateRange(const QDateTime& t)
{
    return t.isValid() && t.date().year() >= 1980 && t.date().year() <= 2107;
}

QDateTime CutToEvenSecond(const QDateTime& t)
{
    const QTime time = t.time();
    return QDateTime(t.date(), QTime(time.hour(), time.minute(), time.second() & ~1));
}

const QString LinkRefused = QStringLiteral("É um link simbólico, que o programa não segue.");
const QString NotAPlainFile = QStringLiteral("Não é um arquivo comum.");
// What a write-aside file copies at a time.
constexpr qint64 CopyBlock = 1 << 20;
// Below this much free space a failed write counts as a full disk.
constexpr std::uintmax_t NearlyFull = 64 * 1024;

#if defined(Q_OS_UNIX)
QString SystemWords(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

int OpenFlags(QIODevice::OpenMode mode)
{
    // Non-blocking only for the open itself: a pipe planted in the file's
    // place must fail it, not hold the run.
    int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    if (!(mode & QIODevice::WriteOnly))
        return flags | O_RDONLY;
    flags |= (mode & QIODevice::ReadOnly) ? O_RDWR : O_WRONLY;
    if (!(mode & QIODevice::ExistingOnly))
        flags |= O_CREAT;
    if (mode & QIODevice::NewOnly)
        flags |= O_EXCL;
    if (mode & QIODevice::Append)
        flags |= O_APPEND;
    if (mode & QIODevice::Truncate)
        flags |= O_TRUNC;
    return flags;
}

// A plain file, now blocking as any other.
QString CheckPlainFile(int fd)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return SystemWords(errno);
    if (!S_ISREG(info.st_mode))
        return NotAPlainFile;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return SystemWords(errno);
    return {};
}

// The names in the open folder, "." and ".." left out.
QList<QByteArray> EntryNames(int folder)
{
    QList<QByteArray> names;
    const int copy = ::dup(folder);
    DIR* dir = copy < 0 ? nullptr : ::fdopendir(copy);
    if (!dir) {
        if (copy >= 0)
            ::close(copy);
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.append(name);
    }
    ::closedir(dir);
    return names;
}

bool RemoveEntry(int folder, const QByteArray& name);

// Everything inside the open folder; each entry is reached from its
// folder's descriptor, so a folder swapped for a link meanwhile is not
// entered.
bool RemoveEntries(int folder)
{
    bool removed = true;
    for (const QByteArray& name : EntryNames(folder))
        removed = RemoveEntry(folder, name) && removed;
    return removed;
}

bool RemoveEntry(int folder, const QByteArray& name)
{
    if (::unlinkat(folder, name.constData(), 0) == 0 || errno == ENOENT)
        return true;
    if (errno != EISDIR && errno != EPERM)
        return false;
    const int sub = ::openat(folder, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (sub < 0)
        return false;
    const bool emptied = RemoveEntries(sub);
    ::close(sub);
    return ::unlinkat(folder, name.constData(), AT_REMOVEDIR) == 0 && emptied;
}
#endif

// A fresh name beside path, short whatever path's own length.
QString AsideName(const QString& path)
{
    const QString folder = QFileInfo(path).path();
    return folder + QStringLiteral("/.zembo-%1.tmp").arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
}

} // namespace

bool MatchesMask(const QString& name, const QString& mask)
{
    if (MatchFrom(name, 0, mask, 0))
        return true;
    if (mask.endsWith(QLatin1String(".*")) && !name.contains(u'.'))
        return MatchFrom(name, 0, mask.left(mask.size() - 2), 0);
    return false;
}

QList<TSearchEntry> FindEntries(const QString& folder, const QString& mask)
{
    QList<TSearchEntry> result;
    QDir dir(folder.isEmpty() ? QStringLiteral(".") : folder);
    const auto infos = dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                         QDir::Unsorted);
    for (const QFileInfo& info : infos) {
        const QString name = info.fileName();
        if (name.startsWith(u'.') || !MatchesMask(name, mask))
            continue;
        result.append({name, info.isDir()});
    }
    return result;
}

bool FileExists(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

bool IsLink(const QString& path)
{
    return QFileInfo(path).isSymLink();
}

std::optional<TDateTime> FileAge(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isDir())
        return std::nullopt;
    const QDateTime t = info.lastModified();
    if (!InFileDateRange(t))
        return std::nullopt;
    return TDateTime::FromQDateTime(CutToEvenSecond(t));
}

std::optional<TDateTime> ToFileDatePrecision(TDateTime time)
{
    const QDateTime t = time.ToQDateTime();
    if (!InFileDateRange(t))
        return std::nullopt;
    return TDateTime::FromQDateTime(CutToEvenSecond(t));
}

bool FileSetDate(const QString& path, TDateTime time)
{
    const QDateTime t = time.ToQDateTime();
    if (!InFileDateRange(t))
        return false;
    QFile file;
    if (!OpenNoFollow(file, path, QIODevice::ReadWrite | QIODevice::ExistingOnly).isEmpty())
        return false;
    return file.setFileTime(CutToEvenSecond(t), QFileDevice::FileModificationTime);
}

bool DeleteFile(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        return false;
    return QFile::remove(path);
}

bool CopyFileNoOverwrite(const QString& from, const QString& to)
{
    if (IsLink(to) || QFileInfo::exists(to))
        return false;
    QFile source(from);
    TAsideFile copy;
    if (!source.open(QIODevice::ReadOnly) || !copy.Open(to).isEmpty())
        return false;
    while (!source.atEnd()) {
        const QByteArray chunk = source.read(CopyBlock);
        if ((chunk.isEmpty() && source.error() != QFileDevice::NoError) || copy.File().write(chunk) != chunk.size())
            return false;
    }
    copy.File().setPermissions(source.permissions());
    return copy.Commit().isEmpty();
}

QString ReplaceFile(const QString& from, const QString& to)
{
    std::error_code ec;
    const std::filesystem::path target(to.toStdU16String());
    if (target.has_parent_path())
        std::filesystem::create_directories(target.parent_path(), ec);
    std::filesystem::rename(std::filesystem::path(from.toStdU16String()), target, ec);
    return ec ? QString::fromStdString(ec.message()) : QString();
}

QByteArray ReadFileBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EInOutError(QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw EInOutError(QStringLiteral("Cannot read file \"%1\". %2").arg(path, file.errorString()));
    return bytes;
}

QStringList ReadAnsiLines(const QString& path)
{
    return SplitLines(FromAnsi(ReadFileBytes(path)));
}

void WriteFileBytes(const QString& path, const QByteArray& bytes)
{
    TAsideFile file;
    if (const QString failed = file.Open(path); !failed.isEmpty())
        throw EInOutError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, failed));
    file.File().write(bytes);
    if (const QString failed = file.Commit(); !failed.isEmpty())
        throw EInOutError(QStringLiteral("Cannot write file \"%1\". %2").arg(path, failed));
}

void WriteAnsiLines(const QString& path, const QStringList& lines)
{
    WriteFileBytes(path, JoinCrLf(lines));
}

void AppendAnsiLines(const QString& path, const QStringList& lines)
{
    QFile file;
    if (const QString failed = OpenNoFollow(file, path, QIODevice::WriteOnly | QIODevice::Append); !failed.isEmpty())
        throw EInOutError(QStringLiteral("Cannot open file \"%1\". %2").arg(path, failed));
    const QByteArray bytes = JoinCrLf(lines);
    if (file.write(bytes) != bytes.size() || !file.flush())
        throw EInOutError(QStringLiteral("Cannot write file \"%1\". %2").arg(path, file.errorString()));
}

QString OpenNoFollow(QFile& file, const QString& path, QIODevice::OpenMode mode)
{
#if defined(Q_OS_UNIX)
    const int fd = ::open(QFile::encodeName(path).constData(), OpenFlags(mode), 0666);
    if (fd < 0)
        return errno == ELOOP ? LinkRefused : SystemWords(errno);
    if (const QString refused = CheckPlainFile(fd); !refused.isEmpty()) {
        ::close(fd);
        return refused;
    }
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return file.errorString();
    }
    return {};
#else
    // Without the system's no-follow open, the link is judged just before.
    if (IsLink(path))
        return LinkRefused;
    if (QFileInfo(path).isDir())
        return NotAPlainFile;
    file.setFileName(path);
    return file.open(mode) ? QString() : file.errorString();
#endif
}

TAsideFile::~TAsideFile()
{
    Discard();
}

QString TAsideFile::Open(const QString& path)
{
    Discard();
    FPath = path;
    QString failed;
    // A name taken meanwhile is tried again with another.
    for (int attempt = 0; attempt < 8; ++attempt) {
        FAside = AsideName(path);
        failed = OpenNoFollow(FFile, FAside, QIODevice::WriteOnly | QIODevice::NewOnly);
        if (failed.isEmpty())
            return {};
        if (!IsLink(FAside) && !QFileInfo::exists(FAside))
            break; // not a name clash
    }
    FAside.clear();
    return failed;
}

QString TAsideFile::Commit()
{
    if (FAside.isEmpty())
        return QStringLiteral("Nenhum arquivo aberto.");
    if (!FFile.flush() || FFile.error() != QFileDevice::NoError) {
        const QString failed = FFile.errorString();
        Discard();
        return failed;
    }
#if defined(Q_OS_UNIX)
    ::fsync(FFile.handle()); // the new file whole on disk before it takes the old one's place
#endif
    FFile.close();
    const QString failed = ReplaceFile(FAside, FPath);
    if (failed.isEmpty())
        FAside.clear();
    else
        Discard();
    return failed;
}

void TAsideFile::Discard()
{
    if (FFile.isOpen())
        FFile.close();
    if (!FAside.isEmpty())
        QFile::remove(FAside);
    FAside.clear();
}

bool RemoveTree(const QString& path)
{
#if defined(Q_OS_UNIX)
    const QByteArray name = QFile::encodeName(path);
    if (::unlink(name.constData()) == 0 || errno == ENOENT) // a file or a link: never entered
        return true;
    if (errno != EISDIR && errno != EPERM)
        return false;
    const int folder = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0)
        return false;
    const bool emptied = RemoveEntries(folder);
    ::close(folder);
    return ::rmdir(name.constData()) == 0 && emptied;
#else
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(path.toStdU16String()), ec); // removes links as links
    return !ec;
#endif
}

bool DiskFull(const QString& path)
{
    std::error_code ec;
    const auto space = std::filesystem::space(std::filesystem::path(QFileInfo(path).absolutePath().toStdU16String()), ec);
    return !ec && space.available < NearlyFull;
}

std::optional<TFileAccess> FileAccess(const QString& path)
{
#if defined(Q_OS_UNIX)
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || S_ISDIR(info.st_mode))
        return std::nullopt;
    return TFileAccess{uint(info.st_uid), uint(info.st_mode & 0777)};
#else
    // Windows guards a file with its access list, not owner and mode bits:
    // the folder under Program Files is writable by administrators only.
    if (!FileExists(path))
        return std::nullopt;
    return TFileAccess{};
#endif
}

EExposedFile::EExposedFile(const QString& path, TFileAccess access)
    : EInOutError(QStringLiteral("\"%1\" may be changed by another user than root (owner %2, mode %3).")
                      .arg(path)
                      .arg(access.OwnerId)
                      .arg(access.Mode, 3, 8, QChar(u'0'))),
      FPath(path), FAccess(access)
{
}

#if defined(Q_OS_UNIX)
namespace {

QString SystemError(const char* what, const QString& path)
{
    return QStringLiteral("%1 \"%2\". %3").arg(QLatin1String(what), path, QString::fromLocal8Bit(std::strerror(errno)));
}

// Root's, and writable by no one else unless sticky (for a folder).
void JudgeEntry(const QString& path, const struct stat& info)
{
    const bool othersMayWrite = (info.st_mode & 0022) != 0;
    const bool stickyFolder = S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) != 0;
    if (info.st_uid != 0 || (othersMayWrite && !stickyFolder))
        throw EExposedFile(path, {uint(info.st_uid), uint(info.st_mode & 0777)});
}

// Each folder of the resolved path above its last entry, from the top.
void JudgeFoldersAbove(const QByteArray& resolved)
{
    for (qsizetype slash = 0; slash >= 0; slash = resolved.indexOf('/', slash + 1)) {
        const QByteArray folder = slash == 0 ? QByteArray("/") : resolved.left(slash);
        struct stat info {};
        if (::lstat(folder.constData(), &info) != 0)
            throw EInOutError(SystemError("Cannot examine folder", QFile::decodeName(folder)));
        JudgeEntry(QFile::decodeName(folder), info);
    }
}

class TDescriptor {
public:
    explicit TDescriptor(int fd) : FFd(fd) {}
    ~TDescriptor()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;
    int Fd() const { return FFd; }

private:
    int FFd;
};

QByteArray ReadToEnd(int fd, const QString& path)
{
    QByteArray bytes;
    char block[16 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw EInOutError(SystemError("Cannot read file", path));
        if (n == 0)
            return bytes;
        bytes.append(block, qsizetype(n));
    }
}

} // namespace
#endif

std::optional<QByteArray> ReadProtectedFile(const QString& path)
{
#if defined(Q_OS_UNIX)
    char buffer[PATH_MAX];
    if (!::realpath(QFile::encodeName(path).constData(), buffer)) {
        if (errno == ENOENT)
            return std::nullopt;
        throw EInOutError(SystemError("Cannot open file", path));
    }
    const QByteArray resolved(buffer);
    const QString name = QFile::decodeName(resolved);
    JudgeFoldersAbove(resolved);
    // Non-blocking, so that a FIFO put there cannot hold the open.
    const TDescriptor file(::open(resolved.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (file.Fd() < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        throw EInOutError(SystemError("Cannot open file", name));
    }
    struct stat info {};
    if (::fstat(file.Fd(), &info) != 0)
        throw EInOutError(SystemError("Cannot examine file", name));
    if (!S_ISREG(info.st_mode))
        throw EInOutError(QStringLiteral("\"%1\" is not a regular file.").arg(name));
    JudgeEntry(name, info);
    return ReadToEnd(file.Fd(), name);
#else
    // Windows guards a file with its access list, not owner and mode bits:
    // the folder under Program Files is writable by administrators only.
    if (!FileExists(path))
        return std::nullopt;
    return ReadFileBytes(path);
#endif
}
