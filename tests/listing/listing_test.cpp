#include "tests/support/testenv.h"
#include "ftp/listing/ftplist.h"
#include "ftp/listing/parsers.h"
#include "platform/errors.h"

#include <gtest/gtest.h>

inline void PrintTo(const TDateTime& t, std::ostream* os)
{
    *os << t.ToQDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toStdString();
}

namespace {

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    return TDateTime(EncodeDate(y, mo, d).Value() + EncodeTime(h, mi, s, ms).Value());
}

const TDateTime Noon10March2025 = At(2025, 3, 10, 12);

struct TParsed {
    TIdFTPListItems Items;
    QString Format;
    const TIdFTPListItem& operator[](int i) const { return Items.Items(i); }
    const TIdUnixFTPListItem& Unix(int i) const { return dynamic_cast<const TIdUnixFTPListItem&>(Items.Items(i)); }
};

std::unique_ptr<TParsed> Parse(const QStringList& lines, TDateTime now = Noon10March2025,
                               const QString& syst = QStringLiteral("UNIX Type: L8"))
{
    auto p = std::make_unique<TParsed>();
    ParseFTPListing(lines, syst, true, p->Items, p->Format, now);
    return p;
}

const QStringList UnixListing = {
    "total 24",
    "drwxr-xr-x   2 joe  staff      4096 Mar  5 10:00 docs",
    "-rw-r--r--   1 joe  staff     12345 Jan 15  2023 old.txt",
    "lrwxrwxrwx   1 joe  staff        11 Mar  1 09:30 link -> docs/",
};
const QStringList NTListing = {
    "03-05-25  10:00PM       <DIR>          my docs",
    "03-05-25  12:15AM                1,234 report.txt",
};

} // namespace

TEST(ListingDetection, UnixAfterTotalLineAndBanners)
{
    auto p = Parse(UnixListing + QStringList{"", "./docs:", "total 4", "-rw-r--r-- 1 joe staff 5 Mar  6 11:00 a.txt"});
    EXPECT_EQ(p->Format, "Unix");
    ASSERT_EQ(p->Items.Count(), 4);
    EXPECT_EQ(p->Items.Items(0).FileName(), "docs");
    EXPECT_EQ(p->Items.Items(3).FileName(), "docs/a.txt");
    EXPECT_EQ(p->Items.Items(3).LocalFileName(), "a.txt");
}

TEST(ListingDetection, NTWithBannersEmptyAndUnknown)
{
    auto p = Parse(QStringList{"sub:"} + NTListing, Noon10March2025, "Windows_NT");
    EXPECT_EQ(p->Format, "Windows NT");
    ASSERT_EQ(p->Items.Count(), 2);
    EXPECT_EQ((*p)[1].FileName(), "sub\\report.txt");
    EXPECT_EQ((*p)[1].LocalFileName(), "report.txt");

    auto empty = Parse({});
    EXPECT_EQ(empty->Format, "");
    EXPECT_EQ(empty->Items.Count(), 0);
    auto unknown = Parse({"this is no listing", "at all"});
    EXPECT_EQ(unknown->Format, "");
    EXPECT_EQ(unknown->Items.Count(), 0);
}

TEST(ListingDetection, RegistryOrderAndTellingTests)
{
    const auto& parsers = ftplist::ListParsers();
    ASSERT_EQ(parsers.size(), 53u);
    EXPECT_EQ(parsers[0]->Ident(), "NLST");
    EXPECT_EQ(parsers[8]->Ident(), "EPLF");
    EXPECT_EQ(parsers[28]->Ident(), "CONNECT:Enterprise for UNIX$$");
    EXPECT_EQ(parsers[36]->Ident(), "Unix");
    EXPECT_EQ(parsers[50]->Ident(), "Windows NT");
    EXPECT_EQ(parsers[52]->Ident(), "Xercom Micro RTOS");

    TIdFTPListItems items;
    QString format;
    ParseFTPListing({"a.txt", "b c.txt"}, "UNIX", false, items, format);
    EXPECT_EQ(format, "NLST");
    ASSERT_EQ(items.Count(), 2);
    EXPECT_EQ(items.Items(1).FileName(), "b c.txt");

    EXPECT_FALSE(ftplist::FindListParser("MLST")->Recognise({"type=file;size=1; a"}, "", true));
    EXPECT_EQ(Parse(UnixListing, Noon10March2025, "cisco ios software")->Format, "Cisco IOS");
    EXPECT_EQ(Parse(UnixListing, Noon10March2025, "MAC NCSA")->Format, "NCSA for MACOS");
    EXPECT_EQ(Parse(UnixListing, Noon10March2025, " MAC-OS TCP/Connect II")->Format, "NCSA for MACOS");
    EXPECT_EQ(Parse({"Volume Unit    Referred Ext Used Recfm Lrecl BlkSz Dsorg Dsname"})->Format, "MVS");
    EXPECT_EQ(Parse({"", "------", "  size          date       time       name"})->Format, "Wind River VxWorks");
}

