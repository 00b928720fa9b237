// The connection and its transactions against the real Firebird, embedded
// and through the server.
#include "db/iberror.h"
#include "db/ibsql.h"
#include "tests/db/fbtest.h"

#include <QFile>
#include <gtest/gtest.h>

class IBDatabaseTest : public ::testing::TestWithParam<TFbAccess> {
protected:
    QString Name() const
    {
        return QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name())
            .section(u'/', 0, 0);
    }
};

TEST_P(IBDatabaseTest, CreatedDatabaseOpensWithTheProgramsParametersInDialectOne)
{
    TFbTestDatabase fb(Name(), GetParam());
    TIBDatabase& db = fb.Database();
    EXPECT_FALSE(db.Connected());
    EXPECT_EQ(db.DBSQLDialect(), 1);
    db.Open();
    EXPECT_TRUE(db.Connected());
    EXPECT_EQ(db.DBSQLDialect(), 1);
    EXPECT_EQ(db.SQLDialect(), 1);
    // 1, then 28 4 "ROOT", then 29 6 and the six digits: fifteen bytes.
    EXPECT_EQ(db.Dpb(), QByteArray("\x01\x1c\x04ROOT\x1d\x06", 9) + FbPassword().toLatin1());
    db.Open(); // no effect when connected
    EXPECT_EQ(fb.Scalar("SELECT RDB$CHARACTER_SET_NAME FROM RDB$DATABASE").trimmed(), "NONE");
    EXPECT_EQ(fb.Scalar("SELECT MON$SQL_DIALECT FROM MON$DATABASE"), "1");
    db.Close();
    EXPECT_FALSE(db.Connected());
    EXPECT_EQ(db.DBSQLDialect(), 1);
    EXPECT_EQ(fb.IsqlScalar("SELECT RDB$CHARACTER_SET_NAME, MON$SQL_DIALECT FROM RDB$DATABASE, MON$DATABASE")
                  .simplified(),
              "NONE 1");
}

TEST_P(IBDatabaseTest, CommitRollbackAndRetainingAreSeenInTheData)
{
    TFbTestDatabase fb(Name(), GetParam());
    fb.Exec({"CREATE TABLE T (A INTEGER)"});
    TIBTransaction& t = fb.Transaction();
    TIBSQL sql;
    sql.SetDatabase(&fb.Database());
    ASSERT_EQ(sql.Transaction(), &t);
    auto insert = [&](int v) {
        sql.SetSQL({QStringLiteral("INSERT INTO T VALUES (%1)").arg(v)});
        sql.ExecQuery();
    };
    t.StartTransaction();
    insert(1);
    t.Commit();
    EXPECT_FALSE(t.Active());
    t.StartTransaction();
    insert(2);
    t.Rollback();
    EXPECT_EQ(fb.Scalar("SELECT LIST(A) FROM T"), "1");

    t.StartTransaction();
    insert(3);
    t.CommitRetaining();
    EXPECT_TRUE(t.Active());
    insert(4);
    t.RollbackRetaining();
    EXPECT_TRUE(t.Active());
    EXPECT_EQ(fb.Scalar("SELECT LIST(A) FROM T"), "1,3");

    t.StartSavepoint("SP1");
    insert(5);
    t.RollbackSavepoint("SP1");
    insert(6);
    t.StartSavepoint("SP2");
    t.ReleaseSavepoint("SP2");
    t.RollbackSavepoint("NO_SUCH_SAVEPOINT"); // failure is not raised
    EXPECT_TRUE(t.Active());
    t.Commit();
    EXPECT_EQ(fb.Scalar("SELECT LIST(A) FROM T"), "1,3,6");

    EXPECT_THROW(t.StartSavepoint("SP3"), EIBClientError);
    fb.Database().Close();
    EXPECT_EQ(fb.IsqlScalar("SELECT CAST(LIST(A) AS VARCHAR(20)) FROM T"), "1,3,6");
}

