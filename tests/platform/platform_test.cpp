#include "platform/codepage.h"
#include "platform/datetime.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/lock.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return TDateTime(EncodeDate(y, mo, d).Value() + EncodeTime(h, mi, s, 0).Value());
}

} // namespace

TEST(CodePage, Windows1252BytesRoundTripAndUnmappableBecomesQuestionMark)
{
    const QString text = QString::fromUtf8("Atualização € ção");
    const QByteArray bytes = ToAnsi(text);
    EXPECT_EQ(bytes, QByteArray("Atualiza\xe7\xe3o \x80 \xe7\xe3o"));
    EXPECT_EQ(FromAnsi(bytes), text);
    EXPECT_EQ(ToAnsi(QString::fromUtf8("中x")), QByteArray("?x"));
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    EXPECT_EQ(ToAnsi(FromAnsi(all)), all); // every byte survives, the undefined five included
}

TEST(DateTime, EncodingMatchesTheDayCountAndRefusesBadArguments)
{
    EXPECT_EQ(EncodeDate(1899, 12, 30).Value(), 0.0);
    EXPECT_EQ(EncodeDate(2024, 3, 10).Value(), 45361.0);
    EXPECT_EQ(EncodeDate(1, 1, 1).Value(), -693593.0);
    EXPECT_DOUBLE_EQ(EncodeTime(12, 0, 0, 0).Value(), 0.5);
    EXPECT_NO_THROW(EncodeDate(2000, 2, 29));
    EXPECT_NO_THROW(EncodeDate(9999, 12, 31));
    for (auto [y, m, d] : {std::tuple {1900, 2, 29}, {2023, 2, 29}, {0, 1, 1}, {10000, 1, 1}, {2024, 13, 1}, {2024, 4, 31}})
        EXPECT_EQ(FailureOf([y = y, m = m, d = d] { EncodeDate(y, m, d); }), "Invalid argument to date encode")
            << y << m << d;
    for (auto [h, m, s, ms] : {std::tuple {24, 0, 0, 0}, {0, 60, 0, 0}, {0, 0, 60, 0}, {0, 0, 0, 1000}, {-1, 0, 0, 0}})
        EXPECT_EQ(FailureOf([h = h, m = m, s = s, ms = ms] { EncodeTime(h, m, s, ms); }), "Invalid argument to time encode");
}

TEST(DateTime, DecodingRoundTripsAndCountsTimeForwardBeforeTheEpoch)
{
    for (int y : {1, 1600, 1899, 1900, 1980, 2024, 2107, 9999})
        for (int m : {1, 2, 12}) {
            const TDateParts p = DecodeDate(EncodeDate(y, m, DaysInMonth(y, m)));
            EXPECT_EQ(p.Year, y);
            EXPECT_EQ(p.Month, m);
            EXPECT_EQ(p.Day, DaysInMonth(y, m));
        }
    const TDateTime before(-1.25);
    EXPECT_EQ(DecodeDate(before).Day, 29);
    EXPECT_EQ(DecodeTime(before).Hour, 6);
    const TTimeParts t = DecodeTime(At(2024, 3, 10, 23, 59, 59) + 0.999 / 86400);
    EXPECT_EQ(t.Hour, 23);
    EXPECT_EQ(t.Sec, 59);
    EXPECT_EQ(t.MSec, 999);
    const QDateTime q(QDate(2024, 3, 10), QTime(14, 5, 7, 250));
    EXPECT_EQ(TDateTime::FromQDateTime(q).ToQDateTime(), q);
}

TEST(DateTime, ClockCanBeFixed)
{
    SetClock([] { return At(2025, 3, 10, 12); });
    EXPECT_EQ(Now(), At(2025, 3, 10, 12));
    EXPECT_EQ(Today(), EncodeDate(2025, 3, 10));
    SetClock({});
    EXPECT_GT(Now().Value(), EncodeDate(2026, 1, 1).Value());
}