TEST(ListingDetection, EveryOtherParserRejectsUnixAndNTListings)
{
    const QStringList unixWithInodes = {"1234  8 -rw-r--r-- 1 joe staff 10 Mar  5 10:00 a"};
    for (const ftplist::TIdFTPListParser* parser : ftplist::ListParsers()) {
        const QString ident = parser->Ident();
        for (const QString& syst : {QStringLiteral("UNIX Type: L8"), QStringLiteral("Windows_NT"), QString(),
                                    QStringLiteral("VSE"), QStringLiteral("NETWARE"), QStringLiteral("GCOS7")}) {
            if (ident != "Unix" && ident != "Unitree") {
                EXPECT_FALSE(parser->Recognise(UnixListing, syst, true)) << qPrintable(ident);
                EXPECT_FALSE(parser->Recognise(unixWithInodes, syst, true)) << qPrintable(ident);
            }
            if (ident != "Windows NT") {
                EXPECT_FALSE(parser->Recognise(NTListing, syst, true)) << qPrintable(ident);
            }
        }
    }
}

TEST(ListingDetection, EplfYieldsItems)
{
    auto p = Parse({"+i8388621.29609,m824255902,/,\tdev", "+i8388621.44468,m839956783,r,s10376,\tRFCEPLF"});
    EXPECT_EQ(p->Format, "EPLF");
    ASSERT_EQ(p->Items.Count(), 2);
    EXPECT_EQ((*p)[0].ItemType(), ditDirectory);
    EXPECT_FALSE((*p)[0].SizeAvail());
    EXPECT_EQ((*p)[1].FileName(), "RFCEPLF");
    EXPECT_EQ((*p)[1].LocalFileName(), "rfceplf");
    EXPECT_EQ((*p)[1].Size(), 10376);
    EXPECT_EQ((*p)[1].ModifiedDate(), TDateTime::FromQDateTime(QDateTime::fromSecsSinceEpoch(839956783)));
}

TEST(UnixFields, ColumnsTypesAndLinks)
{
    auto p = Parse({
        "12345 8 -rw-r-----   3 joe  staff   100 Mar  5 10:00 inode.txt",
        "crw-rw-rw-   1 root root    1,   3 Jan  1 12:00 null",
        "brw-rw----   1 root disk    8,0 Jan  1 12:00 sda",
        "lrwxrwxrwx   1 joe  staff     4 Mar  1 09:30 up -> ../",
        "lrwxrwxrwx   1 joe  staff     4 Mar  1 09:30 plain -> target",
        "lrwxrwxrwx   1 joe  staff     4 Mar  1 09:30 noarrow",
        "-rw-r--r--   1 joe  200 Mar  5 10:00 shifted.txt",
        "-rw-r--r--   1 joe  Domain Users  300 Mar  5 10:00 spaced.txt",
        "drwxr-xr-x folder        0 Mar  5 10:00 Mac Folder",
        "-rw-r--r--   1    400 Mar  5 10:00 noowner",
        "-rw-r--r-- 0joe staff 400 Mar  5 10:00 zero",
        "prw-r--r--   1 joe  staff     0 Mar  5 10:00 fifo|",
        "srwxr-xr-x   1 joe  staff     0 Mar  5 10:00 sock=",
        "-rwxr-xr-x   1 joe  staff    50 Mar  5 10:00 run.sh*",
    });
    ASSERT_EQ(p->Items.Count(), 14);
    EXPECT_EQ(p->Unix(0).Inode(), 12345);
    EXPECT_EQ(p->Unix(0).NumberBlocks(), 8);
    EXPECT_EQ(p->Unix(0).LinkCount(), 3);
    EXPECT_EQ(p->Unix(0).OwnerPermissions(), "rw-");
    EXPECT_EQ(p->Unix(0).GroupPermissions(), "r--");
    EXPECT_EQ(p->Unix(0).OtherPermissions(), "---");
    EXPECT_EQ(p->Unix(0).Size(), 100);
    EXPECT_EQ(p->Unix(1).ItemType(), ditCharDev);
    EXPECT_EQ(p->Unix(1).Size(), 0);
    EXPECT_EQ(p->Unix(1).FileName(), "null");
    // A compact "major,minor" must not swallow the month.
    EXPECT_EQ(p->Unix(2).ItemType(), ditBlockDev);
    EXPECT_EQ(p->Unix(2).ModifiedDate(), At(2025, 1, 1, 12, 0, 0, 999));
    EXPECT_EQ(p->Unix(3).ItemType(), ditSymbolicLinkDir);
    EXPECT_EQ(p->Unix(3).FileName(), "up");
    EXPECT_EQ(p->Unix(3).LinkedItemName(), "..");
    EXPECT_EQ(p->Unix(4).ItemType(), ditSymbolicLink);
    EXPECT_EQ(p->Unix(4).LinkedItemName(), "target");
    EXPECT_EQ(p->Unix(5).FileName(), "noarrow");
    EXPECT_EQ(p->Unix(5).LinkedItemName(), "");
    EXPECT_EQ(p->Unix(6).Size(), 200);
    EXPECT_EQ(p->Unix(6).OwnerName(), "");
    EXPECT_EQ(p->Unix(6).GroupName(), "joe");
    EXPECT_EQ(p->Unix(7).Size(), 300);
    EXPECT_EQ(p->Unix(7).OwnerName(), "joe");
    EXPECT_EQ(p->Unix(7).GroupName(), "Domain Users");
    EXPECT_EQ(p->Unix(7).FileName(), "spaced.txt");
    EXPECT_EQ(p->Unix(8).ItemType(), ditDirectory);
    EXPECT_EQ(p->Unix(8).FileName(), "Mac Folder");
    EXPECT_EQ(p->Unix(8).OwnerName(), "");
    EXPECT_EQ(p->Unix(9).Size(), 400);
    EXPECT_EQ(p->Unix(9).OwnerName(), "");
    EXPECT_EQ(p->Unix(9).FileName(), "noowner");
    EXPECT_EQ(p->Unix(10).LinkCount(), 0);
    EXPECT_EQ(p->Unix(10).OwnerName(), "joe");
    EXPECT_EQ(p->Unix(10).Size(), 400);
    EXPECT_EQ(p->Unix(11).ItemType(), ditFIFO);
    EXPECT_EQ(p->Unix(12).ItemType(), ditSocket);
    EXPECT_EQ(p->Unix(13).FileName(), "run.sh");
}

