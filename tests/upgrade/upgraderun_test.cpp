// The upgrade run without a window: the private MariaDB as the central
// catalogue, embedded Firebird files as the customer databases.
#include "db/catalog.h"
#include "db/ibdatabase.h"
#include "tests/db/catalogtest.h"
#include "tests/db/fbtest.h"
#include "tests/support/testenv.h"
#include "upgrade/upgraderun.h"

#include <QDir>
#include <gtest/gtest.h>
#include <map>

namespace {

QString TestName()
{
    return QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()).toLower();
}

// Everything the run reports, in order.
struct TRecorder : TUpgradeObserver {
    void Starting(const QString& entry, const QString& programa) override { Started << entry + " " + programa; }
    void Progress(int position) override { Positions << position; }
    void ScriptFailed(const QString& entry, const QString& message, const QStringList& saved) override
    {
        Failures << entry;
        Message = message;
        Saved = saved;
    }
    void Finished(const TUpgradeOutcome& outcome) override { Outcomes << outcome; }

    QStringList Started;
    QList<int> Positions;
    QStringList Failures;
    QString Message;
    QStringList Saved;
    QList<TUpgradeOutcome> Outcomes;
};

class UpgradeRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        FAliases = FCatalog.CheckAlias();
        WriteAliases();
        Catalog.SetAliasName("Check");
        Catalog.SetDatabaseName("Sistema_my");
        Catalog.SetLoginPrompt(false);
        Catalog.SetParams({"USER NAME=" + ServiceEnv("ZEMBO_MYSQL_USER"),
                           "PASSWORD=" + ServiceEnv("ZEMBO_MYSQL_PASSWORD")});
        Catalog.Open();
        Customer.SetServerType("IBServer");
        Customer.SetSQLDialect(1);
        Customer.SetLoginPrompt(false);
        Run = std::make_unique<TUpgradeRun>(Catalog, Customer);
    }

    void WriteAliases()
    {
        WriteBytes(FDir.File("aliases.ini"), FAliases);
        qputenv("ZEMBO_ALIASES", FDir.File("aliases.ini").toLocal8Bit());
    }
    TFbTestDatabase& Database(const QString& alias)
    {
        auto db = std::make_unique<TFbTestDatabase>(TestName().left(24) + "-" + alias.toLower(), fbEmbedded,
                                                    FDir.Path());
        Customer.SetParams(db->ProgramParams());
        FAliases += "[" + alias.toUtf8() + "]\nTYPE=INTRBASE\nSERVER NAME=" + db->Path().toUtf8() + "\n";
        WriteAliases();
        return *(FDatabases[alias] = std::move(db));
    }

    TScratchDir FDir;
    TCatalogTestDatabase FCatalog{"zembo_run_" + TestName().left(40)};
    QByteArray FAliases;
    std::map<QString, std::unique_ptr<TFbTestDatabase>> FDatabases;
    TDatabase Catalog;
    TIBDatabase Customer;
    std::unique_ptr<TUpgradeRun> Run;
};

const char* const HasVersao = "SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'VERSAO'";
const char* const CreatedTables = "SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME STARTING 'T_'";

QList<TScriptVersion> Keldarin(const QStringList& versions)
{
    QList<TScriptVersion> list;
    for (const QString& v : versions)
        list.append({"KELDARIN", v});
    return list;
}

} // namespace