TEST(Files, MasksFollowWindowsRules)
{
    EXPECT_TRUE(MatchesMask("script_erro_dt_1.txt", "SCRIPT_ERRO*.*"));
    EXPECT_TRUE(MatchesMask("SCRIPT_ERRO", "SCRIPT_ERRO*.*")); // "*.*" also takes names without a dot
    EXPECT_TRUE(MatchesMask("a.b.c", "*.c"));
    EXPECT_TRUE(MatchesMask("ab", "a?"));
    EXPECT_FALSE(MatchesMask("a", "a?"));
    EXPECT_FALSE(MatchesMask("XSCRIPT_ERRO.TXT", "SCRIPT_ERRO*.*"));
    EXPECT_TRUE(MatchesMask("Quendarive.EXE", "*.exe"));
}

TEST(Files, SearchSeesFoldersAndHiddenAttributesButSkipsDotNames)
{
    TScratchDir dir;
    WriteBytes(dir.File("SCRIPT_ERRO_1.TXT"), "x");
    WriteBytes(dir.File(".SCRIPT_ERRO_hidden"), "x");
    QDir(dir.Path()).mkdir("SCRIPT_ERRO_DIR");
    WriteBytes(dir.File("other.txt"), "x");
    QStringList names;
    for (const TSearchEntry& e : FindEntries(dir.Path(), "SCRIPT_ERRO*.*"))
        names << e.Name + (e.IsDirectory ? "/" : "");
    names.sort();
    EXPECT_EQ(names, QStringList({"SCRIPT_ERRO_1.TXT", "SCRIPT_ERRO_DIR/"}));
}

TEST(Files, TimesKeepTheFileDatePrecisionAndRange)
{
    TScratchDir dir;
    const QString f = dir.File("a.exe");
    WriteBytes(f, "x");
    ASSERT_TRUE(FileSetDate(f, At(2024, 3, 10, 14, 5, 59)));
    EXPECT_EQ(*FileAge(f), At(2024, 3, 10, 14, 5, 58));
    ASSERT_TRUE(FileSetDate(f, At(1980, 1, 1)));
    EXPECT_EQ(*FileAge(f), At(1980, 1, 1));
    ASSERT_TRUE(FileSetDate(f, At(2107, 12, 31, 23, 59, 58)));
    EXPECT_EQ(*FileAge(f), At(2107, 12, 31, 23, 59, 58));
    EXPECT_FALSE(FileSetDate(f, At(1979, 12, 31, 23, 59, 59)));
    EXPECT_FALSE(FileSetDate(f, At(2108, 1, 1)));
    EXPECT_EQ(*FileAge(f), At(2107, 12, 31, 23, 59, 58)); // refused times change nothing
    EXPECT_FALSE(FileAge(dir.File("missing")).has_value());
    EXPECT_FALSE(FileSetDate(dir.File("missing"), At(2024, 1, 1)));
    QFile old(f);
    ASSERT_TRUE(old.open(QIODevice::ReadWrite));
    ASSERT_TRUE(old.setFileTime(QDateTime(QDate(1975, 1, 1), QTime(0, 0)), QFileDevice::FileModificationTime));
    old.close();
    EXPECT_FALSE(FileAge(f).has_value());
}

TEST(Files, CopyDeleteAndTextFiles)
{
    TScratchDir dir;
    WriteBytes(dir.File("a"), "new");
    WriteBytes(dir.File("b"), "old");
    EXPECT_FALSE(CopyFileNoOverwrite(dir.File("a"), dir.File("b")));
    EXPECT_EQ(ReadBytes(dir.File("b")), "old");
    EXPECT_TRUE(CopyFileNoOverwrite(dir.File("a"), dir.File("c")));
    EXPECT_EQ(ReadBytes(dir.File("c")), "new");
    EXPECT_TRUE(DeleteFile(dir.File("c")));
    EXPECT_FALSE(DeleteFile(dir.File("c")));

    WriteAnsiLines(dir.File("t.txt"), {QString::fromUtf8("ação"), "", "fim"});
    EXPECT_EQ(ReadBytes(dir.File("t.txt")), QByteArray("a\xe7\xe3o\r\n\r\nfim\r\n"));
    AppendAnsiLines(dir.File("t.txt"), {"mais"});
    EXPECT_EQ(ReadBytes(dir.File("t.txt")), QByteArray("a\xe7\xe3o\r\n\r\nfim\r\nmais\r\n"));
    EXPECT_THROW(WriteAnsiLines(dir.File("no/such/folder/t.txt"), {"x"}), EInOutError);

    WriteBytes(dir.File("mixed"), "a\r\nb\nc\rd");
    EXPECT_EQ(ReadAnsiLines(dir.File("mixed")), QStringList({"a", "b", "c", "d"}));
    EXPECT_THROW(ReadAnsiLines(dir.File("missing")), EInOutError);
}

