// Error paths and call orders seen through the recording fake client, and
// the parameter blocks byte by byte.
#include "db/ibclient.h"
#include "db/iberror.h"
#include "db/ibquery.h"
#include "platform/errors.h"

#include <QLibrary>
#include <gtest/gtest.h>

namespace {

const bool clientSet = [] {
    qputenv("ZEMBO_IB_CLIENT", FAKE_CLIENT);
    return true;
}();

void Control(const char* line)
{
    static auto control = reinterpret_cast<void (*)(const char*)>(QLibrary::resolve(FAKE_CLIENT, "fake_control"));
    control(line);
}

QStringList Calls()
{
    static auto calls = reinterpret_cast<const char* (*)()>(QLibrary::resolve(FAKE_CLIENT, "fake_calls"));
    QStringList list = QString::fromLatin1(calls()).split(u'\n', Qt::SkipEmptyParts);
    Control("reset");
    return list;
}

class FakeClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        IBDatabase1.SetServerType("IBServer");
        IBDatabase1.SetDatabaseName("/fake/db.fdb");
        IBDatabase1.SetParams({"user_name=ROOT", "password=123456"});
        IBDatabase1.SetSQLDialect(1);
        IBDatabase1.SetDefaultTransaction(&IBTransaction1);
        IBTransaction2.SetDefaultDatabase(&IBDatabase1);
        IBQuery1.setObjectName("IBQuery1");
        IBQuery1.SetDatabase(&IBDatabase1);
        IBQuery1.SetTransaction(&IBTransaction2);
        Control("reset");
    }
    TIBDatabase IBDatabase1;
    TIBTransaction IBTransaction1, IBTransaction2;
    TIBQuery IBQuery1;
};

} // namespace

TEST_F(FakeClientTest, UpgradeSequenceCallOrder)
{
    IBDatabase1.Open();
    EXPECT_EQ(Calls(), QStringList({"isc_attach_database", "isc_database_info"}));
    Control("columns CT,VERSAO");
    IBQuery1.SQLClear();
    IBQuery1.SQLAdd("select count(*) ct, max(versao) versao from versao");
    IBQuery1.Open();
    EXPECT_EQ(IBQuery1.FieldByName("CT").AsInteger(), 7);
    EXPECT_EQ(IBQuery1.FieldByName("versao").AsInteger(), 8);
    EXPECT_EQ(Calls(), QStringList({"isc_start_multiple", "isc_dsql_alloc_statement2", "isc_dsql_prepare",
                                    "isc_dsql_sql_info", "isc_dsql_describe", "isc_dsql_describe", "isc_dsql_execute2",
                                    "isc_dsql_fetch"}));
    IBQuery1.Close();
    IBTransaction2.Rollback();
    EXPECT_EQ(Calls(), QStringList({"isc_dsql_free_statement(close)", "isc_dsql_free_statement(drop)",
                                    "isc_rollback_transaction"}));
    IBQuery1.Open();
    Calls();
    IBTransaction2.Rollback(); // still open: close, then drop
    EXPECT_EQ(Calls(), QStringList({"isc_dsql_free_statement(close)", "isc_dsql_free_statement(drop)",
                                    "isc_rollback_transaction"}));

    IBQuery1.SQLClear();
    IBQuery1.SQLAdd("update versao set versao='0002';");
    IBQuery1.ExecSQL();
    IBTransaction2.Commit();
    EXPECT_EQ(Calls(), QStringList({"isc_start_multiple", "isc_dsql_alloc_statement2", "isc_dsql_prepare",
                                    "isc_dsql_sql_info", "isc_dsql_execute", "isc_dsql_free_statement(drop)",
                                    "isc_commit_transaction"}));
    IBDatabase1.Close();
    EXPECT_EQ(Calls(), QStringList({"isc_detach_database"}));
}

