// The cost of the upgrade's safety net, on embedded Firebird in a scratch
// folder: the backup through the services API beside Firebird's gbak -b of
// the same database, and a run of many tiny scripts with and without the
// history (a SQLite catalogue, no backup), on databases with forced writes
// on (every commit waits for the disk: the history's own transaction per
// script adds one such wait) and off. Prints one table.
//
//   bench_history [MEGABYTES [SCRIPTS]]     defaults 500 and 200
#include "db/catalog.h"
#include "db/ibdatabase.h"
#include "db/ibquery.h"
#include "db/ibservice.h"
#include "settings.h"
#include "upgrade/upgraderun.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <cstdio>

namespace {

QStringList Login()
{
    return {QStringLiteral("user_name=") + QLatin1String(Settings::CustomerDbUser),
            QStringLiteral("password=") + QLatin1String(Settings::CustomerDbPassword)};
}

// A dialect-1 database holding a version table and, for size, rows of 1 KB.
void CreateDatabase(const QString& path, int megabytes)
{
    TIBDatabase db;
    TIBTransaction tr;
    db.SetServerType(QStringLiteral("IBServer"));
    db.SetLoginPrompt(false);
    db.SetDatabaseName(path);
    db.SetParams({QStringLiteral("USER '%1' PASSWORD '%2' DEFAULT CHARACTER SET NONE")
                      .arg(QLatin1String(Settings::CustomerDbUser), QLatin1String(Settings::CustomerDbPassword))});
    db.CreateDatabase();
    db.Close();
    db.SetParams(Login());
    db.SetSQLDialect(1);
    db.SetDefaultTransaction(&tr);
    tr.SetDefaultDatabase(&db);
    db.Open();
    TIBQuery q;
    q.SetParamCheck(false); // the block's variables are no parameters
    q.SetDatabase(&db);
    q.SetTransaction(&tr);
    auto exec = [&](const QString& sql) {
        q.SetSQL({sql});
        q.ExecSQL();
        tr.Commit();
    };
    exec(QStringLiteral("CREATE TABLE VERSAO (VERSAO VARCHAR(10))"));
    exec(QStringLiteral("INSERT INTO VERSAO VALUES ('0000')"));
    exec(QStringLiteral("CREATE TABLE CARGA (ID INTEGER, TEXTO VARCHAR(1000))"));
    const int rows = megabytes * 1000;
    for (int done = 0; done < rows; done += 50000)
        exec(QStringLiteral("EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < %1) DO BEGIN "
                            "INSERT INTO CARGA VALUES (:I, RPAD('', 990, UUID_TO_CHAR(GEN_UUID())) || :I); I = I + 1; END END")
                 .arg(std::min(50000, rows - done)));
    db.Close();
}

double Seconds(const QElapsedTimer& clock)
{
    return double(clock.nsecsElapsed()) / 1e9;
}

double ServiceBackup(const QString& database, const QString& file)
{
    QFile::remove(file);
    QElapsedTimer clock;
    clock.start();
    TIBService(database, Login()).Backup(file, [] { return false; }, 3600);
    return Seconds(clock);
}

double GbakBackup(const QString& database, const QString& file)
{
    QFile::remove(file);
    QElapsedTimer clock;
    clock.start();
    QProcess gbak;
    gbak.start(QStringLiteral("gbak"), {QStringLiteral("-b"), QStringLiteral("-user"), QLatin1String(Settings::CustomerDbUser),
                                        QStringLiteral("-password"), QLatin1String(Settings::CustomerDbPassword), database,
                                        file});
    if (!gbak.waitForFinished(3600 * 1000) || gbak.exitCode() != 0)
        std::fprintf(stderr, "gbak -b failed: %s\n", gbak.readAllStandardError().constData());
    return Seconds(clock);
}

// A SQLite catalogue with count tiny released scripts.
void WriteCatalogue(const QString& file, int count)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench"));
        db.setDatabaseName(file);
        db.open();
        QSqlQuery q(db);
        q.exec(QStringLiteral("CREATE TABLE scripts (programa VARCHAR(20), versao VARCHAR(10), texto BLOB, "
                              "liberado CHAR(1), data DATETIME)"));
        db.transaction();
        q.prepare(QStringLiteral("INSERT INTO scripts VALUES ('KELDARIN', ?, ?, 'S', NULL)"));
        for (int i = 1; i <= count; ++i) {
            q.addBindValue(QString::asprintf("%04d", i));
            q.addBindValue(QStringLiteral("INSERT INTO VERSAO_LOG VALUES (%1);").arg(i).toLatin1());
            q.exec();
        }
        db.commit();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench"));
}

// Firebird's gfix switches a database's forced writes off (or on).
void ForcedWrites(const QString& path, bool on)
{
    QProcess gfix;
    gfix.start(QStringLiteral("gfix"), {QStringLiteral("-write"), on ? QStringLiteral("sync") : QStringLiteral("async"),
                                        QStringLiteral("-user"), QLatin1String(Settings::CustomerDbUser),
                                        QStringLiteral("-password"), QLatin1String(Settings::CustomerDbPassword), path});
    gfix.waitForFinished(60000);
}

