// The client against the real pyftpdlib and vsftpd on 127.0.0.1, passive
// and active.
#include "ftp/idftp.h"
#include "ftp/listing/ftplist.h"
#include "tests/support/testenv.h"

#include <QBuffer>
#include <QDir>
#include <gtest/gtest.h>

namespace {

constexpr int Block = 32768;

struct TServer {
    const char* Name;
    bool Passive;
};

QByteArray Pattern(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xFF);
    return bytes;
}

const QString CedillaName = QStringLiteral("pre\u00e7o.txt");

class FtpServers : public ::testing::TestWithParam<TServer> {
protected:
    static void SetUpTestSuite()
    {
        for (const char* root : {"ZEMBO_PYFTPD_ROOT", "ZEMBO_VSFTPD_ROOT"}) {
            const QString dir = ServiceEnv(root) + QStringLiteral("/ftptest");
            WriteBytes(dir + "/empty.bin", QByteArray());
            WriteBytes(dir + "/small.txt", "hello, server\r\n");
            WriteBytes(dir + "/blocks3plus.bin", Pattern(3 * Block + 1000));
            WriteBytes(dir + "/blocks3.bin", Pattern(3 * Block));
            WriteBytes(dir + "/" + CedillaName, "cedilla");
        }
    }

    bool IsPyftpd() const { return QByteArray(GetParam().Name) == "pyftpd"; }

    void SetUp() override
    {
        FFtp.Host = QStringLiteral("127.0.0.1");
        FFtp.Passive = GetParam().Passive;
        FFtp.ReadTimeout = 10000;
        FFtp.TransferTimeout = 10000;
        if (IsPyftpd()) {
            FFtp.Port = ServiceEnv("ZEMBO_PYFTPD_PORT").toUShort();
            FFtp.Username = ServiceEnv("ZEMBO_FTP_USER");
            FFtp.Password = ServiceEnv("ZEMBO_FTP_PASSWORD");
        } else {
            FFtp.Port = ServiceEnv("ZEMBO_VSFTPD_PORT").toUShort();
            FFtp.Username = ServiceEnv("ZEMBO_VSFTPD_USER");
            FFtp.Password = qEnvironmentVariable("ZEMBO_VSFTPD_PASSWORD");
        }
        FFtp.Connect();
        FFtp.SetTransferType(ftBinary);
        FFtp.ChangeDir(QStringLiteral("ftptest"));
    }
    void TearDown() override { FFtp.Disconnect(); }

    TIdFTP FFtp;
    TScratchDir FDir;
};

} // namespace

TEST_P(FtpServers, LoginFeaturesAndListing)
{
    EXPECT_TRUE(FFtp.Connected());
    EXPECT_FALSE(FFtp.Capabilities().isEmpty());
    EXPECT_TRUE(FFtp.SupportsFeature("UTF8"));
    EXPECT_TRUE(FFtp.UsingUTF8());
    EXPECT_FALSE(FFtp.SystemDesc().isEmpty());

    QStringList lines;
    FFtp.List(&lines);
    EXPECT_EQ(FFtp.TransferType(), ftBinary);
    EXPECT_EQ(lines, FFtp.ListResult());
    ASSERT_FALSE(lines.filter("small.txt").isEmpty());
    ASSERT_FALSE(lines.filter(CedillaName).isEmpty()) << lines.join('\n').toStdString();

    const TIdFTPListItems& items = FFtp.DirectoryListing();
    EXPECT_EQ(FFtp.DirFormat(), QStringLiteral("Unix"));
    QStringList names;
    for (int i = 0; i < items.Count(); ++i)
        names << items.Items(i).FileName();
    EXPECT_TRUE(names.contains("blocks3.bin"));
    EXPECT_TRUE(names.contains(CedillaName));
}

TEST_P(FtpServers, SizeAndDownloads)
{
    EXPECT_EQ(FFtp.Size("blocks3plus.bin"), 3 * Block + 1000);
    EXPECT_EQ(FFtp.Size(CedillaName), 7);
    EXPECT_EQ(FFtp.Size("missing.bin"), -1);

    for (const char* name : {"empty.bin", "small.txt", "blocks3plus.bin"}) {
        const QString local = FDir.File(name);
        FFtp.Get(name, local, true, false);
        EXPECT_EQ(ReadBytes(local), ReadBytes(ServiceEnv(IsPyftpd() ? "ZEMBO_PYFTPD_ROOT" : "ZEMBO_VSFTPD_ROOT")
                                              + "/ftptest/" + name))
            << name;
    }
    FFtp.Get(CedillaName, FDir.File("c.txt"), true, false);
    EXPECT_EQ(ReadBytes(FDir.File("c.txt")), QByteArray("cedilla"));

    // Overwriting refused without permission, nothing sent.
    EXPECT_THROW(FFtp.Get("small.txt", FDir.File("small.txt"), false, false), EIdFTPFileAlreadyExists);
}

