#include "upgrade/backup.h"

#include "db/ibdatabase.h"
#include "db/ibquery.h"
#include "db/ibservice.h"
#include "platform/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStorageInfo>
#include <algorithm>

namespace {

const QString Extension = QStringLiteral(".fbk");
// Written under this name until the backup is whole.
const QString AsideSuffix = QStringLiteral(".parcial");

QString SafePart(QString text)
{
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._]"));
    text.replace(unsafe, QStringLiteral("_"));
    return text.isEmpty() ? QStringLiteral("_") : text;
}

[[noreturn]] void Fail(const QString& reason)
{
    throw EBackupFailed(QStringLiteral("Não foi possível fazer a cópia de segurança da base antes de atualizá-la: ") +
                        reason);
}

// The database's size, where its file is on this machine; 0 when unknown.
qint64 DatabaseSize(const QString& database)
{
    return QFileInfo(TIBService::FilePath(database)).size();
}

void CheckFreeSpace(const QString& folder, const QString& database)
{
    const qint64 needed = DatabaseSize(database);
    const QStorageInfo storage(folder);
    if (storage.isValid() && storage.bytesAvailable() < needed)
        Fail(QStringLiteral("espaço livre insuficiente em %1 (%2 MB livres, a base tem %3 MB).")
                 .arg(QDir::toNativeSeparators(folder))
                 .arg(storage.bytesAvailable() / (1024 * 1024))
                 .arg(needed / (1024 * 1024)));
}

// The engine writes the file; a probe of our own tells a folder it cannot
// write to before the engine starts.
void CheckWritable(const QString& aside)
{
    QFile probe(aside);
    if (!probe.open(QIODevice::WriteOnly | QIODevice::Truncate))
        Fail(QStringLiteral("a pasta %1 não pode ser gravada (%2).")
                 .arg(QDir::toNativeSeparators(QFileInfo(aside).absolutePath()), probe.errorString()));
    probe.close();
    probe.remove();
}

// Written beside the database until the restore is whole.
const QString RestoreSuffix = QStringLiteral(".restaurando");

// Anything else attached to the database: other connections the server
// counts, or (embedded) an attachment that fails because another process
// holds the file.
void CheckDetached(const QString& database, const QStringList& params)
{
    TIBDatabase connection;
    TIBTransaction transaction;
    connection.SetServerType(QStringLiteral("IBServer"));
    connection.SetLoginPrompt(false);
    connection.SetParams(params);
    connection.SetDatabaseName(database);
    connection.SetDefaultTransaction(&transaction);
    transaction.SetDefaultDatabase(&connection);
    qint64 others = 0;
    try {
        connection.Open();
        TIBQuery query;
        query.SetDatabase(&connection);
        query.SetTransaction(&transaction);
        query.SetSQL({QStringLiteral("SELECT COUNT(*) CT FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID <> "
                                     "CURRENT_CONNECTION AND MON$SYSTEM_FLAG = 0")});
        query.Open();
        others = query.FieldByName(QStringLiteral("CT")).AsLargeInt();
        query.Close();
        transaction.Rollback();
        connection.Close();
    } catch (const std::exception& error) {
        throw EBackupFailed(QStringLiteral("A base %1 não pode ser aberta sozinha para a restauração: %2")
                                .arg(database, ErrorText(error)));
    }
    if (others > 0)
        throw EBackupFailed(QStringLiteral("A base %1 está em uso (%2 conexões): feche os aplicativos antes de restaurar.")
                                .arg(database)
                                .arg(others));
}

} // namespace

QString BackupName(const QString& alias, const QString& versao, const QDateTime& when)
{
    return SafePart(alias) + u'-' + SafePart(versao) + u'-' + when.toString(QStringLiteral("yyyyMMdd-HHmmss")) +
        Extension;
}

QString MakeBackup(const TBackupRequest& request)
{
    const QString folder = QDir(request.Folder).absolutePath();
    if (!QDir().mkpath(folder))
        Fail(QStringLiteral("a pasta %1 não pode ser criada.").arg(QDir::toNativeSeparators(folder)));
    const QString target = QDir(folder).filePath(BackupName(request.Alias, request.Versao, request.Now));
    const QString aside = target + AsideSuffix;
    CheckWritable(aside);
    CheckFreeSpace(folder, request.Database);
    try {
        TIBService(request.Database, request.Params).Backup(aside, request.Stopped, request.TimeoutSeconds);
    } catch (const std::exception& error) {
        DeleteFile(aside);
        Fail(ErrorText(error));
    }
    if (!QFileInfo(aside).isFile() || QFileInfo(aside).size() == 0) {
        DeleteFile(aside);
        Fail(QStringLiteral("o arquivo %1 não foi gravado.").arg(QDir::toNativeSeparators(aside)));
    }
    const QString failure = ReplaceFile(aside, target);
    if (!failure.isEmpty()) {
        DeleteFile(aside);
        Fail(failure);
    }
    KeepNewestBackups(folder, request.Alias, request.Keep);
    return target;
}

void KeepNewestBackups(const QString& folder, const QString& alias, int keep)
{
    const QRegularExpression name(u'^' + QRegularExpression::escape(SafePart(alias)) +
                                  QStringLiteral("-.*-(\\d{8}-\\d{6})\\.fbk$"));
    QList<std::pair<QString, QString>> found; // time, file
    for (const QString& file : QDir(folder).entryList(QDir::Files)) {
        const QRegularExpressionMatch m = name.match(file);
        if (m.hasMatch())
            found.append({m.captured(1), file});
    }
    std::sort(found.begin(), found.end(), std::greater<>());
    for (qsizetype i = keep; i < found.size(); ++i)
        DeleteFile(QDir(folder).filePath(found[i].second));
}

void RestoreBackup(const QString& backup, const QString& database, const QStringList& params, int timeoutSeconds)
{
    if (!QFileInfo(backup).isFile())
        throw EBackupFailed(QStringLiteral("A cópia %1 não existe.").arg(backup));
    CheckDetached(database, params);
    const QString file = TIBService::FilePath(database);
    const QString aside = file + RestoreSuffix;
    DeleteFile(aside); // left by a restore that did not end
    try {
        TIBService(database, params)
            .Restore(QFileInfo(backup).absoluteFilePath(), TIBService::ServerPrefix(database) + aside, timeoutSeconds);
    } catch (const std::exception& error) {
        DeleteFile(aside);
        throw EBackupFailed(QStringLiteral("A restauração de %1 falhou, a base ficou como estava: %2")
                                .arg(backup, ErrorText(error)));
    }
    const QString failure = ReplaceFile(aside, file);
    if (!failure.isEmpty()) {
        DeleteFile(aside);
        throw EBackupFailed(QStringLiteral("A base restaurada não pôde substituir %1: %2").arg(file, failure));
    }
}