double UpgradeRun(const QString& folder, bool history, bool forcedWrites)
{
    const QString path = QDir(folder).filePath(QStringLiteral("run-%1-%2.fdb").arg(int(history)).arg(int(forcedWrites)));
    QFile::remove(path);
    CreateDatabase(path, 0);
    ForcedWrites(path, forcedWrites);
    {
        TIBDatabase db;
        TIBTransaction tr;
        db.SetServerType(QStringLiteral("IBServer"));
        db.SetLoginPrompt(false);
        db.SetParams(Login());
        db.SetSQLDialect(1);
        db.SetDatabaseName(path);
        db.SetDefaultTransaction(&tr);
        tr.SetDefaultDatabase(&db);
        db.Open();
        TIBQuery q;
        q.SetDatabase(&db);
        q.SetTransaction(&tr);
        q.SetSQL({QStringLiteral("CREATE TABLE VERSAO_LOG (N INTEGER)")});
        q.ExecSQL();
        tr.Commit();
        db.Close();
    }
    const QString aliases = QDir(folder).filePath(QStringLiteral("aliases.ini"));
    QFile out(aliases);
    out.open(QIODevice::WriteOnly);
    out.write(("[Check]\nTYPE=SQLITE\nDATABASE NAME=" + QDir(folder).filePath(QStringLiteral("catalogo.db")) +
               "\n[KELDARIN]\nTYPE=INTRBASE\nSERVER NAME=" + path + "\n")
                  .toUtf8());
    out.close();
    qputenv("ZEMBO_ALIASES", aliases.toLocal8Bit());
    TDatabase catalog;
    catalog.SetAliasName(QStringLiteral("Check"));
    catalog.SetDatabaseName(QStringLiteral("Sistema_my"));
    catalog.SetLoginPrompt(false);
    catalog.Open();
    TIBDatabase customer;
    customer.SetServerType(QStringLiteral("IBServer"));
    customer.SetSQLDialect(1);
    customer.SetLoginPrompt(false);
    customer.SetParams(Login());
    TUpgradeRun run(catalog, customer);
    run.SetHistory(history, QStringLiteral("bench"));
    TUpgradeObserver quiet;
    QElapsedTimer clock;
    clock.start();
    const TUpgradeOutcome outcome = run.Run({QStringLiteral("KELDARIN")}, quiet);
    const double seconds = Seconds(clock);
    if (!outcome.Completed)
        std::fprintf(stderr, "run failed: %s\n", qPrintable(outcome.Error));
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int megabytes = argc > 1 ? std::atoi(argv[1]) : 500;
    const int scripts = argc > 2 ? std::atoi(argv[2]) : 200;
    QTemporaryDir dir;
    const QString database = dir.filePath(QStringLiteral("cliente.fdb"));
    std::printf("creating a database of about %d MB...\n", megabytes);
    std::fflush(stdout);
    CreateDatabase(database, megabytes);
    const double size = double(QFileInfo(database).size()) / (1024 * 1024);
    // Twice each, alternating, so neither profits alone from a warm cache.
    const double gbak1 = GbakBackup(database, dir.filePath(QStringLiteral("gbak.fbk")));
    const double service1 = ServiceBackup(database, dir.filePath(QStringLiteral("servico.fbk")));
    const double gbak2 = GbakBackup(database, dir.filePath(QStringLiteral("gbak.fbk")));
    const double service2 = ServiceBackup(database, dir.filePath(QStringLiteral("servico.fbk")));
    const double gbak = std::min(gbak1, gbak2), service = std::min(service1, service2);

    WriteCatalogue(dir.filePath(QStringLiteral("catalogo.db")), scripts);
    // Best of three each, alternating.
    double without = 1e9, with = 1e9, withoutAsync = 1e9, withAsync = 1e9;
    for (int i = 0; i < 3; ++i) {
        without = std::min(without, UpgradeRun(dir.path(), false, true));
        with = std::min(with, UpgradeRun(dir.path(), true, true));
        withoutAsync = std::min(withoutAsync, UpgradeRun(dir.path(), false, false));
        withAsync = std::min(withAsync, UpgradeRun(dir.path(), true, false));
    }

    std::printf("\n%-44s %10s %10s %8s\n", "measure", "ours (s)", "base (s)", "ratio");
    std::printf("%-44s %10.2f %10.2f %8.3f\n",
                qPrintable(QStringLiteral("backup of %1 MB: services API vs gbak -b").arg(size, 0, 'f', 0)), service, gbak,
                service / gbak);
    std::printf("%-44s %10.2f %10.2f %8.3f\n",
                qPrintable(QStringLiteral("%1 tiny scripts: with vs without history").arg(scripts)), with, without,
                with / without);
    std::printf("%-44s %10.2f %10.2f %8.3f\n",
                qPrintable(QStringLiteral("the same, forced writes off")), withAsync, withoutAsync,
                withAsync / withoutAsync);
    return 0;
}