TEST_F(FakeClientTest, MessageCompositionAndRoleError)
{
    IBDatabase1.Open();
    IBTransaction1.StartTransaction();
    TIBSQL sql;
    sql.SetDatabase(&IBDatabase1);
    sql.SetSQL({"insert into t values (1)"});
    Control("fail isc_dsql_prepare 335544352 -551 no permission for insert\n|access to TABLE T.");
    try {
        sql.ExecQuery();
        FAIL();
    } catch (const EIBInterBaseRoleError& e) {
        EXPECT_EQ(e.SQLCode(), -551);
        EXPECT_EQ(e.IBErrorCode(), 335544352);
        EXPECT_EQ(e.Message(), "no permission for insert\naccess to TABLE T");
    }
    Control("fail isc_dsql_execute 335544665 -803 violation of PRIMARY or UNIQUE KEY constraint|on table T.");
    try {
        sql.ExecQuery();
        FAIL();
    } catch (const EIBInterBaseError& e) {
        EXPECT_EQ(e.Message(), "violation of PRIMARY or UNIQUE KEY constraint\r\non table T");
    }
    EXPECT_TRUE(sql.Prepared()); // a failed execution stays prepared
    EXPECT_TRUE(IBTransaction1.Active());
    EXPECT_TRUE(IBDatabase1.Connected());
}

TEST_F(FakeClientTest, NetworkErrorOnCommitClosesTheConnection)
{
    IBDatabase1.Open();
    IBTransaction1.StartTransaction();
    Control("fail isc_commit_transaction 335544721 -902 Unable to complete network request to host \"x\".");
    try {
        IBTransaction1.Commit();
        FAIL();
    } catch (const EIBInterBaseError& e) {
        EXPECT_EQ(e.SQLCode(), -902);
        EXPECT_EQ(e.Message(), "Unable to complete network request to host \"x\"");
    }
    EXPECT_FALSE(IBDatabase1.Connected());
    EXPECT_FALSE(IBTransaction1.Active());
    // The forced end turned the failed commit into a rollback.
    const QStringList calls = Calls();
    EXPECT_EQ(calls.mid(calls.size() - 3),
              QStringList({"isc_commit_transaction", "isc_rollback_transaction", "isc_detach_database"}));
}

TEST_F(FakeClientTest, ConnectionLostInAStatementClosesTheConnection)
{
    IBDatabase1.Open();
    IBTransaction1.StartTransaction();
    TIBSQL sql;
    sql.SetDatabase(&IBDatabase1);
    sql.SetSQL({"select 1 from rdb$database"});
    Control("fail isc_dsql_execute2 335544741 -901 connection lost to database");
    EXPECT_THROW(sql.ExecQuery(), EIBInterBaseError);
    EXPECT_FALSE(IBDatabase1.Connected());
    EXPECT_FALSE(IBTransaction1.Active());
    EXPECT_FALSE(sql.Prepared());

    // Firebird's report of a server gone away in the middle of a statement.
    IBDatabase1.Open();
    IBTransaction1.StartTransaction();
    Control("fail isc_dsql_execute2 335544727 -902 Error writing data to the connection");
    EXPECT_THROW(sql.ExecQuery(), EIBInterBaseError);
    EXPECT_FALSE(IBDatabase1.Connected());
}

TEST_F(FakeClientTest, FailingBlobReadRaisesTheEngineErrorNotTheClosingOne)
{
    Control("columns BLOB_DATA");
    Control("fail isc_get_segment 335544329 -904 invalid BLOB ID");
    IBQuery1.SetSQL({"select blob_data from t"});
    try {
        IBQuery1.Open();
        FAIL();
    } catch (const EIBInterBaseError& e) {
        EXPECT_EQ(e.IBErrorCode(), 335544329);
        EXPECT_EQ(e.SQLCode(), -904);
        EXPECT_EQ(e.Message(), "invalid BLOB ID");
    }
    const QStringList calls = Calls();
    EXPECT_EQ(calls.mid(calls.size() - 3), QStringList({"isc_open_blob2", "isc_get_segment", "isc_close_blob"}));
}

