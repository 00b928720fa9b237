// The upgrade's history, its backup and the way back, with the private
// MariaDB as the catalogue and real Firebird customer databases (embedded
// and through the server); gbak -c is the reference restore.
#include "db/catalog.h"
#include "db/ibdatabase.h"
#include "db/ibservice.h"
#include "platform/files.h"
#include "tests/db/catalogtest.h"
#include "tests/db/fbtest.h"
#include "tests/support/testenv.h"
#include "upgrade/backup.h"
#include "upgrade/upgraderun.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

QString TestName()
{
    return QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()).toLower();
}

struct TRecorder : TUpgradeObserver {
    void BackupMade(const QString&, const QString& file) override { Backups << file; }
    void ScriptFailed(const QString&, const QString& message, const QStringList& saved) override
    {
        Message = message;
        Saved = saved;
    }
    QString ErrorFile() const override { return "SCRIPT_ERRO_TESTE M-KELDARIN.TXT"; }
    void Finished(const TUpgradeOutcome& outcome) override { Outcome = outcome; }

    QStringList Backups;
    QString Message;
    QStringList Saved;
    TUpgradeOutcome Outcome;
};

struct TResult {
    int Exit = -1;
    QString Out;
    QString Err;
};

TResult RunIn(const QString& folder, const QString& program, const QStringList& args)
{
    QProcess child;
    child.setWorkingDirectory(folder);
    child.start(program, args);
    EXPECT_TRUE(child.waitForFinished(120000));
    return {child.exitCode(), QString::fromUtf8(child.readAllStandardOutput()),
            QString::fromUtf8(child.readAllStandardError())};
}

// A select answered by Firebird's own isql, trimmed.
QString Isql(const QString& database, const QString& select)
{
    return IsqlFb(database, "SET HEADING OFF;\n" + select + ";\n").trimmed();
}

const QByteArray Script2 = "CREATE TABLE T_2 (X INTEGER);\r\n";
const QByteArray Script3 = "INSERT INTO DADOS VALUES (3);\nINSERT INTO T_2 VALUES (3);\n";
const QByteArray Failing3 = "INSERT INTO T_2 VALUES (31);\nINSERT INTO NADA VALUES (1);\nINSERT INTO T_2 VALUES (32);\n";

