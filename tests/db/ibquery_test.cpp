// Statements, queries and fields against the real Firebird.
#include "db/dberror.h"
#include "db/iberror.h"
#include "db/ibquery.h"
#include "tests/db/fbtest.h"

#include <gtest/gtest.h>

namespace {

QString TestName()
{
    return QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()).section(u'/', 0, 0);
}

} // namespace

class IBQueryTest : public ::testing::TestWithParam<TFbAccess> {
protected:
    void SetUp() override
    {
        FFb = std::make_unique<TFbTestDatabase>(TestName(), GetParam());
        FVersion.SetDefaultDatabase(&FFb->Database());
        FQuery.setObjectName("IBQuery1");
        FQuery.SetDatabase(&FFb->Database());
        FQuery.SetTransaction(&FVersion);
    }
    void Select(const QString& sql)
    {
        FQuery.SQLClear();
        FQuery.SQLAdd(sql);
        FQuery.Open();
    }
    std::unique_ptr<TFbTestDatabase> FFb;
    TIBTransaction FVersion;
    TIBQuery FQuery;
};

TEST_P(IBQueryTest, UpgradeDriverSequenceOnTheVersionTable)
{
    const QString countSql = "SELECT COUNT(*) CT FROM RDB$RELATION_FIELDS where RDB$FIELD_NAME='VERSAO' AND "
                             "RDB$RELATION_NAME='VERSAO'";
    Select(countSql);
    EXPECT_TRUE(FVersion.Active());
    EXPECT_EQ(FQuery.FieldByName("ct").AsInteger(), 0);
    FVersion.Rollback();
    EXPECT_FALSE(FQuery.Active());
    FQuery.SQLClear();
    FQuery.SQLAdd("CREATE TABLE VERSAO (VERSAO VARCHAR(10));");
    FQuery.ExecSQL();
    FVersion.Commit();
    FQuery.SQLClear();
    FQuery.SQLAdd("insert into versao (versao) values ('0');");
    FQuery.ExecSQL();
    FVersion.Commit();

    Select(countSql);
    EXPECT_EQ(FQuery.FieldByName("CT").AsInteger(), 1);
    FVersion.Rollback();
    Select("select versao from versao");
    EXPECT_EQ(FQuery.FieldByName("versao").AsString(), "0");
    FQuery.Close();
    EXPECT_TRUE(FVersion.Active()); // the transaction outlives the cursor
    FVersion.Rollback();
    FQuery.SQLClear();
    FQuery.SQLAdd("update versao set versao='0002';");
    FQuery.ExecSQL();
    FVersion.Commit();
    EXPECT_EQ(FFb->Scalar("SELECT VERSAO FROM VERSAO"), "0002");
    FFb->Database().Close();
    EXPECT_EQ(FFb->IsqlScalar("SELECT VERSAO FROM VERSAO"), "0002");
}

TEST_P(IBQueryTest, FieldsReadBackByColumnType)
{
    FFb->Exec({"CREATE TABLE T (V VARCHAR(10), C CHAR(10), I INTEGER NOT NULL, S SMALLINT, N NUMERIC(9,2), "
               "D DOUBLE PRECISION, TS TIMESTAMP, M BLOB SUB_TYPE 1)",
               "INSERT INTO T VALUES ('abc', 'abc', 7, NULL, 12.34, 0.5, '1899-12-31 12:00:00', 'memo '||ASCII_CHAR(233))"});
    Select("SELECT V, C, I, S, N, D, TS, M, 'x' || V FROM T");
    EXPECT_EQ(FQuery.FieldByName("V").AsString(), "abc");
    EXPECT_EQ(FQuery.FieldByName("V").DataType(), ftString);
    EXPECT_EQ(FQuery.FieldByName("V").Size(), 10);
    EXPECT_EQ(FQuery.FieldByName("C").AsString(), "abc       ");
    EXPECT_EQ(FQuery.FieldByName("C").DataType(), ftFixedChar);
    EXPECT_EQ(FQuery.FieldByName("I").AsInteger(), 7);
    EXPECT_TRUE(FQuery.FieldByName("I").Required());
    EXPECT_FALSE(FQuery.FieldByName("V").Required());
    EXPECT_EQ(FQuery.FieldByName("I").AsString(), "7");
    EXPECT_TRUE(FQuery.FieldByName("S").IsNull());
    EXPECT_EQ(FQuery.FieldByName("S").AsInteger(), 0);
    EXPECT_EQ(FQuery.FieldByName("N").DataType(), ftBCD);
    EXPECT_DOUBLE_EQ(FQuery.FieldByName("N").Value().toDouble(), 12.34);
    EXPECT_DOUBLE_EQ(FQuery.FieldByName("D").Value().toDouble(), 0.5);
    EXPECT_DOUBLE_EQ(FQuery.FieldByName("TS").Value().toDouble(), 1.5);
    EXPECT_EQ(FQuery.FieldByName("M").DataType(), ftMemo);
    EXPECT_EQ(FQuery.FieldByName("M").AsString(), QString::fromUtf8("memo é"));
    EXPECT_EQ(FQuery.FieldByName("CONCATENATION").AsString(), "xabc"); // Firebird names expressions
    EXPECT_THROW(FQuery.FieldByName("V").AsInteger(), EConvertError);
    try {
        FQuery.FieldByName("NOPE");
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "IBQuery1: Field 'NOPE' not found");
    }
}