TEST_F(FakeClientTest, DestroyingAConnectionNeverRaises)
{
    auto* database = new TIBDatabase;
    database->SetDatabaseName("/fake/other.fdb");
    database->Open();
    // The close fails, and so does the forced close that follows it.
    Control("fail isc_detach_database 335544721 -902 Unable to complete network request");
    database->BeforeDisconnect = [] { throw Exception("handler failed"); };
    EXPECT_NO_THROW(delete database);
    EXPECT_EQ(Calls().filter("isc_detach_database").size(), 2);
}

TEST_F(FakeClientTest, OutputNamesAreUnique)
{
    IBDatabase1.Open();
    const QString longName(31, u'N');
    Control(("columns CT,CT,,," + longName + "," + longName).toLatin1().constData());
    IBQuery1.SetSQL({"select a from t"});
    IBQuery1.Open();
    QStringList names;
    for (int i = 0; i < IBQuery1.Fields().Count(); ++i)
        names << IBQuery1.Fields()[i].FieldName();
    EXPECT_EQ(names, QStringList({"CT", "CT1", "F_1", "F_2", longName, QString(30, u'N') + "1"}));
}

TEST_F(FakeClientTest, SavepointsRunAsSqlAndTheirFailureIsNotRaised)
{
    EXPECT_EQ(IBDatabase1.GDSLibrary().ClientVersion(), 63000);
    IBDatabase1.Open();
    IBTransaction1.StartTransaction();
    Calls();
    Control("fail isc_dsql_execute_immediate 335544382 -104 savepoint unknown");
    IBTransaction1.RollbackSavepoint("SP1");
    EXPECT_TRUE(IBTransaction1.Active());
    EXPECT_EQ(Calls(), QStringList({"isc_dsql_execute_immediate"}));
    IBTransaction1.RollbackRetaining();
    EXPECT_EQ(Calls(), QStringList({"isc_rollback_retaining"}));
    TIBStatus status;
    EXPECT_THROW(IBDatabase1.GDSLibrary().BatchExecuteImmed(status, IBDatabase1.Handle(),
                                                            IBTransaction1.Handle(), 1, 0, nullptr, nullptr),
                 EIBClientError);
}

TEST_F(FakeClientTest, ConnectionAndTransactionRefusals)
{
    auto clientError = [](auto&& f) {
        try {
            f();
        } catch (const EIBClientError& e) {
            return QString::number(e.SQLCode()) + " " + e.Message();
        }
        return QString("no error");
    };
    TIBDatabase unnamed;
    EXPECT_EQ(clientError([&] { unnamed.Open(); }), "17 Database name is missing");
    EXPECT_EQ(clientError([&] { IBTransaction1.Commit(); }), "18 Transaction is not active");
    EXPECT_EQ(clientError([&] { IBDatabase1.SetSQLDialect(0); }), "87 SQL Dialect Invalid");
    IBDatabase1.Open();
    IBDatabase1.SetDatabaseName("/fake/db.fdb"); // the same name: nothing happens
    EXPECT_EQ(clientError([&] { IBDatabase1.SetDatabaseName("/other.fdb"); }),
              "16 Cannot perform operation -- DB is currently open");
    EXPECT_THROW(IBDatabase1.SetServerType("IBEmbedded"), Exception);
    IBTransaction1.StartTransaction();
    EXPECT_EQ(clientError([&] { IBTransaction1.SetParams({"no_savepoint"}); }), "19 Transaction is active");
    TIBQuery noTransaction;
    EXPECT_EQ(clientError([&] { noTransaction.Open(); }), "24 Database not assigned");
    TIBSQL typeNine;
    typeNine.SetDatabase(&IBDatabase1);
    typeNine.SetSQL({"set transaction"});
    EXPECT_EQ(clientError([&] { typeNine.Prepare(); }), "5 Not permitted");
    EXPECT_FALSE(typeNine.Prepared());
}