// The operator's check: what VERSAO holds and which scripts would run, for a
// database without the table, with an empty one and with a version; the
// answer leaves every database as it was.
TEST_F(UpgradeRun, PlanAnswersWithoutChangingAnything)
{
    TFbTestDatabase& sem = Database("SEM");
    TFbTestDatabase& vazia = Database("VAZIA");
    TFbTestDatabase& gravada = Database("GRAVADA");
    vazia.Exec({"CREATE TABLE VERSAO (VERSAO VARCHAR(10))"});
    gravada.Exec({"CREATE TABLE VERSAO (VERSAO VARCHAR(10))", "INSERT INTO VERSAO VALUES ('0001')"});
    FCatalog.AddScript("KELDARIN", "0", "S", "CREATE TABLE T_0 (X INTEGER);");
    FCatalog.AddScript("KELDARIN", "0002", "S", "CREATE TABLE T_2 (X INTEGER);");
    FCatalog.AddScript("KELDARIN", "0001", "S", "CREATE TABLE T_1 (X INTEGER);");
    FCatalog.AddScript("KELDARIN", "0003", "N", "CREATE TABLE T_3 (X INTEGER);");
    FCatalog.AddScript("OUTRO", "0009", "S", "CREATE TABLE T_9 (X INTEGER);");

    const TUpgradePlan none = Run->Plan("SEM");
    EXPECT_FALSE(none.HasVersionTable);
    EXPECT_EQ(none.RecordedVersion, "");
    EXPECT_EQ(none.Scripts, Keldarin({"0001", "0002"})); // the run would start from "0"

    const TUpgradePlan empty = Run->Plan("VAZIA");
    EXPECT_TRUE(empty.HasVersionTable);
    EXPECT_EQ(empty.RecordedVersion, "");
    EXPECT_EQ(empty.Scripts, Keldarin({"0", "0001", "0002"}));

    const TUpgradePlan recorded = Run->Plan("GRAVADA");
    EXPECT_TRUE(recorded.HasVersionTable);
    EXPECT_EQ(recorded.RecordedVersion, "0001");
    EXPECT_EQ(recorded.Scripts, Keldarin({"0002"}));

    EXPECT_FALSE(Customer.Connected());
    EXPECT_TRUE(Run->Tipo().isEmpty());
    EXPECT_EQ(sem.Scalar(HasVersao), "0");
    EXPECT_EQ(vazia.Scalar("SELECT COUNT(*) FROM VERSAO"), "0");
    EXPECT_EQ(gravada.Scalar("SELECT CAST(LIST(VERSAO) AS VARCHAR(50)) FROM VERSAO"), "0001");
    for (TFbTestDatabase* db : {&sem, &vazia, &gravada})
        EXPECT_EQ(db->Scalar(CreatedTables), "0");

    // The run then does what the plan said.
    TRecorder recorder;
    Run->Run({"GRAVADA"}, recorder);
    EXPECT_EQ(gravada.Scalar(CreatedTables), "1");
    EXPECT_EQ(gravada.Scalar("SELECT VERSAO FROM VERSAO"), "0002");

    // An alias without a database file: raised, and left closed.
    EXPECT_NE(FailureOf([&] { Run->Plan("NENHUMA"); }), "<no failure>");
    EXPECT_FALSE(Customer.Connected());
}

// The second of three scripts fails: the observer sees the bar up to the
// failure and then at 100, the saved lines under their header, and a
// completed run; the failed version counts as reached.
TEST_F(UpgradeRun, ReportsProgressTheFailedScriptAndTheOutcome)
{
    TFbTestDatabase& db = Database("DADOS");
    db.Exec({"CREATE TABLE VERSAO (VERSAO VARCHAR(10))", "INSERT INTO VERSAO VALUES ('0000')",
             "CREATE TABLE T (X INTEGER)"});
    FCatalog.AddScript("KELDARIN", "0001", "S", "INSERT INTO T VALUES (1);");
    FCatalog.AddScript("KELDARIN", "0002", "S", "INSERT INTO T VALUES (2);\r\nINSERT INTO NAO_EXISTE VALUES (1);");
    FCatalog.AddScript("KELDARIN", "0003", "S", "INSERT INTO T VALUES (3);");

    TRecorder recorder;
    const TUpgradeOutcome outcome = Run->Run({"DADOS"}, recorder);
    EXPECT_EQ(recorder.Started, QStringList{"M-DADOS KELDARIN"});
    EXPECT_EQ(recorder.Positions, QList<int>({33, 67, 100}));
    EXPECT_EQ(recorder.Failures, QStringList{"M-DADOS"});
    EXPECT_TRUE(recorder.Message.startsWith("Dynamic SQL Error")) << recorder.Message.toStdString();
    const QStringList& saved = recorder.Saved;
    const qsizetype end = saved.indexOf(".....  */");
    ASSERT_GT(end, 3);
    EXPECT_EQ(saved.mid(0, 2), QStringList({"/* ERRO: ", " "}));
    EXPECT_EQ(saved.mid(2, end - 3), QStringList({"Dynamic SQL Error", "SQL error code = -204", "Table unknown",
                                                  "NAO_EXISTE", "At line 1, column 13"}));
    EXPECT_EQ(saved.mid(end - 1, 1) + saved.mid(end + 1),
              QStringList({" ", " ", "INSERT INTO T VALUES (2);", "INSERT INTO NAO_EXISTE VALUES (1);"}));
    ASSERT_EQ(recorder.Outcomes.size(), 1);
    EXPECT_TRUE(outcome.Completed && recorder.Outcomes[0].Completed);
    EXPECT_EQ(db.Scalar("SELECT CAST(LIST(X) AS VARCHAR(50)) FROM (SELECT X FROM T ORDER BY X)"), "1,2");
    EXPECT_EQ(db.Scalar("SELECT VERSAO FROM VERSAO"), "0002");
    EXPECT_FALSE(Customer.Connected());
}