TEST_P(IBDatabaseTest, CloseEndsActiveTransactionsByTheirDefaultAction)
{
    TFbTestDatabase fb(Name(), GetParam());
    fb.Exec({"CREATE TABLE T (A INTEGER)"});
    TIBDatabase& db = fb.Database();
    TIBTransaction rollbackOnClose;
    rollbackOnClose.SetDefaultDatabase(&db);
    rollbackOnClose.SetDefaultAction(taRollbackRetaining);
    TIBSQL a, b;
    a.SetDatabase(&db);
    b.SetTransaction(&rollbackOnClose);
    EXPECT_EQ(b.Database(), &db);
    fb.Transaction().StartTransaction();
    rollbackOnClose.StartTransaction();
    a.SetSQL({"INSERT INTO T VALUES (1)"});
    a.ExecQuery();
    b.SetSQL({"INSERT INTO T VALUES (2)"});
    b.ExecQuery();
    b.SetSQL({"SELECT A FROM T"});
    b.ExecQuery();
    EXPECT_TRUE(b.Open());
    db.Close();
    EXPECT_FALSE(fb.Transaction().Active());
    EXPECT_FALSE(rollbackOnClose.Active());
    EXPECT_FALSE(b.Open());
    EXPECT_FALSE(b.Prepared());
    EXPECT_EQ(fb.IsqlScalar("SELECT CAST(LIST(A) AS VARCHAR(20)) FROM T"), "1");
    EXPECT_EQ(fb.Scalar("SELECT LIST(A) FROM T"), "1");
}

TEST_P(IBDatabaseTest, ServerErrorMessageIsTheClientTextsWithoutTheFinalPeriod)
{
    TFbTestDatabase fb(Name(), GetParam());
    fb.Database().Open();
    fb.Transaction().StartTransaction();
    TIBSQL sql;
    sql.SetDatabase(&fb.Database());
    sql.SetSQL({"SELECT * FROM NO_SUCH_TABLE"});
    try {
        sql.ExecQuery();
        FAIL() << "no error";
    } catch (const EIBInterBaseError& e) {
        EXPECT_EQ(e.SQLCode(), -204);
        EXPECT_EQ(e.IBErrorCode(), 335544569);
        EXPECT_EQ(e.Message(), "Dynamic SQL Error\r\nSQL error code = -204\r\nTable unknown\r\nNO_SUCH_TABLE\r\n"
                               "At line 1, column 15");
    }
    EXPECT_FALSE(sql.Prepared());
    EXPECT_TRUE(fb.Transaction().Active());
    fb.Database().Close();

    TIBDatabase wrong;
    wrong.SetDatabaseName(fb.ConnectionName() + "-missing");
    wrong.SetParams(fb.ProgramParams());
    EXPECT_THROW(wrong.Open(), EIBInterBaseError);
    EXPECT_FALSE(wrong.Connected());
}

TEST_P(IBDatabaseTest, DropDatabaseRemovesTheFile)
{
    TFbTestDatabase fb(Name(), GetParam());
    TIBDatabase& db = fb.Database();
    EXPECT_THROW(db.DropDatabase(), EIBClientError);
    db.Open();
    fb.Transaction().StartTransaction();
    db.DropDatabase();
    EXPECT_FALSE(db.Connected());
    EXPECT_FALSE(fb.Transaction().Active());
    EXPECT_FALSE(QFile::exists(fb.Path()));
}

INSTANTIATE_TEST_SUITE_P(Firebird, IBDatabaseTest, ::testing::Values(fbEmbedded, fbServer),
                         [](const auto& info) { return info.param == fbServer ? "Server" : "Embedded"; });

// The block 3, 21 means no_savepoint to InterBase; Firebird has no such
// option and refuses the block at start, which leaves the transaction
// inactive with a clear error.
TEST(IBTransactionParams, NoSavepointIsRefusedByFirebird)
{
    TFbTestDatabase fb("NoSavepoint", fbEmbedded);
    fb.Database().Open();
    TIBTransaction& t = fb.Transaction();
    t.SetParams({"no_savepoint"});
    EXPECT_EQ(t.Tpb(), QByteArray()); // built at the next start
    try {
        t.StartTransaction();
        FAIL() << "started";
    } catch (const EIBInterBaseError& e) {
        EXPECT_TRUE(e.Message().startsWith("invalid parameter in transaction parameter block")) << e.what();
    }
    EXPECT_EQ(t.Tpb(), QByteArray("\x03\x15", 2));
    EXPECT_FALSE(t.Active());
    t.SetParams({});
    t.StartTransaction();
    EXPECT_TRUE(t.Active());
}
