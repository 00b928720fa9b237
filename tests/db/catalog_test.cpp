// The central catalogue on the private MariaDB and on a SQLite file.
#include "db/catalog.h"
#include "db/dberror.h"
#include "platform/codepage.h"
#include "platform/text.h"
#include "tests/db/catalogtest.h"
#include "tests/support/testenv.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <gtest/gtest.h>

namespace {

// One database per test case: the cases may run side by side.
QString TestDatabase()
{
    return "zembo_dbtest_" + QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()).toLower();
}

class CatalogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteAliases(ServiceEnv("ZEMBO_MYSQL_PORT"), TestDatabase());
        FCatalog.Exec("INSERT INTO principal VALUES ('5Fyzfqnefn7571')");
        FCatalog.AddScript("KELDARIN", "0001", "S", "CREATE TABLE A (X INTEGER);\r\n");
        FCatalog.AddScript("KELDARIN", "0002", "S",
                           QByteArray("linha 1\r\nlinha 2\nINSERT INTO A VALUES ('a\xe7\xe3o \x80');\r\n\r\nfim"));
        FCatalog.AddScript("KELDARIN", "0003", "N", "retido");
        FCatalog.AddScript("OUTRO", "0009", "S", "outro");
        Database1.setObjectName("Database1");
        Database1.SetAliasName("Check");
        Database1.SetDatabaseName("Sistema_my");
        Database1.SetLoginPrompt(false);
        Database1.SetParams({"USER NAME=" + ServiceEnv("ZEMBO_MYSQL_USER"),
                             "PASSWORD=" + ServiceEnv("ZEMBO_MYSQL_PASSWORD")});
    }
    void TearDown() override { Database1.Close(); }
    void WriteAliases(const QString& port, const QString& database)
    {
        WriteBytes(FDir.File("aliases.ini"),
                   ("[Check]\nTYPE=MYSQL\nHOST=127.0.0.1\nPORT=" + port + "\nDATABASE NAME=" + database +
                    "\nUSER NAME=nobody\nPASSWORD=wrong\n[Local]\nTYPE=SQLITE\nDATABASE NAME=" +
                    FDir.File("catalog.db") + "\n")
                       .toUtf8());
        qputenv("ZEMBO_ALIASES", FDir.File("aliases.ini").toLocal8Bit());
    }
    TCatalogTestDatabase FCatalog{TestDatabase()};
    TScratchDir FDir;
    TDatabase Database1;
};

} // namespace

