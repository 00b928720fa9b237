// The fleet at the size the maker's support must read: a made-up fleet
// (default 5 000 installations, 100 000 runs) inserted into a SQLite
// catalogue through the updater's own insert, read back, judged and
// written as the report page; then zembo-fleet --html and --tsv on it.
// Prints one line per step: time and, for the page, its size.
//   bench_fleet [INSTALLATIONS [RUNS]]
#include "db/catalog.h"
#include "demo/madeupfleet.h"
#include "fleet/fleet.h"
#include "platform/files.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

namespace {

void Line(const char* step, qint64 ms, const QString& size = {})
{
    std::printf("%-40s %9lld ms  %s\n", step, static_cast<long long>(ms), qPrintable(size));
}

QString Mebibytes(qint64 bytes)
{
    return QStringLiteral("%1 MiB").arg(double(bytes) / (1024 * 1024), 0, 'f', 2);
}

// zembo-fleet on the catalogue: its time and the size of what it wrote.
void Tool(const char* step, const QString& aliases, const QStringList& args, const QString& output = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ZEMBO_ALIASES"), aliases);
    QProcess tool;
    tool.setProcessEnvironment(env);
    QElapsedTimer timer;
    timer.start();
    tool.start(QStringLiteral(ZEMBO_FLEET), args);
    tool.waitForFinished(600000);
    const QByteArray out = tool.readAllStandardOutput();
    Line(step, timer.elapsed(),
         QStringLiteral("exit %1, %2").arg(tool.exitCode()).arg(Mebibytes(output.isEmpty() ? out.size() : QFileInfo(output).size())));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList args = application.arguments();
    const int installations = args.size() > 1 ? args[1].toInt() : 5000;
    const int runs = args.size() > 2 ? args[2].toInt() : 100000;
    QTemporaryDir dir;
    const QString catalogue = dir.filePath(QStringLiteral("Sistema_my.sqlite"));
    const QString aliases = dir.filePath(QStringLiteral("aliases.ini"));
    WriteFileBytes(aliases, "[Check]\nTYPE=SQLITE\nDATABASE NAME=" + catalogue.toUtf8() + "\n");
    qputenv("ZEMBO_ALIASES", aliases.toLocal8Bit());
    WriteFileBytes(catalogue, {});
    std::printf("fleet: %d installations, %d runs\n", installations, runs);

    QElapsedTimer timer;
    timer.start();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QList<TRunEvent> made = MadeUpFleet(installations, runs, now);
    Line("made up (rows)", timer.restart(), QString::number(made.size()));

    TDatabase db;
    db.SetAliasName(QStringLiteral("Check"));
    db.SetDatabaseName(QStringLiteral("Banco"));
    db.Open();
    TQuery create;
    create.SetDatabaseName(db.DatabaseName());
    create.SetSQL(QString::fromUtf8(ReadFileBytes(QStringLiteral(ZEMBO_SOURCE) + "/demo/catalogue.sql"))
                      .split(u';', Qt::SkipEmptyParts)
                      .filter(QStringLiteral("CREATE TABLE atualizacoes")));
    create.ExecSQL();
    create.SetSQL({QStringLiteral("CREATE TABLE scripts (programa VARCHAR(20), versao VARCHAR(10), texto BLOB, "
                                  "liberado CHAR(1), data DATETIME)")});
    create.ExecSQL();
    db.Connection().transaction();
    for (const TRunEvent& event : made)
        InsertRunEvent(db.DatabaseName(), event);
    db.Connection().commit();
    Line("inserted, one transaction", timer.restart());

    const QList<TRunEvent> events = ReadRunEvents(db.DatabaseName());
    Line("read back (ReadRunEvents)", timer.restart(), QString::number(events.size()));
    const TFleet fleet = JulgaFrota(events, VersaoMaisNovaLiberada(db.DatabaseName()), now, 7);
    Line("judged (JulgaFrota)", timer.restart(), QStringLiteral("%1 installations").arg(fleet.Instalacoes.size()));
    const QByteArray page = PaginaDaFrota(fleet);
    Line("page written (PaginaDaFrota)", timer.restart(), Mebibytes(page.size()));
    db.Close();

    const QString html = dir.filePath(QStringLiteral("frota.html"));
    Tool("zembo-fleet --html (whole)", aliases, {QStringLiteral("--html"), html}, html);
    Tool("zembo-fleet --tsv (whole)", aliases, {QStringLiteral("--tsv")});
    return 0;
}
