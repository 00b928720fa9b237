// Backup and restore through the client library's services API, the same
// actions Firebird's gbak asks of the engine: a database named by a plain
// path is reached in-process, one named "host:path" through that server.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class TIBService {
public:
    // database as a connection names it; params the connection's
    // user_name=... and password=... lines (others are ignored).
    TIBService(const QString& database, const QStringList& params);

    // Writes a backup of the database to file (a path as the engine that
    // makes it sees it). Waits at most timeoutSeconds, and gives up as soon
    // as stopped() answers true; a failure, the time-out and the stop raise.
    void Backup(const QString& file, const std::function<bool()>& stopped, int timeoutSeconds);
    // Creates target (a database name like the one given to the
    // constructor's, on the same server) from the backup file; raises when
    // the target exists or the restore fails.
    void Restore(const QString& backup, const QString& target, int timeoutSeconds);

    // The engine's name for the database's file: the path after "host:".
    static QString FilePath(const QString& database);
    // "host:" for a database reached through a server, else empty.
    static QString ServerPrefix(const QString& database);

private:
    void Run(const QByteArray& request, const std::function<bool()>& stopped, int timeoutSeconds);

    QString FDatabase;
    QString FUser;
    QString FPassword;
};
