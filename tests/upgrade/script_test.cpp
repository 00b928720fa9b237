#include "upgrade/ibscript.h"

#include "db/iberror.h"
#include "platform/errors.h"
#include "tests/db/fbtest.h"
#include "tests/support/testenv.h"

#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

// A runner set up as the upgrade window sets up its own: the connection's
// default transaction is the script transaction.
class TScriptTest : public ::testing::Test {
protected:
    explicit TScriptTest(TFbAccess access = fbEmbedded)
        : Db(QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()), access)
    {
        Db.Database().Open();
        Script.SetDatabase(&Db.Database());
        Script.SetTransaction(&Db.Transaction());
    }

    void Run(const QString& text)
    {
        Script.SetScript(ScriptLines(text));
        Script.ExecuteScript();
    }

    // The error message of a failing run.
    QString Failure(const QString& text)
    {
        return FailureOf([&] { Run(text); });
    }

    // What another transaction sees: committed work only.
    QString Committed(const QString& select) { return Db.Scalar(select); }

    void CommitScript()
    {
        if (Db.Transaction().Active())
            Db.Transaction().Commit();
    }

    TFbTestDatabase Db;
    TIBScript Script;
};

class TScriptServerTest : public TScriptTest {
protected:
    TScriptServerTest() : TScriptTest(fbServer) {}
};

} // namespace

TEST_F(TScriptTest, AutoDDLCommitsDefinitionsAndLeavesDataPending)
{
    Run("CREATE TABLE T (A INTEGER);\nINSERT INTO T VALUES (1);");
    EXPECT_EQ(Committed("select count(*) from rdb$relations where rdb$relation_name = 'T'"), "1");
    EXPECT_EQ(Committed("select count(*) from T"), "0");
    EXPECT_FALSE(Script.DDLTransaction().Active());
    EXPECT_TRUE(Db.Transaction().Active());
    CommitScript();
    EXPECT_EQ(Committed("select count(*) from T"), "1");
}

TEST_F(TScriptTest, AutoDDLOffRunsDefinitionsInTheScriptTransactionAndPersists)
{
    Run("SET AUTODDL OFF;\nCREATE TABLE U (A INTEGER);");
    EXPECT_FALSE(Script.AutoDDL());
    EXPECT_EQ(Committed("select count(*) from rdb$relations where rdb$relation_name = 'U'"), "0");
    CommitScript();
    EXPECT_EQ(Committed("select count(*) from rdb$relations where rdb$relation_name = 'U'"), "1");

    Run("CREATE TABLE V (A INTEGER);");
    EXPECT_EQ(Committed("select count(*) from rdb$relations where rdb$relation_name = 'V'"), "0");
    EXPECT_FALSE(Script.DDLTransaction().Active());
    CommitScript();
    Run("set autoddl on;\nCREATE TABLE W (A INTEGER);");
    EXPECT_TRUE(Script.AutoDDL());
    EXPECT_EQ(Committed("select count(*) from rdb$relations where rdb$relation_name = 'W'"), "1");
}

TEST_F(TScriptTest, TransactionControlInMidScript)
{
    Db.Exec({"CREATE TABLE T (A INTEGER)"});
    Run("INSERT INTO T VALUES (1);\nCOMMIT;\nINSERT INTO T VALUES (2);");
    EXPECT_EQ(Committed("select list(A) from T"), "1");
    EXPECT_TRUE(Db.Transaction().Active()); // started again by the INSERT

    Run("ROLLBACK;\nINSERT INTO T VALUES (3);\nCOMMIT RETAINING;");
    EXPECT_EQ(Committed("select list(A) from T"), "1,3");
    EXPECT_TRUE(Db.Transaction().Active());

    Run("INSERT INTO T VALUES (4);\nROLLBACK RETAINING;\nINSERT INTO T VALUES (5);\ncommit work;");
    EXPECT_EQ(Committed("select list(A) from T"), "1,3,5");
    EXPECT_FALSE(Db.Transaction().Active());
}

