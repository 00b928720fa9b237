#include "tests/db/fbtest.h"
#include "tests/support/testenv.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace {

struct TRun {
    int ExitCode;
    QString Out;
    QString Err;
};

TRun Isql(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(ZEMBO_ISQL), args);
    p.waitForFinished(60000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

} // namespace

// The database is opened only by the tool while it runs, so embedded access
// never meets a second opener.
TEST(IsqlRun, KeepsWhatTheUpgradeWouldKeepAndReportsTheFailure)
{
    TScratchDir dir;
    TFbTestDatabase db(QStringLiteral("isql-run"), fbEmbedded);
    WriteBytes(dir.File("ok.sql"), "CREATE TABLE T (N INTEGER);\r\nINSERT INTO T VALUES (1);\r\n");
    const QStringList login {"--user", FbUser(), "--password", FbPassword()};
    TRun r = Isql(login + QStringList {"--server-type", "IBEmbedded", db.ConnectionName(), dir.File("ok.sql")});
    EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    EXPECT_EQ(r.Out, "stmtDDL\nstmtDML\n");

    WriteBytes(dir.File("bad.sql"), "INSERT INTO T VALUES (2);\nINSERT INTO NOPE VALUES (3);\nINSERT INTO T VALUES (4);\n");
    r = Isql(login + QStringList {db.ConnectionName(), dir.File("bad.sql")});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_TRUE(r.Err.contains("NOPE")) << r.Err.toStdString();
    EXPECT_EQ(db.Scalar("SELECT COUNT(*) FROM T"), "2"); // 1 and 2 kept, 4 never ran
    db.Database().Close();

    WriteBytes(dir.File("parse.sql"), "INSERT INTO T VALUES (5);\nSET TERM ; ;\nINSERT INTO T VALUES (6);\n");
    r = Isql(login + QStringList {db.ConnectionName(), dir.File("parse.sql")});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_TRUE(r.Err.contains("Invalid statement")) << r.Err.toStdString();
    EXPECT_EQ(db.Scalar("SELECT COUNT(*) FROM T"), "3"); // 5 kept, as the upgrade keeps it; 6 never ran
    db.Database().Close();

    EXPECT_EQ(Isql(login + QStringList {dir.File("missing.fdb"), dir.File("ok.sql")}).ExitCode, 2);
    EXPECT_EQ(Isql({db.ConnectionName()}).ExitCode, 2);
    EXPECT_EQ(Isql({"--dialect", "7", db.ConnectionName(), dir.File("ok.sql")}).ExitCode, 2);
}
