// The backup of a customer database taken before its first pending script:
// into a folder of its own, named ALIAS-VERSAO-YYYYMMDD-HHMMSS.fbk, written
// aside and renamed, the newest few per alias kept.
#pragma once

#include "platform/errors.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>

// The backup could not be made; the message says why, in the operator's words.
class EBackupFailed : public Exception {
public:
    using Exception::Exception;
};

struct TBackupRequest {
    QString Folder;   // made when missing
    QString Alias;
    QString Versao;   // the version before the upgrade
    QString Database; // as the connection names it
    QStringList Params; // the connection's login lines
    QDateTime Now;
    std::function<bool()> Stopped = [] { return false; };
    int TimeoutSeconds = 4 * 60 * 60;
    int Keep = 3; // backups of the alias left in the folder
};

// The file name for the alias's database at versao; characters a file name
// cannot hold become "_".
QString BackupName(const QString& alias, const QString& versao, const QDateTime& when);

// Makes the backup and returns its path; raises EBackupFailed.
QString MakeBackup(const TBackupRequest& request);

// Removes the alias's backups in folder beyond the newest keep.
void KeepNewestBackups(const QString& folder, const QString& alias, int keep);

// Puts the backup file in place of the database (named as a connection
// names it; its file on this machine): restores it into a file beside the
// database, and replaces the database only once the whole restore
// succeeded. Refuses (EBackupFailed) while anything is attached to the
// database; other failures raise EBackupFailed too, the database untouched.
void RestoreBackup(const QString& backup, const QString& database, const QStringList& params,
                   int timeoutSeconds = 4 * 60 * 60);
