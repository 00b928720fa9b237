#include "platform/text.h"
#include "update/checks.h"
#include "update/configuration.h"
#include "db/aliases.h"
#include "db/dberror.h"
#include "platform/errors.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <gtest/gtest.h>

TEST(Decoding, DigitShiftInBothWidths)
{
    EXPECT_EQ(DecodificaTexto("2ghi"), "abc");
    EXPECT_EQ(DecodificaTexto("0abc"), "abc");
    EXPECT_EQ(DecodificaTexto("xabc"), "abc");
    EXPECT_EQ(DecodificaTexto("7"), "");
    EXPECT_EQ(DecodificaTexto(""), "");
    EXPECT_EQ(DecodificaTexto(QString("9") + QChar(5)), QString(QChar(0xFFEA)));
    EXPECT_EQ(DecodificaTextoAnsi("2ghi"), "abc");
    EXPECT_EQ(DecodificaTextoAnsi("x\x05"), "\x05");
    EXPECT_EQ(DecodificaTextoAnsi("9\x05"), "\xEA");
    EXPECT_EQ(DecodificaTextoAnsi(""), "");
    // the built-in catalogue credentials decode to the test set-up's account
    EXPECT_EQ(DecodificaTextoAnsi("1}hper"), "zembo");
}

class Aliases : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteBytes(FDir.File("aliases.ini"),
                   "[KELDARIN]\n"
                   "TYPE=INTRBASE\n"
                   "SERVER NAME=C:\\DADOS\\BASE.GDB\n"
                   "USER NAME=X\n"
                   "[TWICE]\n"
                   "TYPE=INTRBASE\n"
                   "SERVER NAME=/first.fdb\n"
                   "SERVER NAME=/second.fdb\n"
                   "[LOWER]\n"
                   "server name=C:\\X\n"
                   "[LONG]\n"
                   "SERVER NAME=" + QByteArray(150, 'v') + "\n"
                   "[ABCDEFGHIJKLMNOPQRSTUVWXYZ01234]\n"
                   "SERVER NAME=/cut.fdb\n");
        qputenv("ZEMBO_ALIASES", FDir.File("aliases.ini").toLocal8Bit());
    }
    void TearDown() override { qunsetenv("ZEMBO_ALIASES"); }
    TScratchDir FDir;
};

TEST_F(Aliases, ParameterLinesWithoutTheTypeLine)
{
    QStringList list {"stale"};
    GetAliasParams("keldarin", list);
    EXPECT_EQ(list, QStringList({"SERVER NAME=C:\\DADOS\\BASE.GDB", "USER NAME=X"}));
    GetAliasParams("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", list); // cut to 31 characters
    EXPECT_EQ(list, QStringList({"SERVER NAME=/cut.fdb"}));
    list = QStringList {"stale"};
    EXPECT_THROW(GetAliasParams("NOPE", list), EDBEngineError);
    EXPECT_TRUE(list.isEmpty());
    qputenv("ZEMBO_ALIASES", FDir.File("missing.ini").toLocal8Bit());
    EXPECT_THROW(GetAliasParams("KELDARIN", list), EDBEngineError);
}

TEST_F(Aliases, PegaBDEdadosTakesTheLastExactMatchCutTo100)
{
    EXPECT_EQ(PegaBDEdados("KELDARIN", "SERVER NAME"), "C:\\DADOS\\BASE.GDB");
    EXPECT_EQ(PegaBDEdados("TWICE", "SERVER NAME"), "/second.fdb");
    EXPECT_EQ(PegaBDEdados("LOWER", "SERVER NAME"), "");
    EXPECT_EQ(PegaBDEdados("LONG", "SERVER NAME"), QString(100, u'v'));
    EXPECT_EQ(PegaBDEdados("NOPE", "SERVER NAME"), "");
    EXPECT_EQ(PegaBDEdados("", "SERVER NAME"), "");
    EXPECT_EQ(PegaBDEdados("KELDARIN", ""), "");
    qputenv("ZEMBO_ALIASES", FDir.File("missing.ini").toLocal8Bit());
    EXPECT_EQ(PegaBDEdados("KELDARIN", "SERVER NAME"), "");
}

TEST(ProgramFiles, FallsBackFromX86OnlyWhenTheArchiverIsThere)
{
    TScratchDir dir;
    const QString x86 = dir.File("Program Files (x86)");
    const QString plain = dir.File("Program Files");
    QDir().mkpath(x86);
    WriteBytes(dir.File("reg.ini"), "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion]\nProgramFilesDir="
                                        + x86.toUtf8() + "\n");
    qputenv("ZEMBO_REGISTRY", dir.File("reg.ini").toLocal8Bit());
    EXPECT_EQ(program_files(), x86);
    WriteBytes(plain + "/winrar/winrar.exe", "x");
    EXPECT_EQ(program_files(), plain);
    WriteBytes(x86 + "/winrar/winrar.exe", "x");
    EXPECT_EQ(program_files(), x86);

    WriteBytes(dir.File("reg.ini"), "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion]\nOther=1\n");
    try {
        program_files();
        ADD_FAILURE() << "no error for a missing value";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.ErrorCode(), 1012);
        EXPECT_EQ(e.Message(), "The configuration registry key could not be read.");
    }
    qputenv("ZEMBO_REGISTRY", dir.File("missing.ini").toLocal8Bit());
    EXPECT_THROW(program_files(), EOSError);
    qunsetenv("ZEMBO_REGISTRY");
}

TEST(LeRegistro, IntegerAndBinaryValues)
{
    TScratchDir dir;
    WriteBytes(dir.File("reg.ini"), "[HKEY_LOCAL_MACHINE\\K]\nN=dword:42\nB=hex:61,62\n");
    qputenv("ZEMBO_REGISTRY", dir.File("reg.ini").toLocal8Bit());
    EXPECT_EQ(LeRegistro(THKey::LocalMachine, "\\K", "N"), QVariant(42));
    EXPECT_EQ(LeRegistro(THKey::LocalMachine, "\\K", "B").toString(), "ab");
    qunsetenv("ZEMBO_REGISTRY");
}

TEST(Words, UltimaPalavraAndTrocaCaractere)
{
    EXPECT_EQ(UltimaPalavra("   abc   "), "abc");
    EXPECT_EQ(UltimaPalavra("a b  c "), "c");
    EXPECT_EQ(UltimaPalavra(""), "");
    EXPECT_EQ(UltimaPalavra("-rw-r--r-- 1 u g 10 Mar 10 12:34 SETUP.EXE"), "SETUP.EXE");
    EXPECT_EQ(UltimaPalavra("12:34\tSETUP.EXE"), "12:34\tSETUP.EXE"); // tabs do not separate
    EXPECT_EQ(UltimaPalavra("x " + QString(1500, u'n')), QString(999, u'n'));

    EXPECT_EQ(TrocaCaractere("08/12/2023", "/", "-"), "08-12-2023");
    EXPECT_EQ(TrocaCaractere("08/12/2023", "12", "-"), "08/12/2023");
    EXPECT_EQ(TrocaCaractere("a:b", ":", ""), "ab");
    EXPECT_EQ(TrocaCaractere("", "/", "-"), "");
    EXPECT_EQ(TrocaCaractere("aA", "a", "x"), "xA");
}
