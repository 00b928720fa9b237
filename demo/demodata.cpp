// zembo-demo-data: writes the two binary pieces of the demo from their
// sources, so the project keeps no opaque files:
//
//   zembo-demo-data catalogue FILE SCHEMA SCRIPTS_FOLDER FTP_PASSWORD
//       a fresh SQLite catalogue: the SCHEMA statements, one principal row
//       with the FTP password scrambled twice (senha_ftp, senha_ftp2), and one
//       scripts row per SCRIPTS_FOLDER/VERSION.sql (released, liberado 'S')
//       or VERSION.held.sql (held back, liberado 'N'), programa KELDARIN
//   zembo-demo-data rar ARCHIVE FILE...
//       a RAR archive holding each FILE under its own name and time
//   zembo-demo-data fleet FILE INSTALLATIONS RUNS
//       the runs of a made-up fleet in the SQLite catalogue FILE's table
//       atualizacoes, through the updater's own insert
#include "db/catalog.h"
#include "demo/madeupfleet.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "tests/support/rar4writer.h"
#include "update/configuration.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <cstdio>
#include <stdexcept>

namespace {

[[noreturn]] void Fail(const QString& message)
{
    throw std::runtime_error(message.toStdString());
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        Fail(QStringLiteral("cannot read %1: %2").arg(path, f.errorString()));
    return f.readAll();
}

// The program's digit-shift scrambling, inverted: shift digit k, then every
// character raised by 3*k. Checked against the program's own decoder.
QString Scramble(const QString& plain, int k)
{
    QString s(QChar(u'0' + k));
    for (const QChar c : plain)
        s += QChar(char16_t(c.unicode() + 3 * k));
    if (DecodificaTexto(s) != plain)
        Fail(QStringLiteral("the scrambled password does not decode"));
    return s;
}

void Exec(QSqlQuery& q, const QString& what)
{
    if (!q.exec())
        Fail(what + QStringLiteral(": ") + q.lastError().text());
}

// Statements of the schema file, separated by ";" at the end of a line.
QStringList SchemaStatements(const QString& path)
{
    QStringList statements;
    QString current;
    for (const QString& line : QString::fromUtf8(ReadFile(path)).split(u'\n')) {
        if (line.trimmed().startsWith(QStringLiteral("--")))
            continue;
        current += line + u'\n';
        if (line.trimmed().endsWith(u';')) {
            statements << current.trimmed().chopped(1);
            current.clear();
        }
    }
    if (!current.trimmed().isEmpty())
        Fail(path + QStringLiteral(": the last statement lacks its \";\""));
    return statements;
}

void WriteCatalogue(const QString& file, const QString& schema, const QString& scripts, const QString& password)
{
    QFile::remove(file);
    int rows = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("demo"));
        db.setDatabaseName(file);
        if (!db.open())
            Fail(QStringLiteral("cannot create %1: %2").arg(file, db.lastError().text()));
        QSqlQuery q(db);
        for (const QString& s : SchemaStatements(schema)) {
            q.prepare(s);
            Exec(q, schema);
        }
        q.prepare(QStringLiteral("INSERT INTO principal (senha_ftp, senha_ftp2) VALUES (?, ?)"));
        q.addBindValue(Scramble(password, 1));
        q.addBindValue(Scramble(password, 2));
        Exec(q, QStringLiteral("principal"));
        const QFileInfoList files = QDir(scripts).entryInfoList({QStringLiteral("*.sql")}, QDir::Files, QDir::Name);
        for (const QFileInfo& f : files) {
            const bool held = f.completeBaseName().endsWith(QStringLiteral(".held"));
            const QString versao = f.completeBaseName().section(u'.', 0, 0);
            q.prepare(QStringLiteral("INSERT INTO scripts (programa, versao, texto, liberado, data) "
                                     "VALUES ('KELDARIN', ?, ?, ?, datetime('now'))"));
            q.addBindValue(versao);
            // Stored as the catalogue holds scripts: bytes in the ANSI code page.
            q.addBindValue(ToAnsi(QString::fromUtf8(ReadFile(f.filePath()))));
            q.addBindValue(held ? QStringLiteral("N") : QStringLiteral("S"));
            Exec(q, f.fileName());
            ++rows;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("demo"));
    if (rows == 0)
        Fail(QStringLiteral("no scripts in %1").arg(scripts));
}

void WriteArchive(const QString& archive, const QStringList& files)
{
    QList<TRar4Entry> entries;
    for (const QString& path : files) {
        const QFileInfo info(path);
        entries.append({info.fileName(), ReadFile(path), info.lastModified(), false});
    }
    QFile out(archive);
    const QByteArray bytes = Rar4Archive(entries);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(bytes) != bytes.size())
        Fail(QStringLiteral("cannot write %1").arg(archive));
}

// One transaction for all the rows: SQLite writes them at once.
void WriteFleet(const QString& file, int installations, int runs)
{
    const QString aliases = file + QStringLiteral(".aliases.ini");
    WriteFileBytes(aliases, "[Frota]\nTYPE=SQLITE\nDATABASE NAME=" + file.toUtf8() + "\n");
    qputenv("ZEMBO_ALIASES", aliases.toLocal8Bit());
    TDatabase db;
    db.SetAliasName(QStringLiteral("Frota"));
    db.SetDatabaseName(QStringLiteral("Frota"));
    db.Open();
    db.Connection().transaction();
    for (const TRunEvent& event : MadeUpFleet(installations, runs, QDateTime::currentDateTimeUtc()))
        InsertRunEvent(db.DatabaseName(), event);
    db.Connection().commit();
    QFile::remove(aliases);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList args = application.arguments();
    try {
        if (args.size() == 6 && args[1] == u"catalogue") {
            WriteCatalogue(args[2], args[3], args[4], args[5]);
            return 0;
        }
        if (args.size() == 5 && args[1] == u"fleet") {
            WriteFleet(args[2], args[3].toInt(), args[4].toInt());
            return 0;
        }
        if (args.size() >= 4 && args[1] == u"rar") {
            WriteArchive(args[2], args.mid(3));
            return 0;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zembo-demo-data: %s\n", e.what());
        return 1;
    }
    std::fputs("usage: zembo-demo-data catalogue FILE SCHEMA SCRIPTS_FOLDER FTP_PASSWORD\n"
               "       zembo-demo-data rar ARCHIVE FILE...\n"
               "       zembo-demo-data fleet FILE INSTALLATIONS RUNS\n",
               stderr);
    return 2;
}
