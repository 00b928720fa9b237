#include "tests/db/fbtest.h"

#include "db/ibsql.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

// Embedded attachments of all test processes share one lock folder, away
// from the server's.
const bool lockFolderSet = [] {
    const QString folder = QDir::tempPath() + QStringLiteral("/zembo-fb-embedded-lock");
    QDir().mkpath(folder);
    qputenv("FIREBIRD_LOCK", folder.toLocal8Bit());
    return true;
}();

} // namespace

QString FbUser()
{
    return ServiceEnv("ZEMBO_FB_USER");
}

QString FbPassword()
{
    return ServiceEnv("ZEMBO_FB_PASSWORD");
}

QString IsqlFb(const QString& database, const QString& input, const QStringList& args, int* exitCode)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("isql-fb"),
            QStringList {"-q", "-user", FbUser(), "-password", FbPassword()} + args + QStringList {database});
    p.write(input.toUtf8());
    p.closeWriteChannel();
    p.waitForFinished(60000);
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAll());
}

TFbTestDatabase::TFbTestDatabase(const QString& name, TFbAccess access, const QString& folder) : FAccess(access)
{
    FPath = QDir(folder.isEmpty() ? ServiceEnv("ZEMBO_FB_DATA") : folder).filePath(QStringLiteral("zembo-db-%1-%2.fdb").arg(name, access == fbServer ? "srv" : "emb"));
    QFile::remove(FPath);
    FDatabase = std::make_unique<TIBDatabase>();
    FTransaction = std::make_unique<TIBTransaction>();
    FDatabase->SetServerType(QStringLiteral("IBServer"));
    FDatabase->SetLoginPrompt(false);
    FDatabase->SetSQLDialect(1);
    FDatabase->SetDatabaseName(ConnectionName());
    FDatabase->SetParams({QStringLiteral("USER '%1' PASSWORD '%2' DEFAULT CHARACTER SET NONE").arg(FbUser(), FbPassword())});
    FDatabase->CreateDatabase();
    FDatabase->Close();
    FDatabase->SetParams(ProgramParams());
    FDatabase->SetSQLDialect(1);
    FDatabase->SetDefaultTransaction(FTransaction.get());
}

TFbTestDatabase::~TFbTestDatabase()
{
    try {
        FDatabase->Close();
    } catch (...) {
    }
    FDatabase.reset();
    FTransaction.reset();
    QFile::remove(FPath);
}

QString TFbTestDatabase::ConnectionName() const
{
    return FAccess == fbServer ? QStringLiteral("127.0.0.1:") + FPath : FPath;
}

QStringList TFbTestDatabase::ProgramParams() const
{
    return {QStringLiteral("user_name=") + FbUser(), QStringLiteral("password=") + FbPassword()};
}

void TFbTestDatabase::Exec(const QStringList& statements)
{
    FDatabase->Open();
    TIBTransaction t;
    t.SetDefaultDatabase(FDatabase.get());
    TIBSQL sql;
    sql.SetDatabase(FDatabase.get());
    sql.SetTransaction(&t);
    sql.SetParamCheck(false);
    // One transaction each: a table is usable only once its creation is committed.
    for (const QString& s : statements) {
        t.StartTransaction();
        sql.SetSQL({s});
        sql.ExecQuery();
        t.Commit();
    }
}

QString TFbTestDatabase::Scalar(const QString& select)
{
    FDatabase->Open();
    TIBTransaction t;
    t.SetDefaultDatabase(FDatabase.get());
    t.StartTransaction();
    TIBSQL sql;
    sql.SetDatabase(FDatabase.get());
    sql.SetTransaction(&t);
    sql.SetSQL({select});
    sql.ExecQuery();
    QString value = sql.Eof() ? QStringLiteral("<no row>")
                   : sql.FieldValue(0).isValid() ? sql.FieldValue(0).toString() : QStringLiteral("<null>");
    sql.Close();
    t.Commit();
    return value;
}

QString TFbTestDatabase::IsqlScalar(const QString& select) const
{
    return IsqlFb(ConnectionName(), "SET HEADING OFF;\n" + select + ";\n").trimmed();
}
