// zembo-ls as an operator runs it: raw bytes in, one line per item out.
#include <QProcess>
#include <gtest/gtest.h>

namespace {

struct TRun {
    int ExitCode;
    QStringList Lines;
};

TRun RunTool(const QStringList& args, const QByteArray& input)
{
    QProcess tool;
    tool.start(QStringLiteral(ZEMBO_LS_PATH), args);
    tool.write(input);
    tool.closeWriteChannel();
    EXPECT_TRUE(tool.waitForFinished(10000));
    return {tool.exitCode(), QString::fromUtf8(tool.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts)};
}

} // namespace

TEST(ZemboLs, PrintsItemsAndFailure)
{
    const TRun ok = RunTool({"--now", "2025-03-10T12:00:00"},
                            "total 1\r\n-rw-r--r-- 1 joe staff 12 Mar  5 10:00 back\\slash\tTAB\r"
                            "lrwxrwxrwx 1 joe staff 3 Mar  1  2024 L -> d/\n");
    EXPECT_EQ(ok.ExitCode, 0);
    ASSERT_EQ(ok.Lines.size(), 3);
    EXPECT_EQ(ok.Lines[0], "format\tUnix");
    EXPECT_EQ(ok.Lines[1], "item\t0\tback\\\\slash\\tTAB\tback\\\\slash\\tTAB\tditFile\t12\t1\t2025-03-05 10:00:00.999"
                           "\t-rw-r--r--\tjoe\tstaff\t");
    EXPECT_EQ(ok.Lines[2], "item\t1\tL\tl\tditSymbolicLinkDir\t3\t1\t2024-03-01 00:00:00.999\tlrwxrwxrwx\tjoe\tstaff\td");

    // Latin-1 bytes by default, UTF-8 on request.
    const QByteArray accented = "-rw-r--r-- 1 joe staff 1 Mar  5 10:00 caf\xC3\xA9\n";
    EXPECT_TRUE(RunTool({"--now", "2025-03-10T12:00:00"}, accented).Lines[1].contains(QString::fromUtf8("caf\xC3\x83\xC2\xA9")));
    EXPECT_TRUE(RunTool({"--utf8", "--now", "2025-03-10T12:00:00"}, accented).Lines[1].contains(QString::fromUtf8("caf\xC3\xA9")));

    const TRun bad = RunTool({"--now", "2025-03-10T12:00:00"},
                             "-rw-r--r-- 1 joe staff 1 Mar  5 10:00 good\n-rw-r--r-- 1 joe staff 1 Mar 32 2021 bad\n");
    EXPECT_EQ(bad.ExitCode, 1);
    ASSERT_EQ(bad.Lines.size(), 4);
    // The failing line's own item stays, without the name it never reached.
    EXPECT_TRUE(bad.Lines[2].startsWith("item\t1\t\t\tditFile\t1\t"));
    EXPECT_EQ(bad.Lines[3], "error\tInvalid argument to date encode");

    const TRun none = RunTool({}, "");
    EXPECT_EQ(none.ExitCode, 0);
    EXPECT_EQ(none.Lines, QStringList{"format\t"});
}
