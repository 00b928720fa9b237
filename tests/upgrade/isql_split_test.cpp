#include "tests/support/testenv.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace {

struct TRun {
    int ExitCode;
    QByteArray Out;
    QByteArray Err;
};

TRun Isql(const QStringList& args, const QByteArray& input = {})
{
    QProcess p;
    p.start(QStringLiteral(ZEMBO_ISQL), args);
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(30000);
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

} // namespace

TEST(IsqlSplit, ListsStatementsAndEveryErrorFromStandardInput)
{
    // Windows-1252 é, a tab and a backslash in the texts.
    const QByteArray script = "SET TERM ^ ;\r\n"
                              "CREATE PROCEDURE P AS\r\nBEGIN\r\n\tEXIT;\r\nEND^\r\n"
                              "SET TERM ; ^\r\n"
                              "WRONG one;\r\n"
                              "INSERT INTO T VALUES ('\xE9\\');\r\n"
                              "ALSO wrong;\r\n"
                              "/* open";
    const TRun r = Isql({"--split", "-"}, script);
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(QString::fromUtf8(r.Out),
              QString("stmtTERM\t1\t^\n"
                      "stmtDDL\t2\tCREATE PROCEDURE P AS\\r\\nBEGIN\\r\\n\\tEXIT;\\r\\nEND\n"
                      "stmtTERM\t6\t;\n"
                      "error\t7\tInvalid statement\tWRONG one\n"
                      "stmtDML\t8\tINSERT INTO T VALUES ('\u00e9\\\\')\n"
                      "error\t9\tInvalid statement\tALSO wrong\n"
                      "error\t10\tInvalid Comment\t\n"));
}

TEST(IsqlSplit, TerminatorOptionAndUsageErrors)
{
    TScratchDir dir;
    WriteBytes(dir.File("s.sql"), "DELETE FROM T!\nSET AUTODDL OFF!");
    const TRun r = Isql({"--split", "--term", "!", dir.File("s.sql")});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Out, "stmtDML\t1\tDELETE FROM T\nstmtSET\t2\tAUTODDL OFF\n");

    EXPECT_EQ(Isql({"--split"}).ExitCode, 2);
    EXPECT_EQ(Isql({"--split", "--user", "X", dir.File("s.sql")}).ExitCode, 2);
    const TRun missing = Isql({"--split", dir.File("none.sql")});
    EXPECT_EQ(missing.ExitCode, 2);
    EXPECT_TRUE(missing.Err.contains("none.sql")) << missing.Err.constData();
}