TEST_F(TScriptTest, SqlDialectReconnectsAndPersists)
{
    Db.Exec({"CREATE TABLE T (A INTEGER)"});
    ASSERT_EQ(Db.Database().SQLDialect(), 1);
    // Closing the connection commits the pending INSERT (default action).
    Run("INSERT INTO T VALUES (1);\nSET SQL DIALECT 3;\nINSERT INTO T VALUES (2);");
    EXPECT_EQ(Script.SQLDialect(), 3);
    EXPECT_TRUE(Db.Database().Connected());
    EXPECT_EQ(Db.Database().SQLDialect(), 1); // the database itself has dialect 1
    EXPECT_EQ(Committed("select list(A) from T"), "1");

    EXPECT_EQ(Failure("SET SQL DIALECT X;"), "'X' is not a valid integer value");
    EXPECT_EQ(Script.SQLDialect(), 3);
}

TEST_F(TScriptTest, SavepointsUndoAnInsert)
{
    Db.Exec({"CREATE TABLE T (A INTEGER)"});
    Run("INSERT INTO T VALUES (1);\nSAVEPOINT SP1;\nINSERT INTO T VALUES (2);\nROLLBACK TO SAVEPOINT SP1;\n"
        "RELEASE SAVEPOINT SP1;\nINSERT INTO T VALUES (3);\nCOMMIT;");
    EXPECT_EQ(Committed("select list(A) from T"), "1,3");
    // A savepoint needs an active transaction.
    EXPECT_EQ(Failure("SAVEPOINT SP2;"), "Transaction is not active");
}

TEST_F(TScriptTest, SavepointsSettingChangesTheTransactionParameters)
{
    Run("SET SAVEPOINTS OFF;\nSET SAVEPOINTS OFF;");
    EXPECT_EQ(Db.Transaction().Params(), QStringList {"no_savepoint"});
    Run("SET SAVEPOINTS ON;");
    EXPECT_TRUE(Db.Transaction().Params().isEmpty());
}

TEST_F(TScriptTest, BatchRunsAtBatchExecuteAndKeepsItsRules)
{
    Db.Exec({"CREATE TABLE T (A INTEGER)"});
    QStringList seen;
    Script.SetOnParse([&](TIBParseKind kind, const QString&) { seen << ParseKindName(kind); });
    Run("BATCH START;\nINSERT INTO T VALUES (1);\nINSERT INTO T VALUES (2);\nBATCH EXECUTE;");
    EXPECT_EQ(seen, (QStringList {"stmtBatchStart", "stmtDML", "stmtDML", "stmtBatchExecute"}));
    CommitScript();
    EXPECT_EQ(Committed("select list(A) from T"), "1,2");

    // Anything else inside a batch fails, and the batch is dropped.
    EXPECT_EQ(Failure("BATCH START;\nINSERT INTO T VALUES (3);\nCOMMIT;\nINSERT INTO T VALUES (4);"),
              "Only DDL and DML (excluding Select statements) allowed within a Batch block");
    Run("INSERT INTO T VALUES (5);\nBATCH EXECUTE;");
    CommitScript();
    EXPECT_EQ(Committed("select list(A) from T"), "1,2,5");

    // The first failing statement stops the batch with its database error.
    const QString error = Failure("BATCH START;\nINSERT INTO T VALUES (6);\nINSERT INTO NOPE VALUES (7);\n"
                                  "INSERT INTO T VALUES (8);\nBATCH EXECUTE;");
    EXPECT_TRUE(error.contains("NOPE")) << error.toStdString();
    CommitScript();
    EXPECT_EQ(Committed("select list(A) from T"), "1,2,5,6");
}

TEST_F(TScriptTest, ConnectWithQuotedUserPasswordAndRole)
{
    Db.Exec({"CREATE TABLE LOG (U VARCHAR(31), R VARCHAR(31))", "CREATE ROLE R1", "GRANT R1 TO " + FbUser(),
             "GRANT ALL ON LOG TO R1"});
    TIBDatabase* callers = Script.Database();
    Run("CONNECT '" + Db.Path() + "' USER '" + FbUser() + "' PASSWORD '" + FbPassword() + "' ROLE 'r1';\n"
        "INSERT INTO LOG SELECT CURRENT_USER, CURRENT_ROLE FROM RDB$DATABASE;\nCOMMIT;");
    ASSERT_NE(Script.Database(), callers);
    EXPECT_TRUE(callers->Connected()); // left alone
    EXPECT_EQ(Script.Database()->DatabaseName(), Db.Path());
    // A quoted value is a word of its own, so it keeps its letter case.
    EXPECT_EQ(Script.Database()->Params(), (QStringList {"user_name=" + FbUser(), "password=" + FbPassword(),
                                                         "sql_role_name=r1"}));
    EXPECT_EQ(Committed("select U || '/' || R from LOG"), FbUser() + "/R1");

    // An option the dialect does not know is an error, not a wrong parameter.
    EXPECT_EQ(Failure("CONNECT '" + Db.Path() + "' USER 'X' CACHE 100;"), "DPB Constant (CACHE) is unknown");
}

