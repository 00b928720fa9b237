// A lock on a file that the operating system holds for the process that took
// it: released by Unlock, by the destructor, or by the end of the process
// however it ends (a crash, a kill), so a lock that no live process holds
// never blocks, whatever the file holds. The file stays when the lock goes:
// removing it would let two processes lock two different files of one name.
// A link in the file's place is never followed (no process of ours made
// it): it is removed as a link and a file made anew.
#pragma once

#include <QString>

class TFileLock {
public:
    explicit TFileLock(QString path);
    ~TFileLock();
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;

    // Takes the lock without waiting; true when this object holds it. False
    // when another holder has it, or when the file cannot be made or opened
    // (Error says why; empty when it is only held elsewhere).
    bool TryLock();
    void Unlock();
    bool IsLocked() const { return FHandle >= 0; }
    const QString& Error() const { return FError; }
    const QString& Path() const { return FPath; }

private:
    QString FPath;
    QString FError;
    int FHandle = -1;
};
