#include "platform/lock.h"

#include <QFile>

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#elif defined(Q_OS_WIN)
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#endif

namespace {

#if defined(Q_OS_UNIX)

// The file itself, never what a link points to; a FIFO does not block.
int OpenNoFollow(const QByteArray& path)
{
    return ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
}

QString SystemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// A descriptor of the file that holds the lock, or -1 (error empty when
// another holder has it).
int OpenLocked(const QString& path, QString& error)
{
    const QByteArray native = QFile::encodeName(path);
    int handle = OpenNoFollow(native);
    if (handle < 0 && errno == ELOOP && ::unlink(native.constData()) == 0)
        handle = OpenNoFollow(native);
    if (handle < 0) {
        error = SystemError(errno);
        return -1;
    }
    struct stat info {};
    if (::fstat(handle, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(handle);
        error = QStringLiteral("não é um arquivo comum");
        return -1;
    }
    if (::flock(handle, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK)
            error = SystemError(errno);
        ::close(handle);
        return -1;
    }
    return handle;
}

void CloseLocked(int handle)
{
    ::close(handle); // the lock goes with the descriptor
}

#elif defined(Q_OS_WIN)

// Opened with no sharing at all: nobody else opens the file until the handle
// closes, which the system does when the process ends.
int OpenLocked(const QString& path, QString& error)
{
    int handle = -1;
    const errno_t failed = ::_wsopen_s(&handle, reinterpret_cast<const wchar_t*>(path.utf16()),
                                       _O_RDWR | _O_CREAT | _O_BINARY | _O_NOINHERIT, _SH_DENYRW, _S_IREAD | _S_IWRITE);
    if (failed == 0)
        return handle;
    if (failed != EACCES)
        error = QStringLiteral("erro %1").arg(failed);
    return -1;
}

void CloseLocked(int handle)
{
    ::_close(handle);
}

#endif

} // namespace

TFileLock::TFileLock(QString path) : FPath(std::move(path)) {}

TFileLock::~TFileLock()
{
    Unlock();
}

bool TFileLock::TryLock()
{
    if (IsLocked())
        return true;
    FError.clear();
    FHandle = OpenLocked(FPath, FError);
    return IsLocked();
}

void TFileLock::Unlock()
{
    if (!IsLocked())
        return;
    CloseLocked(FHandle);
    FHandle = -1;
}