TEST_F(CatalogTest, CountListingAndScriptText)
{
    Database1.Open();
    EXPECT_TRUE(Database1.Connected());
    TQuery Query3, Query2;
    Query3.setObjectName("Query3");
    Query3.SetDatabaseName("Sistema_my");
    Query2.SetDatabaseName("Sistema_my");
    Query3.SQLClear();
    Query3.SQLAdd("select count(*) ct from scripts where programa='KELDARIN' and versao>'0000' and liberado='S' "
                  "order by versao");
    Query3.Open();
    EXPECT_EQ(Query3.FieldByName("ct").AsInteger(), 2);
    Query3.Close();

    Query2.SQLAdd("select programa,versao from scripts where programa='KELDARIN' and versao>'0000' and "
                  "liberado='S' order by versao");
    Query2.Open();
    // The text of the listing's current row, as the upgrade reads it.
    TQuery Text;
    Text.SetDatabaseName("Sistema_my");
    auto textOfRow = [&] {
        Text.SetSQL({"SELECT * FROM scripts WHERE programa = ? AND versao = ? ORDER BY programa, versao"});
        Text.SetBindValues({Query2.FieldByName("programa").Value(), Query2.FieldByName("versao").Value()});
        Text.Open();
        const QStringList lines = SplitLines(FromAnsi(FieldBytes(Text.FieldByName("texto"))));
        Text.Close();
        return lines;
    };
    EXPECT_EQ(textOfRow(), QStringList({"CREATE TABLE A (X INTEGER);"}));
    Query2.Next();
    EXPECT_FALSE(Query2.Eof());
    EXPECT_EQ(Query2.FieldByName("VERSAO").AsString(), "0002");
    EXPECT_EQ(textOfRow(), QStringList({"linha 1", "linha 2", QString::fromUtf8("INSERT INTO A VALUES ('ação €');"),
                                        "", "fim"}));
    Query2.Next();
    EXPECT_TRUE(Query2.Eof());
    EXPECT_EQ(Query2.FieldByName("versao").AsString(), "0002"); // past the end: still the last row

    // A bound value is a value, whatever it holds.
    Query3.SetSQL({"select count(*) ct from scripts where programa=? and versao>? and liberado='S'"});
    Query3.SetBindValues({"KELDARIN", "0001' or 'x'='x"});
    Query3.Open();
    EXPECT_EQ(Query3.FieldByName("ct").AsInteger(), 1);

    Query3.SQLClear();
    Query3.SQLAdd("select senha_ftp from principal");
    Query3.Open();
    EXPECT_EQ(Query3.FieldByName("senha_ftp").AsString(), "5Fyzfqnefn7571");
    try {
        Query3.FieldByName("senha");
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Query3: Field 'senha' not found");
    }
    // A null reads as 0 or an empty text.
    Query3.SQLClear();
    Query3.SQLAdd("select null n");
    Query3.Open();
    EXPECT_EQ(Query3.FieldByName("n").AsInteger(), 0);
    EXPECT_EQ(Query3.FieldByName("n").AsString(), "");
}

TEST_F(CatalogTest, EngineErrors)
{
    Database1.SetParams({"USER NAME=" + ServiceEnv("ZEMBO_MYSQL_USER"), "PASSWORD=wrong"});
    try {
        Database1.Open();
        FAIL();
    } catch (const EDBEngineError& e) {
        EXPECT_TRUE(e.Message().contains("Access denied")) << e.what();
        QStringList errors = e.Errors();
        EXPECT_EQ(errors.removeDuplicates(), 0);
    }
    EXPECT_FALSE(Database1.Connected());

    WriteAliases("1", TestDatabase()); // nothing listens on port 1
    Database1.SetParams({"USER NAME=" + ServiceEnv("ZEMBO_MYSQL_USER"), "PASSWORD=" + ServiceEnv("ZEMBO_MYSQL_PASSWORD")});
    EXPECT_THROW(Database1.Open(), EDBEngineError);
    EXPECT_FALSE(Database1.Connected());

    WriteAliases(ServiceEnv("ZEMBO_MYSQL_PORT"), TestDatabase());
    Database1.Open();
    TQuery q;
    q.SetDatabaseName("Sistema_my");
    q.SQLAdd("select * from no_such_table");
    try {
        q.Open();
        FAIL();
    } catch (const EDBEngineError& e) {
        EXPECT_TRUE(e.Message().contains("no_such_table")) << e.what();
    }
    Database1.SetAliasName("Check");
    TDatabase missing;
    missing.SetAliasName("NoSuchAlias");
    EXPECT_THROW(missing.Open(), EDBEngineError);
}

TEST_F(CatalogTest, SqliteCatalogueFile)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "make");
        db.setDatabaseName(FDir.File("catalog.db"));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec("CREATE TABLE principal (senha_ftp TEXT)"));
        ASSERT_TRUE(q.exec("INSERT INTO principal VALUES ('x1')"));
    }
    QSqlDatabase::removeDatabase("make");
    TDatabase local;
    local.SetAliasName("Local");
    local.SetDatabaseName("Local_db");
    local.Open();
    TQuery q;
    q.SetDatabaseName("Local_db");
    q.SQLAdd("select senha_ftp from principal");
    q.Open();
    EXPECT_EQ(q.FieldByName("senha_ftp").AsString(), "x1");
}