TEST_P(IBQueryTest, RowsEmptySelectAndUniqueNames)
{
    FFb->Exec({"CREATE TABLE T (A INTEGER)", "INSERT INTO T VALUES (1)", "INSERT INTO T VALUES (2)"});
    Select("SELECT A FROM T WHERE A > 5");
    EXPECT_TRUE(FQuery.Eof());
    EXPECT_EQ(FQuery.FieldByName("A").AsInteger(), 0);
    EXPECT_EQ(FQuery.FieldByName("A").AsString(), "");

    Select("SELECT A CT, A CT, A + 1, A + 2 FROM T ORDER BY A");
    ASSERT_EQ(FQuery.Fields().Count(), 4);
    EXPECT_EQ(FQuery.Fields()[0].FieldName(), "CT");
    EXPECT_EQ(FQuery.Fields()[1].FieldName(), "CT1");
    // Firebird names an expression after its operator; the F_ names for
    // an empty alias are covered with the fake client.
    EXPECT_EQ(FQuery.Fields()[2].FieldName(), "ADD");
    EXPECT_EQ(FQuery.Fields()[3].FieldName(), "ADD1");
    EXPECT_EQ(FQuery.FieldByName("CT1").AsInteger(), 1);
    FQuery.Next();
    EXPECT_FALSE(FQuery.Eof());
    EXPECT_EQ(FQuery.FieldByName("ADD").AsInteger(), 3);
    FQuery.Next();
    EXPECT_TRUE(FQuery.Eof());
}

TEST_P(IBQueryTest, ChangingSqlClosesAndTheNextOpenPreparesTheNewText)
{
    FFb->Exec({"CREATE TABLE T (A INTEGER, B VARCHAR(5))", "INSERT INTO T VALUES (1, 'b')"});
    Select("SELECT A FROM T");
    EXPECT_TRUE(FQuery.Active());
    FQuery.SQLClear();
    EXPECT_FALSE(FQuery.Active());
    EXPECT_FALSE(FQuery.Prepared());
    FQuery.SQLAdd("SELECT B FROM T");
    FQuery.Open();
    EXPECT_EQ(FQuery.FieldByName("B").AsString(), "b");
    EXPECT_EQ(FQuery.Fields().FindField("A"), nullptr);

    FVersion.Commit(); // closes the query and drops its statement
    EXPECT_FALSE(FQuery.Active());
    EXPECT_FALSE(FQuery.Prepared());
    FQuery.Open();
    EXPECT_EQ(FQuery.FieldByName("B").AsString(), "b");
}