TEST_F(FakeClientTest, DialectFollowsTheDatabaseAndCloseCommitsTheReadTransaction)
{
    int warnings = 0;
    IBDatabase1.OnDialectDowngradeWarning = [&] { ++warnings; };
    IBDatabase1.SetSQLDialect(3);
    EXPECT_EQ(IBDatabase1.DBSQLDialect(), 3);
    IBQuery1.SetSQL({"select versao from versao"});
    IBQuery1.Open(); // connects on demand
    EXPECT_EQ(IBDatabase1.DBSQLDialect(), 1);
    EXPECT_EQ(IBDatabase1.SQLDialect(), 1);
    EXPECT_EQ(warnings, 1);
    IBQuery1.Close();
    Calls();
    IBDatabase1.Close();
    EXPECT_EQ(Calls(), QStringList({"isc_dsql_free_statement(drop)", "isc_commit_transaction", "isc_detach_database"}));
    EXPECT_FALSE(IBTransaction2.Active());
}

TEST(ClientLibraryLoading, MissingLibraryMissingEntryPointAndOldClient)
{
    IGDSLibrary missing("/nonexistent/gds32.dll");
    try {
        missing.CheckLoaded();
        FAIL();
    } catch (const EIBClientError& e) {
        EXPECT_EQ(e.SQLCode(), 1);
        EXPECT_EQ(e.Message(), "InterBase library gds32.dll not found in the path. Please install InterBase to use "
                               "this functionality");
    }
    IGDSLibrary broken(FAKE_CLIENT_NO_ATTACH);
    try {
        broken.CheckLoaded();
        FAIL();
    } catch (const EOSError& e) {
        EXPECT_EQ(e.ErrorCode(), 127);
        EXPECT_TRUE(e.Message().contains("isc_attach_database")) << e.what();
    }
    IGDSLibrary old(FAKE_CLIENT_NO_RETAINING);
    old.CheckLoaded();
    EXPECT_EQ(old.ClientVersion(), 50000);
    try {
        TIBStatus status;
        old.RollbackRetaining(status, nullptr);
        FAIL();
    } catch (const EIBClientError& e) {
        EXPECT_EQ(e.Message(), "isc_rollback_retaining is an InterBase 6 function. Please upgrade to InterBase 6 to "
                               "use this functonality");
    }
}

TEST(ParameterBlocks, ConnectionBlockByteForByte)
{
    EXPECT_EQ(BuildDpb({"user_name=ROOT", "password=482913"}), QByteArray("\x01\x1c\x04ROOT\x1d\x06" "482913", 15));
    EXPECT_EQ(BuildDpb({"num_buffers=256"}), QByteArray("\x01\x05\x04\x00\x01\x00\x00", 7));
    EXPECT_EQ(BuildDpb({"ISC_DPB_SQL_DIALECT=1", "sweep", "force_write=1"}),
              QByteArray("\x01\x3f\x01\x01\x0a\x01\x02\x18\x01\x01", 10));
    auto message = [](const QStringList& params) {
        try {
            BuildDpb(params);
        } catch (const EIBClientError& e) {
            return QString::number(e.SQLCode()) + " " + e.Message();
        }
        return QString("no error");
    };
    EXPECT_EQ(message({"foo=1"}), "114 DPB Constant (foo) is unknown");
    EXPECT_EQ(message({"trace=1"}), "11 DPB Constant (isc_dpb_trace) is unsupported");
    EXPECT_EQ(message({"user_name =ROOT"}), "114 DPB Constant (user_name ) is unknown");
    EXPECT_EQ(message({"user_name=" + QString(256, u'x')}).left(2), "0 ");
    EXPECT_THROW(BuildDpb({"num_buffers=many"}), EConvertError);
}

TEST(ParameterBlocks, TransactionBlock)
{
    EXPECT_TRUE(BuildTpb({}).isEmpty());
    EXPECT_EQ(BuildTpb({"no_savepoint"}), QByteArray("\x03\x15", 2));
    EXPECT_EQ(BuildTpb({"read_committed", "isc_tpb_rec_version", "", "lock_read=T"}),
              QByteArray("\x03\x0f\x11\x0a\x01T", 6));
    try {
        BuildTpb({"autocommit"});
        FAIL();
    } catch (const EIBClientError& e) {
        EXPECT_EQ(e.Message(), "TPB Constant (isc_tpb_autocommit) is unsupported");
    }
}
