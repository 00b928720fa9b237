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

#endif

} // namespace

TFileLock::TFileLock(QString path) : FPath(std::move(path)) {}

TFileLock::~TFileLock()
{
    Unlock();
}

#if defined(Q_OS_UNIX)

bool TFileLock::TryLock()
{
    if (IsLocked())
        return true;
    FError.clear();
    const QByteArray native = QFile::encodeName(FPath);
    int handle = OpenNoFollow(native);
    if (handle < 0 && errno == ELOOP && ::unlink(native.constData()) == 0)
        handle = OpenNoFollow(native);
    if (handle < 0) {
        FError = SystemError(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(handle, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(handle);
        FError = QStringLiteral("não é um arquivo comum");
        return false;
    }
    if (::flock(handle, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK)
            FError = SystemError(errno);
        ::close(handle);
        return false;
    }
    FHandle = handle;
    return true;
}

void TFileLock::Unlock()
{
    if (FHandle < 0)
        return;
    ::close(FHandle); // the lock goes with the descriptor
    FHandle = -1;
}

#elif defined(Q_OS_WIN)

// Opened with no sharing at all: nobody else opens the file until the handle
// closes, which the system does when the process ends.
bool TFileLock::TryLock()
{
    if (IsLocked())
        return true;
    FError.clear();
    int handle = -1;
    const errno_t failed = ::_wsopen_s(&handle, reinterpret_cast<const wchar_t*>(FPath.utf16()),
                                       _O_RDWR | _O_CREAT | _O_BINARY | _O_NOINHERIT, _SH_DENYRW, _S_IREAD | _S_IWRITE);
    if (failed != 0) {
        if (failed != EACCES)
            FError = QStringLiteral("erro %1").arg(failed);
        return false;
    }
    FHandle = handle;
    return true;
}

void TFileLock::Unlock()
{
    if (FHandle < 0)
        return;
    ::_close(FHandle);
    FHandle = -1;
}

#endif