TEST_F(TScriptTest, SetNamesSendsTextInTheCharacterSetsCodePage)
{
    Db.Exec({"CREATE TABLE N (K VARCHAR(10), S VARCHAR(10) CHARACTER SET UTF8)"});
    const QString connect = "CONNECT '" + Db.Path() + "' USER '" + FbUser() + "' PASSWORD '" + FbPassword() + "';\n";
    for (const char* names : {"UTF8", "WIN1252", "ISO8859_1"})
        Run(QString("SET NAMES %1;\n").arg(names) + connect
            + QString("INSERT INTO N VALUES ('%1', 'a\u00e7\u00e3o');\nCOMMIT;").arg(names));
    // Four characters each, whatever the connection's character set was.
    EXPECT_EQ(Committed("select list(K || ':' || char_length(S) || '/' || octet_length(S), ' ') "
                        "from (select K, S from N order by K)"),
              "ISO8859_1:4/6 UTF8:4/6 WIN1252:4/6");
}

TEST_F(TScriptTest, CreateAndDropDatabase)
{
    const QString path = Db.Path() + ".new.fdb";
    QFile::remove(path);
    Run("SET SQL DIALECT 1;\n"
        "CREATE DATABASE '" + path + "' USER '" + FbUser() + "' PASSWORD '" + FbPassword() + "' PAGE_SIZE = 8192;\n"
        "CREATE TABLE X (A INTEGER);\nINSERT INTO X VALUES (5);\nCOMMIT;");
    ASSERT_TRUE(QFile::exists(path));
    EXPECT_EQ(Script.Database()->DatabaseName(), path);
    Script.Database()->Close();
    // The odd last word (8192) was passed on, not dropped.
    const QString out = IsqlFb(path, "select mon$page_size, mon$sql_dialect from mon$database;\nselect a from x;\n");
    EXPECT_TRUE(out.contains("8192")) << out.toStdString();
    EXPECT_TRUE(QRegularExpression("\\b5\\s*$").match(out).hasMatch()) << out.toStdString();

    Run("CONNECT '" + path + "' USER '" + FbUser() + "' PASSWORD '" + FbPassword() + "';\nDROP DATABASE;");
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(Failure("DROP DATABASE;"), "Cannot perform operation -- DB is not open");
}

TEST_F(TScriptTest, ParameterMarkers)
{
    Db.Exec({"CREATE TABLE P (A INTEGER, B VARCHAR(10))"});
    // No OnParamCheck: executed at once, the marker as null.
    Run("INSERT INTO P VALUES (1, :B);");
    CommitScript();
    EXPECT_EQ(Committed("select coalesce(B, 'null') from P where A = 1"), "null");

    // OnParamCheck pausing holds the statement back until the run resumes.
    Script.SetOnParamCheck([](bool& pause) { pause = true; });
    Run("INSERT INTO P VALUES (2, 'x');\nINSERT INTO P VALUES (3, :B);\nINSERT INTO P VALUES (4, 'y');");
    EXPECT_TRUE(Script.Paused());
    CommitScript();
    EXPECT_EQ(Committed("select list(A) from P"), "1,2");
    Script.SetPaused(false);
    CommitScript();
    EXPECT_EQ(Committed("select list(A) from P"), "1,2,3,4");
}