// Links planted in a folder others may write are never followed by what
// writes, appends, sets a time, copies or removes there: each goes as a
// link or is refused, and nothing outside changes or appears.
TEST(Files, NothingWritesThroughALink)
{
    TScratchDir dir, outside;
    WriteBytes(outside.File("alvo"), "do sistema");
    QDir().mkpath(outside.File("pasta/dentro"));
    WriteBytes(outside.File("pasta/dentro/f"), "guardado");
    const auto plant = [&](const QString& name, const QString& target) {
        QFile::remove(dir.File(name));
        return QFile::link(target, dir.File(name));
    };
    const auto outsideUnchanged = [&] {
        EXPECT_EQ(ReadBytes(outside.File("alvo")), "do sistema");
        EXPECT_EQ(ReadBytes(outside.File("pasta/dentro/f")), "guardado");
        EXPECT_EQ(QDir(outside.Path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList({"alvo", "pasta"}));
    };

    for (const char* target : {"alvo", "criado"}) { // a link to a file, a dangling one
        SCOPED_TRACE(target);
        ASSERT_TRUE(plant("f", outside.File(target)));
        EXPECT_THROW(AppendAnsiLines(dir.File("f"), {"x"}), EInOutError);
        QFile file;
        EXPECT_EQ(OpenNoFollow(file, dir.File("f"), QIODevice::WriteOnly | QIODevice::Append),
                  QString::fromUtf8("É um link simbólico, que o programa não segue."));
        EXPECT_FALSE(FileSetDate(dir.File("f"), At(2024, 1, 1)));
        WriteBytes(dir.File("c"), "cópia");
        EXPECT_FALSE(CopyFileNoOverwrite(dir.File("c"), dir.File("f")));
        WriteAnsiLines(dir.File("f"), {"novo"}); // the link replaced
        EXPECT_FALSE(IsLink(dir.File("f")));
        EXPECT_EQ(ReadBytes(dir.File("f")), "novo\r\n");
        outsideUnchanged();
    }
    EXPECT_TRUE(plant("p", outside.File("pasta")));
    EXPECT_TRUE(DeleteFile(dir.File("p")));
    EXPECT_FALSE(QFileInfo::exists(dir.File("p")));

    // A pipe in a file's place fails the open instead of holding it.
    ASSERT_EQ(QProcess::execute("mkfifo", {dir.File("fila")}), 0);
    QFile pipe;
    EXPECT_FALSE(OpenNoFollow(pipe, dir.File("fila"), QIODevice::WriteOnly | QIODevice::Append).isEmpty());

    // The tree removal removes links as links, at the top and inside.
    ASSERT_TRUE(plant("tmp", outside.File("pasta")));
    EXPECT_TRUE(RemoveTree(dir.File("tmp")));
    QDir().mkpath(dir.File("arvore/sub"));
    WriteBytes(dir.File("arvore/sub/a"), "a");
    ASSERT_TRUE(QFile::link(outside.File("pasta"), dir.File("arvore/sub/link")));
    ASSERT_TRUE(QFile::link(outside.File("alvo"), dir.File("arvore/alvo")));
    EXPECT_TRUE(RemoveTree(dir.File("arvore")));
    EXPECT_TRUE(RemoveTree(dir.File("nada")));
    EXPECT_FALSE(QFileInfo::exists(dir.File("arvore")) || QFileInfo::exists(dir.File("tmp")));
    outsideUnchanged();
}

// A file written aside takes a short name of its own: a name near the
// limit is still written, and a failure leaves the old file and no trace.
TEST(Files, WrittenAsideWhateverTheNameLength)
{
    TScratchDir dir;
    const QString name = dir.File(QString(250, u'n'));
    WriteFileBytes(name, "um");
    WriteFileBytes(name, "dois");
    EXPECT_EQ(ReadBytes(name), "dois");
    TAsideFile aside;
    ASSERT_EQ(aside.Open(name), QString());
    aside.File().write("descartado");
    aside.Discard();
    EXPECT_EQ(ReadBytes(name), "dois");
    EXPECT_EQ(QDir(dir.Path()).entryList(QDir::Files | QDir::Hidden), QStringList({QString(250, u'n')}));
}

TEST(Registry, TypedValuesAndSystemErrors)
{
    TScratchDir dir;
    WriteBytes(dir.File("reg.ini"),
               "[HKEY_LOCAL_MACHINE\\Software\\Test]\n"
               "Text=C:\\Program Files\n"
               "Url=http://x\n"
               "Count=dword:0x10\n"
               "Blob=hex:41,42,43\n"
               "Many=multi_sz:a,b\n");
    qputenv("ZEMBO_REGISTRY", dir.File("reg.ini").toLocal8Bit());
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly(THKey::LocalMachine, "\\software\\test"));
    EXPECT_EQ(reg.ReadString("Text"), "C:\\Program Files");
    EXPECT_EQ(reg.ReadString("Url"), "http://x");
    EXPECT_EQ(reg.ReadInteger("Count"), 16);
    EXPECT_EQ(reg.ReadBinaryData("Blob"), "ABC");
    EXPECT_EQ(reg.GetDataType("Many"), rdUnknown);
    EXPECT_EQ(reg.GetDataType("Missing"), rdUnknown);
    EXPECT_FALSE(reg.OpenKeyReadOnly(THKey::LocalMachine, "\\Software\\Other"));
    EXPECT_EQ(reg.LastError(), osErrorFileNotFound);
    qputenv("ZEMBO_REGISTRY", dir.File("none.ini").toLocal8Bit());
    EXPECT_FALSE(reg.OpenKeyReadOnly(THKey::LocalMachine, "\\Software\\Test"));
    qunsetenv("ZEMBO_REGISTRY");
    EXPECT_EQ(SysErrorMessage(osErrorRegistryIo), "The configuration registry key could not be read.");
}