TEST(UnixDates, EveryForm)
{
    auto p = Parse({
        "-rw-r--r-- 1 u g 1 Mar  5 10:00 a",
        "-rw-r--r-- 1 u g 1 Mar  5 10:00:30 b",
        "-rw-r--r-- 1 u g 1 Mar  5 10:00:30:250 c",
        "-rw-r--r-- 1 u g 1 Mar  5  2021 d",
        "-rw-r--r-- 1 u g 1 5 Mar 2021 e",
        "-rw-r--r-- 1 u g 1 5. Mär. 10:00 f",
        "-rw-r--r-- 1 u g 1 2021-02-03 g",
        "-rw-r--r-- 1 u g 1 2021-02-03 10:00 h",
        "-rw-r--r-- 1 u g 1 03/25/2021 i",
        "-rw-r--r-- 1 u g 1 2021.02.03 j",
        "-rw-r--r-- 1 u g 1 3\u6708 5\u65E5 10:00 k",
        "-rw-r--r-- 1 u g 1 2021\u5E743\u67085\u65E5 l",
        "-rw-r--r-- 1 u g 1 3\uC6D4 5\uC77C 10:00 m",
        "-rw-r--r-- 1 u g 1 Mar  5 10:00:30 2020 n",
        "-rw-r--r-- 1 u g 1 Okt  5 2020 o",
        "-rw-r--r-- 1 u g 1 Mar  5 10:00   spaced  ",
        "-rw-r--r-- 1 u g 1 Mar  5  2021   old  spaced",
        "-rw-r--r-- 1 u g 1 Mar  5 10:00 \u65E5\u8BB0 \u5E74.txt",
    });
    ASSERT_EQ(p->Items.Count(), 18);
    EXPECT_EQ(p->Unix(0).ModifiedDate(), At(2025, 3, 5, 10, 0, 0, 999));
    EXPECT_EQ(p->Unix(1).ModifiedDate(), At(2025, 3, 5, 10, 0, 30, 999));
    EXPECT_EQ(p->Unix(2).ModifiedDate(), At(2025, 3, 5, 10, 0, 30, 250));
    EXPECT_EQ(p->Unix(3).ModifiedDate(), At(2021, 3, 5, 0, 0, 0, 999));
    EXPECT_EQ(p->Unix(4).ModifiedDate(), At(2021, 3, 5, 0, 0, 0, 999));
    EXPECT_EQ(p->Unix(5).FileName(), "f");
    EXPECT_EQ(p->Unix(6).ModifiedDate(), At(2021, 2, 3, 0, 0, 0, 999));
    // A year written before the time is kept, not inferred.
    EXPECT_EQ(p->Unix(7).ModifiedDate(), At(2021, 2, 3, 10, 0, 0, 999));
    EXPECT_EQ(p->Unix(8).ModifiedDate(), At(2021, 3, 25, 0, 0, 0, 999));
    EXPECT_EQ(p->Unix(9).ModifiedDate(), At(2021, 2, 3, 12, 0, 0, 0));
    EXPECT_EQ(p->Unix(10).ModifiedDate(), At(2025, 3, 5, 10, 0, 0, 999));
    EXPECT_EQ(p->Unix(10).FileName(), "k");
    EXPECT_EQ(p->Unix(11).ModifiedDate(), At(2021, 3, 5, 0, 0, 0, 999));
    EXPECT_EQ(p->Unix(11).FileName(), "l");
    EXPECT_EQ(p->Unix(12).ModifiedDate(), At(2025, 3, 5, 10, 0, 0, 999));
    EXPECT_EQ(p->Unix(13).ModifiedDate(), At(2020, 3, 5, 10, 0, 30, 999));
    EXPECT_EQ(p->Unix(14).ModifiedDate(), At(2020, 10, 5, 0, 0, 0, 999));
    EXPECT_EQ(p->Unix(15).FileName(), "  spaced  ");
    EXPECT_EQ(p->Unix(16).FileName(), "  old  spaced");
    // CJK date characters inside a name are part of the name.
    EXPECT_EQ(p->Unix(17).FileName(), "\u65E5\u8BB0 \u5E74.txt");
    EXPECT_EQ(p->Unix(17).ModifiedDate(), At(2025, 3, 5, 10, 0, 0, 999));
}