class History : public ::testing::Test {
protected:
    void SetUp() override
    {
        FAliases = FCatalog.CheckAlias();
        Catalog.SetAliasName("Check");
        Catalog.SetDatabaseName("Sistema_my");
        Catalog.SetLoginPrompt(false);
        Catalog.SetParams({"USER NAME=" + ServiceEnv("ZEMBO_MYSQL_USER"),
                           "PASSWORD=" + ServiceEnv("ZEMBO_MYSQL_PASSWORD")});
        WriteAliases();
        Catalog.Open();
        Customer.SetServerType("IBServer");
        Customer.SetSQLDialect(1);
        Customer.SetLoginPrompt(false);
        Run = std::make_unique<TUpgradeRun>(Catalog, Customer);
        Run->SetBackupFolder(FDir.File("backup"));
        Run->SetHistory(true, "ZemboUpdate teste");
        FCatalog.AddScript("KELDARIN", "0001", "S", "CREATE TABLE DADOS (X INTEGER);");
        FCatalog.AddScript("KELDARIN", "0002", "S", Script2);
    }
    void WriteAliases()
    {
        WriteBytes(FDir.File("aliases.ini"), FAliases);
        qputenv("ZEMBO_ALIASES", FDir.File("aliases.ini").toLocal8Bit());
    }
    // The customer database KELDARIN at 0001, holding one row of data.
    TFbTestDatabase& Database(TFbAccess access)
    {
        FDb = std::make_unique<TFbTestDatabase>(TestName().left(24), access,
                                                access == fbEmbedded ? FDir.Path() : QString());
        FDb->Exec({"CREATE TABLE VERSAO (VERSAO VARCHAR(10))", "INSERT INTO VERSAO VALUES ('0001')",
                   "CREATE TABLE DADOS (X INTEGER)", "INSERT INTO DADOS VALUES (1)"});
        FDb->Database().Close();
        Customer.SetParams(FDb->ProgramParams());
        FAliases += "[KELDARIN]\nTYPE=INTRBASE\nSERVER NAME=" + FDb->ConnectionName().toUtf8() + "\n";
        WriteAliases();
        return *FDb;
    }
    TUpgradeOutcome Upgrade()
    {
        const TUpgradeOutcome outcome = Run->Run({"KELDARIN"}, FRecorder);
        FDb->Database().Close();
        return outcome;
    }
    // The rows as Firebird's own isql reads them, oldest first.
    QString Rows() const
    {
        return FDb->IsqlScalar("SELECT CAST(LIST(VERSAO || ':' || RESULTADO || ':' || COMANDOS, ' ') AS "
                               "VARCHAR(500)) FROM (SELECT * FROM ZEMBO_HISTORICO ORDER BY INICIO, VERSAO)");
    }
    QString Column(const QString& column, const QString& versao) const
    {
        return FDb->IsqlScalar("SELECT " + column + " FROM ZEMBO_HISTORICO WHERE VERSAO = '" + versao + "'");
    }
    QStringList BackupFiles() const { return QDir(FDir.File("backup")).entryList(QDir::Files); }
    // A database at 0001 with the row it had, and nothing the upgrade made.
    static void ExpectBeforeTheUpgrade(const QString& database)
    {
        EXPECT_EQ(Isql(database, "SELECT VERSAO FROM VERSAO"), "0001");
        EXPECT_EQ(Isql(database, "SELECT CAST(LIST(X) AS VARCHAR(50)) FROM DADOS"), "1");
        EXPECT_EQ(Isql(database, "SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME IN ('T_2', "
                                 "'ZEMBO_HISTORICO')"),
                  "0");
    }
    // gbak -c of the backup into a new file, as Firebird's own tool restores it.
    QString GbakRestore(const QString& backup)
    {
        const QString target = FDir.File("gbak-" + TestName().left(20) + ".fdb");
        QProcess gbak;
        gbak.start("gbak", {"-c", "-user", FbUser(), "-password", FbPassword(), backup, target});
        EXPECT_TRUE(gbak.waitForFinished(120000));
        EXPECT_EQ(gbak.exitCode(), 0) << gbak.readAllStandardError().toStdString();
        return target;
    }

    TScratchDir FDir;
    TCatalogTestDatabase FCatalog{"zembo_hist_" + TestName().left(40)};
    QByteArray FAliases;
    std::unique_ptr<TFbTestDatabase> FDb;
    TDatabase Catalog;
    TIBDatabase Customer;
    std::unique_ptr<TUpgradeRun> Run;
    TRecorder FRecorder;
};

} // namespace