TEST(Shell, CommandLineWithUnquotedProgramPathHoldingBlanks)
{
    TScratchDir dir;
    QDir(dir.Path()).mkpath("Program Files/winrar");
    const QString exe = dir.File("Program Files/winrar/WinRAR.exe");
    WriteBytes(exe, "#!/bin/sh\n");
    const QStringList parts =
        SplitCommandLine(dir.Path() + "/Program Files/winrar/WinRAR.exe x -o+ Quendarive.rar *.exe \".\\\"", dir.Path());
    EXPECT_EQ(parts, QStringList({exe, "x", "-o+", "Quendarive.rar", "*.exe", ".\\"}));
    EXPECT_TRUE(SplitCommandLine(dir.Path() + "/nothing here", dir.Path()).isEmpty());

    QStringList seen;
    SetProcessStartFunction([&](const QString& line, const QString& folder) {
        seen << line << folder;
        return true;
    });
    EXPECT_TRUE(StartProcess("prog a", "/w"));
    SetProcessStartFunction({});
    EXPECT_EQ(seen, QStringList({"prog a", "/w"}));
}

TEST(Locale, FormatsFollowTheUserLocale)
{
    const TDateTime t = At(2024, 3, 8, 14, 5, 9);
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    EXPECT_EQ(DateToStr(t), "08/03/2024");
    EXPECT_EQ(TimeToStr(t), "14:05:09");
    EXPECT_EQ(ThousandSeparator(), u'.');
    EXPECT_EQ(DecimalSeparator(), u',');
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_TRUE(DateToStr(t).contains(u'.'));
    EXPECT_FALSE(LongTimeFormat().contains(u't'));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QStringList list {"b", "A", "a", "C"};
    SortTextLocale(list);
    EXPECT_EQ(list.mid(2), QStringList({"b", "C"}));
    EXPECT_EQ(CompareTextLocale("abc", "ABC"), 0);
    QLocale::setDefault(QLocale::system());
}