TEST(UnixDates, YearInferenceAndCorrection)
{
    auto p = Parse({
        "-rw-r--r-- 1 u g 1 Mar  5 10:00 a",
        "-rw-r--r-- 1 u g 1 Mar 12 10:00 b",
        "-rw-r--r-- 1 u g 1 Mar 18 10:00 c",
        "-rw-r--r-- 1 u g 1 Mar 11 23:00 d",
        // An old file in the usual ls form keeps its written year.
        "-rw-r--r-- 1 u g 1 Mar  9  2024 e",
        "-rw-r--r-- 1 u g 1 Mar 09  2024 f",
    });
    EXPECT_EQ(p->Unix(0).ModifiedDate(), At(2025, 3, 5, 10, 0, 0, 999));
    EXPECT_EQ(p->Unix(1).ModifiedDate(), At(2025, 3, 12, 10, 0, 0, 999));
    EXPECT_EQ(p->Unix(2).ModifiedDate(), At(2024, 3, 18, 10, 0, 0, 999));
    EXPECT_EQ(p->Unix(3).ModifiedDate(), At(2025, 3, 11, 23, 0, 0, 999));
    EXPECT_EQ(p->Unix(4).ModifiedDate(), At(2024, 3, 9, 0, 0, 0, 999));
    EXPECT_EQ(p->Unix(5).ModifiedDate(), At(2024, 3, 9, 0, 0, 0, 999));

    // 29 February listed in a year that has none.
    auto leap = Parse({"-rw-r--r-- 1 u g 1 Feb 29 10:00 a"}, At(2025, 3, 10, 12));
    EXPECT_EQ(leap->Unix(0).ModifiedDate(), At(2025, 2, 28, 10, 0, 0, 999));
    auto leapYear = Parse({"-rw-r--r-- 1 u g 1 Feb 29 10:00 a"}, At(2024, 3, 10, 12));
    EXPECT_EQ(leapYear->Unix(0).ModifiedDate(), At(2024, 2, 29, 10, 0, 0, 999));
}

