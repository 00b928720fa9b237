// The archiver stand-in on real RAR 4.x archives, started the way the updater
// starts WinRAR, and the archive writer the tests build them with.
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "tests/support/rar4writer.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

const QDateTime kPacked(QDate(2024, 3, 15), QTime(10, 20, 31));

struct TRun {
    int ExitCode = -1;
    QString Output;
};

TRun RunProgram(const QString& program, const QStringList& arguments, const QString& folder)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setWorkingDirectory(folder);
    p.start(program, arguments);
    if (!p.waitForStarted() || !p.waitForFinished(30000))
        return {-1, p.errorString()};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAll())};
}

class ArchiverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FProgramFiles = FScratch.File(QStringLiteral("Program Files"));
        FWork = FScratch.File(QStringLiteral("work"));
        QDir().mkpath(FWork);
        const TRun install = RunProgram(QStringLiteral(ZEMBO_ARCHIVER_SOURCE_DIR "/scripts/install-winrar"),
                                 {FProgramFiles, FScratch.File(QStringLiteral("registry.ini"))}, FScratch.Path());
        ASSERT_EQ(install.ExitCode, 0) << install.Output.toStdString();
    }

    // The updater's command line, split as the system splits it.
    TRun Extract(const QString& tail)
    {
        const QString commandLine = FProgramFiles + QStringLiteral("/winrar/winrar.exe ") + tail;
        QStringList parts = SplitCommandLine(commandLine, FWork);
        if (parts.isEmpty())
            return {-1, QStringLiteral("no program in ") + commandLine};
        const QString program = parts.takeFirst();
        return RunProgram(program, parts, FWork);
    }

    QString Work(const QString& name) const { return FWork + '/' + name; }
    QStringList WorkEntries() const
    {
        return QDir(FWork).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    TScratchDir FScratch;
    QString FProgramFiles;
    QString FWork;
};