// 0001 to 0003: the baseline and a row per script with the catalogue texts'
// checksums; the backup, taken first, restores (by this program and by
// gbak) to the database at 0001 with its data; a second run with nothing
// pending takes none.
TEST_F(History, BaselineRowsAndABackupThatRestores)
{
    FCatalog.AddScript("KELDARIN", "0003", "S", Script3);
    TFbTestDatabase& db = Database(fbEmbedded);
    ASSERT_TRUE(Upgrade().Completed) << FRecorder.Outcome.Error.toStdString();
    EXPECT_EQ(db.IsqlScalar("SELECT VERSAO FROM VERSAO"), "0003");
    EXPECT_EQ(Rows(), "0001:BASE:0 0002:OK:1 0003:OK:2");
    EXPECT_EQ(Column("CHECKSUM", "0002"), ScriptChecksum(Script2));
    EXPECT_EQ(Column("CHECKSUM", "0003"), ScriptChecksum(Script3));
    EXPECT_EQ(ScriptChecksum(Script2), ScriptChecksum("CREATE TABLE T_2 (X INTEGER);\n"));
    EXPECT_EQ(Column("ATUALIZADOR", "0003"), "ZemboUpdate teste");

    ASSERT_EQ(BackupFiles().size(), 1);
    const QString backup = BackupFiles().first();
    EXPECT_TRUE(QRegularExpression("^KELDARIN-0001-\\d{8}-\\d{6}\\.fbk$").match(backup).hasMatch()) << backup.toStdString();
    EXPECT_EQ(Column("COPIA", "0002"), backup);
    EXPECT_EQ(FRecorder.Backups, QStringList{FDir.File("backup/" + backup)});

    // The reference restore into a new file.
    ExpectBeforeTheUpgrade(GbakRestore(FDir.File("backup/" + backup)));

    // zembo-isql refuses while the database is attached, then restores it in place.
    db.Database().Open();
    const TResult refused = RunIn(FDir.Path(), ZEMBO_ISQL,
                                  {"--user", FbUser(), "--password", FbPassword(), "--restore",
                                   FDir.File("backup/" + backup), db.ConnectionName()});
    EXPECT_EQ(refused.Exit, 1) << refused.Out.toStdString();
    db.Database().Close();
    EXPECT_EQ(db.IsqlScalar("SELECT VERSAO FROM VERSAO"), "0003");
    const TResult restored = RunIn(FDir.Path(), ZEMBO_ISQL,
                                   {"--user", FbUser(), "--password", FbPassword(), "--restore",
                                    FDir.File("backup/" + backup), db.ConnectionName()});
    EXPECT_EQ(restored.Exit, 0) << restored.Err.toStdString();
    ExpectBeforeTheUpgrade(db.ConnectionName());
    EXPECT_FALSE(QFileInfo::exists(db.Path() + ".restaurando"));

    // Nothing pending: no backup, no row.
    Customer.SetParams(db.ProgramParams());
    FCatalog.Exec("UPDATE scripts SET liberado='N'");
    ASSERT_TRUE(Upgrade().Completed);
    EXPECT_EQ(BackupFiles().size(), 1);
}

// A failing second script: VERSAO names it and its statements before the
// failing one stay, as always; the history has the first as ran and the
// second as failed with its message and error file; the backup gives the
// database before the upgrade. Through the server this time.
TEST_F(History, AFailedScriptIsRecordedAndTheBackupUndoesIt)
{
    FCatalog.AddScript("KELDARIN", "0003", "S", Failing3);
    TFbTestDatabase& db = Database(fbServer);
    Upgrade();
    EXPECT_TRUE(FRecorder.Outcome.Completed);
    EXPECT_EQ(db.IsqlScalar("SELECT VERSAO FROM VERSAO"), "0003");
    EXPECT_EQ(db.IsqlScalar("SELECT CAST(LIST(X) AS VARCHAR(50)) FROM T_2"), "31");
    EXPECT_EQ(FRecorder.Saved.first(), "/* ERRO: ");
    EXPECT_EQ(Rows(), "0001:BASE:0 0002:OK:1 0003:FALHOU:1");
    EXPECT_EQ(Column("MENSAGEM", "0003"), FRecorder.Message.left(1000).trimmed());
    EXPECT_TRUE(Column("MENSAGEM", "0003").contains("NADA")) << Column("MENSAGEM", "0003").toStdString();
    EXPECT_EQ(Column("ARQUIVO_ERRO", "0003"), "SCRIPT_ERRO_TESTE M-KELDARIN.TXT");
    EXPECT_EQ(Column("ARQUIVO_ERRO", "0002"), "<null>");

    ASSERT_EQ(BackupFiles().size(), 1);
    RestoreBackup(FDir.File("backup/" + BackupFiles().first()), db.ConnectionName(), db.ProgramParams());
    ExpectBeforeTheUpgrade(db.ConnectionName());
}