TEST_P(IBQueryTest, ExecSqlRefusals)
{
    Select("SELECT 1 FROM RDB$DATABASE");
    try {
        FQuery.ExecSQL();
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "IBQuery1: Cannot perform this operation on an open dataset");
    }
    FQuery.SetSQL({"SELECT 1 FROM RDB$DATABASE"});
    try {
        FQuery.ExecSQL();
        FAIL();
    } catch (const EIBClientError& e) {
        EXPECT_EQ(e.SQLCode(), 66);
        EXPECT_EQ(e.Message(), "use Open for a Select Statement");
    }
    FQuery.SetSQL({"X"});
    try {
        FQuery.ExecSQL();
        FAIL();
    } catch (const EIBClientError& e) {
        EXPECT_EQ(e.Message(), "Empty SQL Statement");
    }
    FQuery.SetSQL({"SET TRANSACTION"});
    try {
        FQuery.ExecSQL();
        FAIL();
    } catch (const EIBClientError& e) {
        EXPECT_EQ(e.Message(), "Not permitted");
    }
    EXPECT_FALSE(FQuery.QSelect().Prepared());
}

TEST_P(IBQueryTest, BareStatementNeedsAnActiveTransactionAndKeepsTriggerVariables)
{
    TIBSQL sql;
    sql.SetDatabase(&FFb->Database());
    sql.SetTransaction(&FVersion);
    FFb->Database().Open();
    sql.SetSQL({"SELECT 1 FROM RDB$DATABASE"});
    try {
        sql.ExecQuery();
        FAIL();
    } catch (const EIBClientError& e) {
        EXPECT_EQ(e.SQLCode(), 18);
        EXPECT_EQ(e.Message(), "Transaction is not active");
    }
    FFb->Exec({"CREATE TABLE T (A INTEGER, B INTEGER)"});
    FVersion.StartTransaction();
    sql.SetParamCheck(false);
    sql.SetSQL({"CREATE TRIGGER T_BI FOR T BEFORE INSERT AS", "BEGIN", "  NEW.B = NEW.A * 2; /* :x */", "END"});
    sql.ExecQuery();
    FVersion.Commit();
    FFb->Exec({"INSERT INTO T (A) VALUES (21)"});
    EXPECT_EQ(FFb->Scalar("SELECT B FROM T"), "42");

    FVersion.StartTransaction();
    sql.SetParamCheck(true);
    sql.SetSQL({"INSERT INTO T (A) VALUES (:A)"});
    sql.Prepare();
    ASSERT_EQ(sql.Params().Count(), 1);
    EXPECT_EQ(sql.SQLType(), SQLInsert);
    sql.ExecQuery(); // no value bound: the parameter goes as null
    FVersion.Commit();
    EXPECT_EQ(FFb->Scalar("SELECT COUNT(*) FROM T WHERE A IS NULL"), "1");
    FFb->Database().Close();
    EXPECT_EQ(FFb->IsqlScalar("SELECT B, COUNT(*) FROM T GROUP BY B ORDER BY B NULLS LAST").simplified(),
              "42 1 <null> 1");
}

INSTANTIATE_TEST_SUITE_P(Firebird, IBQueryTest, ::testing::Values(fbEmbedded, fbServer),
                         [](const auto& info) { return info.param == fbServer ? "Server" : "Embedded"; });

TEST(ParameterMarkerScan, MarkersNamesStringsAndComments)
{
    QStringList names;
    EXPECT_EQ(PreprocessSQL("select :a, :\"Quoted Name\"x from t where c = ':no' /* :no */ and d = ?\r\n", true,
                            names),
              "select ?, ?x from t where c = ':no' /* :no */ and d = ?\r\n");
    EXPECT_EQ(names, QStringList({"a", "Quoted Name", "IBParam0"}));

    auto parseError = [](const QString& text) {
        QStringList n;
        try {
            PreprocessSQL(text, false, n);
        } catch (const EIBClientError& e) {
            EXPECT_EQ(e.SQLCode(), 55);
            return e.Message();
        }
        return QString("no error");
    };
    EXPECT_EQ(parseError("select : a\r\n"), "SQL Parse Error:\r\n\r\nParameter name expected");
    EXPECT_EQ(parseError("select 1 /* open\r\n"), "SQL Parse Error:\r\n\r\nEOF in comment detected");
    EXPECT_EQ(parseError("select 'open\r\n"), "SQL Parse Error:\r\n\r\nEOF in string detected");
    EXPECT_EQ(parseError("select 'it''s', \"a\"\"b\"\r\n"), "no error");
}