TEST_F(ArchiverTest, InstallRecordsTheProgramFilesFolder)
{
    EXPECT_TRUE(QFileInfo(FProgramFiles + QStringLiteral("/winrar/winrar.exe")).isExecutable());
    EXPECT_FALSE(QFileInfo::exists(FProgramFiles + QStringLiteral("/winrar/WinRAR.exe"))); // one spelling only
    qputenv("ZEMBO_REGISTRY", FScratch.File(QStringLiteral("registry.ini")).toLocal8Bit());
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly(THKey::LocalMachine, QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion")));
    EXPECT_EQ(reg.ReadString(QStringLiteral("ProgramFilesDir")), FProgramFiles);
    qunsetenv("ZEMBO_REGISTRY");
}

TEST_F(ArchiverTest, ExtractsOnlyExecutablesAndOverwrites)
{
    WriteRar4(Work(QStringLiteral("Quendarive.rar")),
              {{QStringLiteral("Quendarive.exe"), "new main program", kPacked},
               {QStringLiteral("leiame.txt"), "notes", kPacked},
               {QStringLiteral("AJUDA.EXE"), "help", kPacked},
               {QStringLiteral("dados"), {}, kPacked, true},
               {QStringLiteral("dados\\config.ini"), "[x]", kPacked},
               {QStringLiteral("dados\\tool.exe"), "tool", kPacked},
               {QStringLiteral("Quendarive.exe.bak"), "not an executable", kPacked}});
    WriteBytes(Work(QStringLiteral("Quendarive.exe")), "old main program, longer than the new one");
    ASSERT_TRUE(FileSetDate(Work(QStringLiteral("Quendarive.exe")),
                            TDateTime::FromQDateTime(QDateTime(QDate(2020, 1, 1), QTime(8, 0)))));

    const TRun run = Extract(QStringLiteral("x -o+ Quendarive.rar *.exe \".\\\""));
    ASSERT_EQ(run.ExitCode, 0) << run.Output.toStdString();

    EXPECT_EQ(ReadBytes(Work(QStringLiteral("Quendarive.exe"))), "new main program");
    EXPECT_EQ(QFileInfo(Work(QStringLiteral("Quendarive.exe"))).lastModified(), kPacked.addSecs(-1));
    EXPECT_EQ(ReadBytes(Work(QStringLiteral("AJUDA.EXE"))), "help");
    EXPECT_EQ(ReadBytes(Work(QStringLiteral("dados/tool.exe"))), "tool"); // x keeps the folders
    EXPECT_FALSE(QFileInfo::exists(Work(QStringLiteral("leiame.txt"))));
    EXPECT_FALSE(QFileInfo::exists(Work(QStringLiteral("dados/config.ini"))));
    EXPECT_FALSE(QFileInfo::exists(Work(QStringLiteral("Quendarive.exe.bak"))));
    EXPECT_EQ(WorkEntries(), QStringList({"AJUDA.EXE", "Quendarive.exe", "Quendarive.rar", "dados"})); // nothing left aside
}

// A damaged archive fails with the archiver's exit code and leaves the folder
// as it was: no partial file, the previous executable untouched.
TEST_F(ArchiverTest, DamagedArchiveFailsAndExtractsNothing)
{
    const QByteArray good = Rar4Archive({{QStringLiteral("Quendarive.exe"), "new main program", kPacked},
                                         {QStringLiteral("AJUDA.EXE"), "help", kPacked}});
    const qsizetype data = good.indexOf("new main program"), secondHeader = good.indexOf("AJUDA.EXE") - 10;
    QByteArray flipped = good;
    flipped[data + 4] = char(flipped[data + 4] ^ 0x01);
    const struct {
        const char* Case;
        QByteArray Archive;
        int ExitCode;
    } cases[] = {
        {"cut in an entry's data", good.left(data + 5), 2},
        {"cut in a header", good.left(secondHeader), 2},
        {"end-of-archive block missing", good.chopped(7), 2},
        {"not an archive", "Quendarive.exe is not here", 2},
        {"empty file", {}, 2},
        {"stored entry with a wrong byte (CRC)", flipped, 3},
    };
    for (const auto& c : cases) {
        WriteBytes(Work(QStringLiteral("Quendarive.rar")), c.Archive);
        WriteBytes(Work(QStringLiteral("Quendarive.exe")), "old main program");
        const TRun run = Extract(QStringLiteral("x -o+ Quendarive.rar *.exe \".\\\""));
        EXPECT_EQ(run.ExitCode, c.ExitCode) << c.Case << ": " << run.Output.toStdString();
        EXPECT_FALSE(run.Output.isEmpty()) << c.Case;
        EXPECT_EQ(ReadBytes(Work(QStringLiteral("Quendarive.exe"))), "old main program") << c.Case;
        EXPECT_EQ(WorkEntries(), QStringList({"Quendarive.exe", "Quendarive.rar"})) << c.Case;
    }
}

TEST_F(ArchiverTest, RefusesWhatItDoesNotHonour)
{
    WriteRar4(Work(QStringLiteral("Quendarive.rar")), {{QStringLiteral("a.exe"), "a", kPacked}});
    for (const QString& tail : {QStringLiteral("e -o+ Quendarive.rar *.exe \".\\\""),
                                QStringLiteral("x -o- Quendarive.rar *.exe \".\\\""),
                                QStringLiteral("x -o+ Quendarive.rar *.exe"),
                                QStringLiteral("x -o+ Missing.rar *.exe \".\\\""),
                                QStringLiteral("x -o+ Quendarive.rar *.dll \".\\\"")}) {
        const TRun run = Extract(tail);
        EXPECT_NE(run.ExitCode, 0) << tail.toStdString();
        EXPECT_FALSE(run.Output.isEmpty()) << tail.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(Work(QStringLiteral("a.exe"))));
}

TEST(Rar4WriterTest, BsdtarReadsNamesTimesAndData)
{
    TScratchDir dir;
    QByteArray big(100000, '\0');
    for (int i = 0; i < big.size(); ++i)
        big[i] = char(i * 7 % 251);
    WriteRar4(dir.File(QStringLiteral("t.rar")),
              {{QStringLiteral("empty.txt"), {}, kPacked},
               {QStringLiteral("big.bin"), big, QDateTime(QDate(1980, 1, 1), QTime(0, 0))},
               {QStringLiteral("sub/inner.txt"), "inner", QDateTime(QDate(2107, 12, 31), QTime(23, 59, 58))}});
    const TRun list = RunProgram(QStringLiteral("bsdtar"), {QStringLiteral("-tf"), QStringLiteral("t.rar")}, dir.Path());
    ASSERT_EQ(list.ExitCode, 0) << list.Output.toStdString();
    EXPECT_EQ(list.Output, QStringLiteral("empty.txt\nbig.bin\nsub/inner.txt\n"));

    const QString out = dir.File(QStringLiteral("out"));
    QDir().mkpath(out);
    const TRun x = RunProgram(QStringLiteral("bsdtar"), {QStringLiteral("-xf"), dir.File(QStringLiteral("t.rar"))}, out);
    ASSERT_EQ(x.ExitCode, 0) << x.Output.toStdString();
    EXPECT_EQ(ReadBytes(out + QStringLiteral("/big.bin")), big);
    EXPECT_EQ(ReadBytes(out + QStringLiteral("/empty.txt")), QByteArray());
    EXPECT_EQ(ReadBytes(out + QStringLiteral("/sub/inner.txt")), "inner");
    EXPECT_EQ(QFileInfo(out + QStringLiteral("/empty.txt")).lastModified(), kPacked.addSecs(-1));
    EXPECT_EQ(QFileInfo(out + QStringLiteral("/sub/inner.txt")).lastModified(),
              QDateTime(QDate(2107, 12, 31), QTime(23, 59, 58)));
}

} // namespace
