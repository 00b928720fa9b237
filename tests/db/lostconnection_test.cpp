// A connection through the server whose server goes away. The outage is
// kept short and the server is started again in every case: other users
// share it.
#include "db/iberror.h"
#include "db/ibsql.h"
#include "tests/db/fbtest.h"
#include "tests/support/testenv.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

namespace {

bool Services(const QString& command)
{
    return QProcess::execute(ServiceEnv("ZEMBO_SERVICES_SCRIPT"), {command}) == 0;
}

class TServerOutage {
public:
    TServerOutage() { FStopped = Services("firebird-stop"); }
    ~TServerOutage() { Restart(); }
    bool Stopped() const { return FStopped; }
    bool Restart()
    {
        if (FStopped)
            FStarted = Services("firebird-start");
        FStopped = false;
        return FStarted;
    }

private:
    bool FStopped = false;
    bool FStarted = true;
};

} // namespace

TEST(LostConnection, StatementAfterServerStopClosesTheConnectionAndTheNextOpenWorks)
{
    TFbTestDatabase fb("LostConnection", fbServer);
    fb.Exec({"CREATE TABLE T (A INTEGER)"});
    TIBDatabase& db = fb.Database();
    db.Open();
    fb.Transaction().StartTransaction();
    TIBSQL sql;
    sql.SetDatabase(&db);
    sql.SetSQL({"INSERT INTO T VALUES (1)"});
    sql.ExecQuery();
    {
        TServerOutage outage;
        ASSERT_TRUE(outage.Stopped());
        try {
            sql.SetSQL({"INSERT INTO T VALUES (2)"});
            sql.ExecQuery();
            ADD_FAILURE() << "no error";
        } catch (const EIBInterBaseError& e) {
            EXPECT_FALSE(e.Message().isEmpty());
        }
        EXPECT_FALSE(db.Connected());
        EXPECT_FALSE(fb.Transaction().Active());
        ASSERT_TRUE(outage.Restart());
    }
    // The server may need a moment before it accepts attachments.
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        try {
            db.Open();
            break;
        } catch (const EIBError&) {
            if (timer.elapsed() > 10000)
                throw;
            QThread::msleep(100);
        }
    }
    EXPECT_TRUE(db.Connected());
    EXPECT_EQ(fb.Scalar("SELECT COUNT(*) FROM T"), "0"); // the uncommitted insert is gone
}
