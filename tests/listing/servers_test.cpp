// Listings of real servers, fetched with curl, read back against the files
// the test made.
#include "ftp/listing/ftplist.h"
#include "tests/support/testenv.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QUuid>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

struct TServer {
    const char* Name;
    const char* Port;
    const char* Root;
    const char* User;
    const char* Password;
};

const TServer Servers[] = {
    {"pyftpdlib", "ZEMBO_PYFTPD_PORT", "ZEMBO_PYFTPD_ROOT", "ZEMBO_FTP_USER", "ZEMBO_FTP_PASSWORD"},
    {"vsftpd", "ZEMBO_VSFTPD_PORT", "ZEMBO_VSFTPD_ROOT", "ZEMBO_VSFTPD_USER", "ZEMBO_VSFTPD_PASSWORD"},
};

QString OptionalEnv(const char* name)
{
    return qEnvironmentVariable(name);
}

QByteArray FetchList(const TServer& server, const QString& folder)
{
    QProcess curl;
    const QString url = QStringLiteral("ftp://127.0.0.1:%1/%2/").arg(ServiceEnv(server.Port), folder);
    curl.start(QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("--max-time"), QStringLiteral("20"),
                                        QStringLiteral("--user"),
                                        ServiceEnv(server.User) + u':' + OptionalEnv(server.Password), url});
    EXPECT_TRUE(curl.waitForFinished(30000));
    EXPECT_EQ(curl.exitCode(), 0) << curl.readAllStandardError().constData();
    return curl.readAllStandardOutput();
}

// The servers show times in UTC; so does this comparison.
TDateTime Utc(const QDateTime& t)
{
    const QDateTime u = t.toUTC();
    return TDateTime(EncodeDate(u.date().year(), u.date().month(), u.date().day()).Value()
                     + EncodeTime(u.time().hour(), u.time().minute(), 0, 999).Value());
}

void WriteFile(const QString& path, int size, const QDateTime& time)
{
    WriteBytes(path, QByteArray(size, 'x'));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(time, QFileDevice::FileModificationTime));
}

void PrintTo(const TServer& server, std::ostream* os)
{
    *os << server.Name;
}

class ServerListing : public testing::TestWithParam<TServer> {};

} // namespace

TEST_P(ServerListing, ReadsWhatTheTestMade)
{
    const TServer& server = GetParam();
    const QString folder = QStringLiteral("ls-") + QUuid::createUuid().toString(QUuid::Id128);
    const QString dir = ServiceEnv(server.Root) + u'/' + folder;
    ASSERT_TRUE(QDir().mkpath(dir + QStringLiteral("/folder")));
    const QDateTime recent = QDateTime::currentDateTimeUtc().addSecs(-3600);
    const QDateTime old(QDate(2019, 6, 15), QTime(12, 0), Qt::UTC);
    WriteFile(dir + QStringLiteral("/plain.txt"), 123, recent);
    WriteFile(dir + QStringLiteral("/name with blanks.txt"), 7, recent);
    WriteFile(dir + QStringLiteral("/old.bin"), 4096, old);
    std::filesystem::create_symlink("plain.txt", (dir + QStringLiteral("/link")).toStdString());

    const QStringList lines = SplitListingLines(QString::fromLatin1(FetchList(server, folder)));
    TIdFTPListItems items;
    QString format;
    ParseFTPListing(lines, QStringLiteral("UNIX Type: L8"), true, items, format,
                    Utc(QDateTime::currentDateTimeUtc()));
    QDir(dir).removeRecursively();

    EXPECT_EQ(format, "Unix") << qPrintable(lines.join(u'\n'));
    std::map<QString, const TIdFTPListItem*> byName;
    for (int i = 0; i < items.Count(); ++i)
        byName[items.Items(i).FileName()] = &items.Items(i);
    ASSERT_EQ(byName.size(), 5u) << qPrintable(lines.join(u'\n'));

    const TIdFTPListItem* plain = byName["plain.txt"];
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->ItemType(), ditFile);
    EXPECT_EQ(plain->Size(), 123);
    EXPECT_EQ(plain->ModifiedDate(), Utc(recent));
    const TIdFTPListItem* blanks = byName["name with blanks.txt"];
    ASSERT_TRUE(blanks);
    EXPECT_EQ(blanks->Size(), 7);
    const TIdFTPListItem* oldFile = byName["old.bin"];
    ASSERT_TRUE(oldFile);
    EXPECT_EQ(oldFile->Size(), 4096);
    EXPECT_EQ(oldFile->ModifiedDate(), TDateTime(EncodeDate(2019, 6, 15).Value() + EncodeTime(0, 0, 0, 999).Value()));
    ASSERT_TRUE(byName["folder"]);
    EXPECT_EQ(byName["folder"]->ItemType(), ditDirectory);
    const auto* link = dynamic_cast<const TIdUnixFTPListItem*>(byName["link"]);
    ASSERT_TRUE(link);
    EXPECT_EQ(link->ItemType(), ditSymbolicLink);
    EXPECT_EQ(link->LinkedItemName(), "plain.txt");
}

INSTANTIATE_TEST_SUITE_P(Servers, ServerListing, testing::ValuesIn(Servers),
                         [](const testing::TestParamInfo<TServer>& info) { return std::string(info.param.Name); });