TEST(UnixFailures, KeepItemsMadeBefore)
{
    struct {
        const char* line;
        const char* message;
    } cases[] = {
        {"-rw-r--r-- 1 u g 1 x\u5E743\u67085\u65E5 a", "'x' is not a valid integer value"},
        {"-rw-r--r-- 1 u g 1 2021.02.x a", "'x' is not a valid integer value"},
        {"-rw-r--r-- 1 u g 1 Mar 32 2021 a", "Invalid argument to date encode"},
        {"-rw-r--r-- 1 u g 1 Mar  5 25:00 a", "Invalid argument to time encode"},
    };
    for (const auto& c : cases) {
        TIdFTPListItems items;
        QString format;
        try {
            ParseFTPListing({"total 2", "-rw-r--r-- 1 u g 1 Mar  5 10:00 good", QString::fromUtf8(c.line),
                             "-rw-r--r-- 1 u g 1 Mar  5 10:00 after"},
                            "UNIX", true, items, format, Noon10March2025);
            ADD_FAILURE() << c.line;
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
        EXPECT_EQ(format, "Unix");
        ASSERT_EQ(items.Count(), 2) << c.line;
        EXPECT_EQ(items.Items(0).FileName(), "good");
    }
}

TEST(UnixNames, LocalFileNameAndSubDirectories)
{
    auto p = Parse({"-rw-r--r-- 1 u g 1 Mar  5 10:00 README.TXT", "-rw-r--r-- 1 u g 1 Mar  5 10:00 MixedCase.Txt",
                    "", "/pub/sub:", "-rw-r--r-- 1 u g 1 Mar  5 10:00 DATA.BIN", "./a:", "-rw-r--r-- 1 u g 1 Mar  5 10:00 x",
                    "   ", "-rw-r--r-- 1 u g 1 Mar  5 10:00 dir/"});
    ASSERT_EQ(p->Items.Count(), 5);
    EXPECT_EQ(p->Unix(0).LocalFileName(), "readme.txt");
    EXPECT_EQ(p->Unix(1).LocalFileName(), "MixedCase.Txt");
    EXPECT_EQ(p->Unix(2).FileName(), "/pub/sub/DATA.BIN");
    EXPECT_EQ(p->Unix(2).LocalFileName(), "DATA.BIN");
    EXPECT_EQ(p->Unix(3).FileName(), "a/x");
    EXPECT_EQ(p->Unix(4).FileName(), "a/dir");

    TIdFTPListItem item;
    item.SetFileName("ABC");
    EXPECT_EQ(item.LocalFileName(), "abc");
    item.SetFileName("DEF");
    EXPECT_EQ(item.LocalFileName(), "def");
    item.SetLocalFileName("mine");
    item.SetFileName("GHI");
    EXPECT_EQ(item.LocalFileName(), "mine");
}

TEST(WindowsNT, DatesTimesSizesAndNames)
{
    auto p = Parse({
        "03-05-25  10:00PM       <DIR>          my docs",
        "03-05-25  12:15AM                1,234 report.txt",
        "03-05-09  12:30PM                   10  two  blanks.txt   ",
        "2025-03-05  10:00                  20 yearfirst.txt",
        "03-05-99  12:30 PM                 30 pmword.txt",
        "03-05-25  12:30 AM                 30 amword.txt",
        "13-05-25  10:00AM                  40 badmonth.txt",
        "03-05-25  10:00AM       <DIR>          ",
        "03-05-25  10:00AM       <DIR>     short",
        "03-05-25  10:00AM       <DIR>                   wide",
    }, Noon10March2025, "Windows_NT");
    EXPECT_EQ(p->Format, "Windows NT");
    ASSERT_EQ(p->Items.Count(), 10);
    EXPECT_EQ((*p)[0].ItemType(), ditDirectory);
    EXPECT_FALSE((*p)[0].SizeAvail());
    EXPECT_EQ((*p)[0].Size(), 0);
    EXPECT_EQ((*p)[0].FileName(), "my docs");
    EXPECT_EQ((*p)[0].ModifiedDate(), At(2025, 3, 5, 22, 0));
    EXPECT_EQ((*p)[1].ModifiedDate(), At(2025, 3, 5, 0, 15));
    EXPECT_EQ((*p)[1].Size(), 1234);
    EXPECT_EQ((*p)[2].ModifiedDate(), At(2009, 3, 5, 12, 30));
    EXPECT_EQ((*p)[2].FileName(), " two  blanks.txt");
    EXPECT_EQ((*p)[3].ModifiedDate(), At(2025, 3, 5, 10, 0));
    EXPECT_EQ((*p)[3].FileName(), "yearfirst.txt");
    EXPECT_EQ((*p)[4].ModifiedDate(), At(1999, 3, 5, 12, 30));
    EXPECT_EQ((*p)[4].Size(), 30);
    EXPECT_EQ((*p)[5].ModifiedDate(), At(2025, 3, 5, 0, 30));
    EXPECT_EQ((*p)[6].ModifiedDate(), TDateTime());
    EXPECT_EQ((*p)[6].FileName(), "badmonth.txt");
    EXPECT_EQ((*p)[7].FileName(), "");
    EXPECT_EQ((*p)[8].FileName(), "    short");
    EXPECT_EQ((*p)[9].FileName(), " wide");
}