// The lock is the system's, on the file itself: whatever the file holds
// (empty, left by a killed process) it is free when nobody holds it; a link
// in its place is removed, never followed; a second holder is refused until
// the first lets go.
TEST(FileLock, FreeUnlessHeldAndNeverThroughALink)
{
    TScratchDir dir, elsewhere;
    const QString path = dir.File("zembo-update.lock");
    WriteBytes(path, "");
    {
        TFileLock first(path), second(path);
        ASSERT_TRUE(first.TryLock()) << first.Error().toStdString();
        EXPECT_TRUE(first.TryLock());
        EXPECT_FALSE(second.TryLock());
        EXPECT_EQ(second.Error(), "");
        first.Unlock();
        EXPECT_TRUE(second.TryLock());
    }
    EXPECT_TRUE(QFileInfo::exists(path)); // kept: another process may be opening it

    for (const QString& target : {elsewhere.File("alvo"), elsewhere.File("existente")}) {
        SCOPED_TRACE(target.toStdString());
        WriteBytes(elsewhere.File("existente"), "de outro");
        QFile::remove(path);
        ASSERT_TRUE(QFile::link(target, path));
        TFileLock lock(path);
        EXPECT_TRUE(lock.TryLock()) << lock.Error().toStdString();
        EXPECT_FALSE(QFileInfo(path).isSymLink());
        EXPECT_FALSE(QFileInfo::exists(elsewhere.File("alvo")));
        EXPECT_EQ(ReadBytes(elsewhere.File("existente")), "de outro");
    }

    QFile::remove(path);
    QDir().mkdir(path);
    TFileLock folder(path);
    EXPECT_FALSE(folder.TryLock());
    EXPECT_NE(folder.Error(), "");
}

// The rules each caller depends on: the catalogue's script text and the
// listing (default), the settings files (LF only), the captions (last empty).
TEST(Text, LineSplittingRules)
{
    EXPECT_EQ(SplitLines(u"a\r\nb\nc\rd\n\n"), QStringList({"a", "b", "c", "d", ""}));
    EXPECT_EQ(SplitLines(u"a\r\n"), QStringList{"a"});
    EXPECT_TRUE(SplitLines(u"").isEmpty());
    EXPECT_EQ(SplitLines(u"a\rb\r\r\nc\r", lsLineFeedOnly), QStringList({"a\rb\r", "c"}));
    EXPECT_EQ(SplitLines(u"a\r\nb\n", lsKeepLastEmpty), QStringList({"a", "b", ""}));
    EXPECT_EQ(SplitLines(u"", lsKeepLastEmpty), QStringList{""});
}

// What a terminal would obey (ESC, BEL, DEL, the C1 codes) is shown as an
// escape; line breaks are escaped too, or become the caller's separator.
TEST(Text, EveryControlCharacterEscaped)
{
    const QString name = QString::fromUtf8("a\x1b[1A\x1b[2Kb\x07" "c\x7f\x01\tç\\") + QChar(0x9B) + QChar(0xA0);
    EXPECT_EQ(EscapeControls(name), QString::fromUtf8("a\\x1B[1A\\x1B[2Kb\\x07c\\x7F\\x01\\tç\\") + "\\x9B" + QChar(0xA0));
    EXPECT_EQ(EscapeControls(u"um\r\ndois\rtrês\nquatro\r\r\x1b"), QString::fromUtf8("um\\r\\ndois\\rtrês\\nquatro\\r\\r\\x1B"));
    EXPECT_EQ(EscapeControls(u"um\r\ndois\rtrês\nquatro\r\r\x1b", u" / "),
              QString::fromUtf8("um / dois / três / quatro /  / \\x1B"));
    EXPECT_EQ(EscapeControls(u"sem nada", u"\n"), "sem nada");
}

TEST(Text, TrimAndCompare)
{
    EXPECT_EQ(TrimControl(u"\t\x01 a\tb\x7f\x1f\r\n "), QString("a\tb\x7f"));
    EXPECT_EQ(TrimControl(u" \r\n"), "");
    EXPECT_TRUE(SameText(u"End;", "END;"));
    EXPECT_FALSE(SameText(u"END", "END;"));
}