// A released script edited in the catalogue after it ran is listed; the
// same text with only its line endings changed is not; a version reached
// by hand past a script that never ran is a gap.
TEST_F(History, ValidationListsEditedScriptsAndGaps)
{
    FCatalog.AddScript("KELDARIN", "0003", "S", Script3);
    TFbTestDatabase& db = Database(fbEmbedded);
    ASSERT_TRUE(Upgrade().Completed);
    THistoryReport report = Run->History("KELDARIN");
    EXPECT_TRUE(report.HasHistory);
    EXPECT_EQ(report.RecordedVersion, "0003");
    ASSERT_EQ(report.Rows.size(), 3);
    EXPECT_EQ(report.Rows.first().Versao, "0003"); // newest first
    EXPECT_TRUE(report.Findings.Empty());

    FCatalog.Exec("UPDATE scripts SET texto='INSERT INTO DADOS VALUES (3);\\r\\nINSERT INTO T_2 VALUES (3);\\r\\n' "
                  "WHERE versao='0003'");
    EXPECT_TRUE(Run->History("KELDARIN").Findings.Empty());

    FCatalog.Exec("UPDATE scripts SET texto='INSERT INTO DADOS VALUES (4);' WHERE versao='0003'");
    FCatalog.AddScript("KELDARIN", "0004", "S", "CREATE TABLE T_4 (X INTEGER);");
    db.Exec({"UPDATE VERSAO SET VERSAO = '0004'"});
    db.Database().Close();
    report = Run->History("KELDARIN");
    ASSERT_EQ(report.Findings.Edited.size(), 1);
    EXPECT_EQ(report.Findings.Edited.first().Versao, "0003");
    EXPECT_EQ(report.Findings.Gaps, QStringList{"0004"});
}

// A backup that cannot be made (the backup folder is a file): no script
// runs, VERSAO and the database stay as they were, the run ends with the
// reason; the history is off: no table either way.
TEST_F(History, NoBackupNoScript)
{
    TFbTestDatabase& db = Database(fbEmbedded);
    WriteBytes(FDir.File("backup"), "não é uma pasta");
    const TUpgradeOutcome outcome = Upgrade();
    EXPECT_FALSE(outcome.Completed);
    EXPECT_TRUE(outcome.Error.startsWith("Não foi possível fazer a cópia de segurança")) << outcome.Error.toStdString();
    ExpectBeforeTheUpgrade(db.ConnectionName());
    EXPECT_FALSE(Customer.Connected());

    // The engine's own failure reaches the caller, and leaves no file.
    EXPECT_THROW(TIBService(FDir.File("nenhuma.fdb"), db.ProgramParams())
                     .Backup(FDir.File("nenhuma.fbk"), [] { return false; }, 60),
                 std::exception);
    EXPECT_FALSE(QFileInfo::exists(FDir.File("nenhuma.fbk")));

    // The history turned off: the scripts run, no table.
    DeleteFile(FDir.File("backup"));
    Run->SetHistory(false, {});
    ASSERT_TRUE(Upgrade().Completed);
    EXPECT_EQ(db.IsqlScalar("SELECT VERSAO FROM VERSAO"), "0002");
    EXPECT_EQ(db.IsqlScalar("SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'ZEMBO_HISTORICO'"), "0");
}

// The backups of an alias beyond the newest three go; the others' stay.
TEST(Backups, TheNewestThreePerAliasAreKept)
{
    TScratchDir dir;
    const QStringList names{"KELDARIN-0001-20260101-100000.fbk", "KELDARIN-0002-20260102-100000.fbk",
                            "KELDARIN-0009-20260103-100000.fbk", "KELDARIN-0003-20260104-100000.fbk",
                            "OUTRA-0001-20250101-100000.fbk", "KELDARIN-notas.txt"};
    for (const QString& name : names)
        WriteBytes(dir.File(name), "x");
    KeepNewestBackups(dir.Path(), "KELDARIN", 3);
    EXPECT_EQ(QDir(dir.Path()).entryList(QDir::Files),
              QStringList({"KELDARIN-0002-20260102-100000.fbk", "KELDARIN-0003-20260104-100000.fbk",
                           "KELDARIN-0009-20260103-100000.fbk", "KELDARIN-notas.txt",
                           "OUTRA-0001-20250101-100000.fbk"}));
    EXPECT_EQ(BackupName("KEL/../X", "0'1", QDateTime(QDate(2026, 12, 10), QTime(15, 4, 5))),
              "KEL_.._X-0_1-20261210-150405.fbk");
}