TEST_F(TScriptTest, FailingStatementKeepsEarlierDefinitionsAndPendingData)
{
    const QString error = Failure("CREATE TABLE F (A INTEGER);\nINSERT INTO F VALUES (1);\n"
                                  "INSERT INTO NOPE VALUES (1);\nINSERT INTO F VALUES (2);");
    EXPECT_TRUE(error.contains("NOPE")) << error.toStdString();
    EXPECT_EQ(Committed("select count(*) from rdb$relations where rdb$relation_name = 'F'"), "1");
    EXPECT_EQ(Committed("select count(*) from F"), "0");
    CommitScript(); // as the upgrade driver does after a failed script
    EXPECT_EQ(Committed("select list(A) from F"), "1");

    // A failing definition rolls the definition transaction back.
    EXPECT_FALSE(Failure("CREATE TABLE F (A INTEGER);").isEmpty());
    EXPECT_FALSE(Script.DDLTransaction().Active());
}

TEST_F(TScriptTest, ExecuteErrorCallbackMayIgnore)
{
    Db.Exec({"CREATE TABLE T (A INTEGER)"});
    QStringList errors;
    Script.SetOnExecuteError([&](const QString& error, const QString& text, int line, bool& ignore) {
        errors << QString::number(line) + u'|' + text + u'|' + error.section("\r\n", 0, 0);
        ignore = text.contains("NOPE1");
    });
    Run("INSERT INTO NOPE1 VALUES (1);\nINSERT INTO T VALUES (1);\nINSERT INTO NOPE2 VALUES (1);\n"
        "INSERT INTO T VALUES (2);");
    ASSERT_EQ(errors.size(), 2);
    EXPECT_TRUE(errors[0].startsWith("1|INSERT INTO NOPE1 VALUES (1)|")) << errors[0].toStdString();
    EXPECT_TRUE(errors[1].startsWith("3|INSERT INTO NOPE2 VALUES (1)|")) << errors[1].toStdString();
    CommitScript();
    EXPECT_EQ(Committed("select list(A) from T"), "1");
}

TEST_F(TScriptTest, ParseErrorEndsTheRunQuietly)
{
    Db.Exec({"CREATE TABLE T (A INTEGER)"});
    QString reported;
    Script.SetOnParseError([&](const QString& error, const QString& text, int line) {
        reported = QString::number(line) + u'|' + error + u'|' + text;
    });
    Run("INSERT INTO T VALUES (1);\nNOT A STATEMENT;\nINSERT INTO T VALUES (2);");
    EXPECT_EQ(reported, "2|Invalid statement|NOT A STATEMENT");
    CommitScript();
    EXPECT_EQ(Committed("select list(A) from T"), "1");
}

TEST_F(TScriptTest, TerminatorAndBodiesCarryIntoTheNextScript)
{
    Run("SET TERM ^ ;");
    EXPECT_EQ(Script.Terminator(), "^");
    Run("CREATE PROCEDURE P (A INTEGER) RETURNS (B INTEGER) AS\nBEGIN\n  B = :A * 2;\n  SUSPEND;\nEND^\n"
        "SET TERM ; ^");
    EXPECT_EQ(Script.Terminator(), ";");
    EXPECT_EQ(Committed("select B from P(21)"), "42");
    // The same body with the default terminator, parameter markers untouched.
    Run("CREATE PROCEDURE Q (A INTEGER) RETURNS (B INTEGER) AS\nBEGIN\n  B = :A + 1;\n  SUSPEND;\nEND;\n"
        "CREATE TABLE AFTER_Q (A INTEGER);");
    EXPECT_EQ(Committed("select count(*) from rdb$relations where rdb$relation_name = 'AFTER_Q'"), "1");
    EXPECT_EQ(Committed("select B from Q(41)"), "42");
}

// The same groups through the server.
TEST_F(TScriptServerTest, DefinitionsDataAndFailureThroughTheServer)
{
    ASSERT_TRUE(Db.ConnectionName().startsWith("127.0.0.1:"));
    const QString error = Failure("CREATE TABLE T (A INTEGER);\nINSERT INTO T VALUES (1);\nSAVEPOINT S;\n"
                                  "INSERT INTO T VALUES (2);\nROLLBACK TO SAVEPOINT S;\nCOMMIT RETAINING;\n"
                                  "INSERT INTO T VALUES (3);\nINSERT INTO T VALUES ('x');");
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(Committed("select list(A) from T"), "1");
    CommitScript();
    EXPECT_EQ(Committed("select list(A) from T"), "1,3");
}