TEST_P(FtpServers, RefusedDownloadLeavesThePreviousFile)
{
    const QString local = FDir.File("keep.bin");
    WriteBytes(local, "the good old copy");
    try {
        FFtp.Get("missing.bin", local, true, false);
        FAIL();
    } catch (const EIdReplyRFCError& e) {
        EXPECT_EQ(e.ErrorCode(), 550);
    }
    EXPECT_EQ(ReadBytes(local), QByteArray("the good old copy"));
    EXPECT_EQ(QDir(FDir.Path()).entryList(QDir::Files), QStringList({"keep.bin"}));
    // The session goes on.
    EXPECT_EQ(FFtp.Size("small.txt"), 15);
}

// The size the caller learnt by SIZE holds the download to it; an abort asked
// for by the progress handler keeps the previous file and ends the session.
TEST_P(FtpServers, ExpectedSizeAndAbort)
{
    const QString local = FDir.File("keep.bin");
    WriteBytes(local, "the good old copy");
    EXPECT_THROW(FFtp.Get("small.txt", local, true, false, 16), EIdFTPSizeMismatch);
    EXPECT_EQ(ReadBytes(local), QByteArray("the good old copy"));
    FFtp.Get("small.txt", local, true, false, FFtp.Size("small.txt"));
    EXPECT_EQ(ReadBytes(local), QByteArray("hello, server\r\n"));

    FFtp.OnWork = [&](TIdBaseComponent*, TWorkMode, std::int64_t) { FFtp.Abort(); };
    EXPECT_THROW(FFtp.Get("blocks3plus.bin", local, true), EIdFTPAborted);
    EXPECT_EQ(ReadBytes(local), QByteArray("hello, server\r\n"));
    EXPECT_FALSE(FFtp.Connected());
    FFtp.OnWork = nullptr;
    FFtp.Connect();
    EXPECT_EQ(FFtp.Size("ftptest/small.txt"), 15);
}

TEST_P(FtpServers, NotificationsOfBlockTransfers)
{
    QStringList events;
    FFtp.OnStatus = [&](TIdBaseComponent*, TIdStatus, const QString& text) { events << text; };
    FFtp.OnWorkBegin = [&](TIdBaseComponent* s, TWorkMode m, std::int64_t n) {
        EXPECT_EQ(s, &FFtp);
        EXPECT_EQ(m, wmRead);
        events << QStringLiteral("begin %1").arg(n);
    };
    FFtp.OnWork = [&](TIdBaseComponent*, TWorkMode, std::int64_t n) { events << QStringLiteral("work %1").arg(n); };
    FFtp.OnWorkEnd = [&](TIdBaseComponent*, TWorkMode) { events << QStringLiteral("end"); };

    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    FFtp.Get("blocks3plus.bin", &sink);
    EXPECT_EQ(events, QStringList({"Starting FTP transfer", "begin 0", "work 32768", "work 65536", "work 98304",
                                   "work 99304", "end", "Transfer complete"}));
    events.clear();
    FFtp.Get("blocks3.bin", &sink);
    EXPECT_EQ(events, QStringList({"Starting FTP transfer", "begin 0", "work 32768", "work 65536", "work 98304",
                                   "end", "Transfer complete"}));
    EXPECT_EQ(sink.size(), 3 * Block + 1000 + 3 * Block);
    FFtp.OnStatus = nullptr; // `events` ends here, the session in TearDown
}

INSTANTIATE_TEST_SUITE_P(Modes, FtpServers,
                         ::testing::Values(TServer{"pyftpd", true}, TServer{"pyftpd", false},
                                           TServer{"vsftpd", true}, TServer{"vsftpd", false}),
                         [](const auto& info) {
                             return std::string(info.param.Name) + (info.param.Passive ? "_passive" : "_active");
                         });