// A parse error stops the script half-way: it fails like any failed script
// (saved, the run stops there), not quietly as if it had completed.
TEST_F(UpgradeRun, ScriptStoppedByAParseErrorFails)
{
    TFbTestDatabase& db = Database("DADOS");
    db.Exec({"CREATE TABLE VERSAO (VERSAO VARCHAR(10))", "INSERT INTO VERSAO VALUES ('0000')",
             "CREATE TABLE T (X INTEGER)"});
    const QByteArray loop = FDir.File("laco.sql").toUtf8();
    WriteBytes(FDir.File("laco.sql"), "INSERT INTO T VALUES (9);\nINPUT '" + loop + "';\n");
    FCatalog.AddScript("KELDARIN", "0001", "S", "INSERT INTO T VALUES (1);");
    FCatalog.AddScript("KELDARIN", "0002", "S", "INSERT INTO T VALUES (2);\r\nINPUT '" + loop +
                                                     "';\r\nINSERT INTO T VALUES (3);");
    FCatalog.AddScript("KELDARIN", "0003", "S", "INSERT INTO T VALUES (4);");

    TRecorder recorder;
    EXPECT_TRUE(Run->Run({"DADOS"}, recorder).Completed);
    EXPECT_EQ(recorder.Failures, QStringList{"M-DADOS"});
    EXPECT_FALSE(recorder.Message.isEmpty());
    EXPECT_TRUE(recorder.Saved.contains("INSERT INTO T VALUES (3);"));
    EXPECT_EQ(db.Scalar("SELECT VERSAO FROM VERSAO"), "0002");
    EXPECT_EQ(db.Scalar("SELECT COUNT(*) FROM T WHERE X IN (3, 4)"), "0");
}

// A database that does not open ends the run there, with its text, and
// leaves the connection closed; the later alias is not touched.
TEST_F(UpgradeRun, FailureOutsideTheScriptsEndsTheRun)
{
    TFbTestDatabase& loja = Database("LOJA");
    FAliases += "[PERDIDA]\nTYPE=INTRBASE\nSERVER NAME=" + FDir.File("perdida.fdb").toUtf8() + "\n";
    WriteAliases();
    FCatalog.AddScript("KELDARIN", "0001", "S", "CREATE TABLE T_1 (X INTEGER);");

    TRecorder recorder;
    const TUpgradeOutcome outcome = Run->Run({"PERDIDA", "LOJA"}, recorder);
    EXPECT_FALSE(outcome.Completed);
    EXPECT_TRUE(outcome.Error.contains("perdida.fdb")) << outcome.Error.toStdString();
    ASSERT_EQ(recorder.Outcomes.size(), 1);
    EXPECT_EQ(recorder.Outcomes[0].Error, outcome.Error);
    EXPECT_TRUE(recorder.Positions.isEmpty() && recorder.Failures.isEmpty());
    EXPECT_FALSE(Customer.Connected());
    EXPECT_TRUE(Run->Tipo().isEmpty());
    EXPECT_EQ(loja.Scalar(HasVersao), "0");
}
