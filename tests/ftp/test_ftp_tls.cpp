// FTP over TLS against vsftpd (its session-reuse rule on) and pyftpdlib's
// TLS handler with certificates made here by openssl, and resumed downloads
// against a pyftpdlib that cuts the first download off. Each test starts
// the servers it needs on 127.0.0.1.
#include "ftp/idftp.h"
#include "update/partial.h"
#include "tests/support/testenv.h"

#include <QFile>
#include <QProcess>
#include <asio.hpp>
#include <gtest/gtest.h>
#include <thread>

namespace {

const QString TestDir = QStringLiteral(ZEMBO_TEST_SOURCE_DIR);

std::uint16_t FreePort()
{
    asio::io_context context;
    asio::ip::tcp::acceptor acceptor(context, {asio::ip::make_address_v4("127.0.0.1"), 0});
    return acceptor.local_endpoint().port();
}

bool Listening(std::uint16_t port)
{
    asio::io_context context;
    asio::ip::tcp::socket socket(context);
    std::error_code ec;
    socket.connect({asio::ip::make_address_v4("127.0.0.1"), port}, ec);
    return !ec;
}

// The exit code and standard output of a program run to its end.
std::pair<int, QByteArray> RunProgram(const QString& program, const QStringList& arguments)
{
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(60000))
        throw std::runtime_error("did not end: " + program.toStdString());
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput()};
}

// A server process of the test's own, ended with it.
class TServerProcess {
public:
    ~TServerProcess()
    {
        FProcess.kill();
        FProcess.waitForFinished(5000);
    }
    QProcess FProcess;
    std::uint16_t Port = 0;
};

// vsftpd, anonymous login with a password asked for (so a login shows PASS
// in its protocol log). `cert` empty: plain FTP only.
class TVsftpd : public TServerProcess {
public:
    TVsftpd(const TScratchDir& dir, const QString& root, const QString& cert)
    {
        Port = FreePort();
        Log = dir.File(QStringLiteral("vsftpd-%1.log").arg(Port));
        QDir().mkpath(dir.File("empty"));
        QString conf = QStringLiteral("listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=%1\n"
                                      "background=NO\nseccomp_sandbox=NO\nrun_as_launching_user=YES\n"
                                      "secure_chroot_dir=%2\nanonymous_enable=YES\nno_anon_password=NO\n"
                                      "anon_root=%3\nlocal_enable=NO\nlog_ftp_protocol=YES\nxferlog_enable=YES\n"
                                      "xferlog_std_format=NO\nvsftpd_log_file=%4\n")
                           .arg(Port)
                           .arg(dir.File("empty"), root, Log);
        if (!cert.isEmpty())
            conf += QStringLiteral("ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\n"
                                   "force_anon_data_ssl=YES\nrsa_cert_file=%1\n")
                        .arg(cert);
        const QString confFile = dir.File(QStringLiteral("vsftpd-%1.conf").arg(Port));
        WriteBytes(confFile, conf.toUtf8());
        FProcess.start(QStringLiteral("vsftpd"), {confFile});
        for (int i = 0; i < 100 && !Listening(Port); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // The commands the server read, as its protocol log shows them.
    QByteArray Commands() const
    {
        QByteArray commands;
        for (const QByteArray& line : ReadBytes(Log).split('\n'))
            if (line.contains("FTP command:"))
                commands += line.mid(line.indexOf("\", \"") + 4) + "\n";
        return commands;
    }
    QString Log;
};

// pyftpdlib (tests/ftp/pyftpd_server.py) serving root as user "u" / "p".
class TPyftpd : public TServerProcess {
public:
    TPyftpd(const TScratchDir& dir, const QString& root, const QStringList& options)
    {
        Log = dir.File(QStringLiteral("pyftpd.log"));
        FProcess.start(QStringLiteral("/usr/bin/python3"),
                       QStringList{TestDir + "/pyftpd_server.py", "--root", root, "--user", "u", "--password", "p",
                                   "--log", Log}
                           + options);
        if (!FProcess.waitForReadyRead(10000))
            throw std::runtime_error("pyftpdlib did not start");
        Port = FProcess.readLine().trimmed().toUShort();
    }
    // The bytes the server sent for each download, in order.
    QList<qint64> Sent() const
    {
        QList<qint64> sent;
        if (QFile::exists(Log))
            for (const QByteArray& line : ReadBytes(Log).split('\n'))
                if (line.startsWith("RETR "))
                    sent << line.mid(line.lastIndexOf(' ') + 1).toLongLong();
        return sent;
    }
    QString Log;
};

QByteArray Pattern(qint64 size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char((i * 13 + i / 4093 + seed) & 0xFF);
    return bytes;
}

class FtpTls : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        FCerts = new TScratchDir;
        ASSERT_EQ(RunProgram(QStringLiteral("bash"), {TestDir + "/make_test_certs.sh", FCerts->Path()}).first, 0);
        qputenv("ZEMBO_FTP_CA", FCerts->File("ca.pem").toLocal8Bit());
    }
    static void TearDownTestSuite()
    {
        delete FCerts;
        qunsetenv("ZEMBO_FTP_CA");
    }
    void SetUp() override
    {
        FRoot = FDir.File("root");
        WriteBytes(FRoot + "/data.bin", Pattern(300000, 1));
        WriteBytes(FRoot + "/small.txt", "hello, server\r\n");
        QFile::setPermissions(FRoot, QFile::permissions(FRoot) | QFile::ReadOther | QFile::ExeOther);
        QFile::setPermissions(FDir.Path(), QFile::permissions(FDir.Path()) | QFile::ReadOther | QFile::ExeOther);
    }
    static QString Cert(const char* name) { return FCerts->File(QLatin1String(name) + ".both"); }

    static TScratchDir* FCerts;
    TScratchDir FDir;
    QString FRoot;
};
TScratchDir* FtpTls::FCerts = nullptr;

void Login(TIdFTP& ftp, std::uint16_t port, const QString& user, const QString& password)
{
    if (ftp.Host.isEmpty())
        ftp.Host = QStringLiteral("127.0.0.1");
    ftp.Port = port;
    ftp.Username = user;
    ftp.Password = password;
    ftp.UseTLS = utRequireTLS;
    ftp.ReadTimeout = ftp.TransferTimeout = ftp.ConnectTimeout = 10000;
    ftp.Connect();
    ftp.SetTransferType(ftBinary);
}

} // namespace

// vsftpd refuses data connections that do not resume the control
// connection's TLS session: listing and downloads there, in both modes, and
// through pyftpdlib's TLS handler, give the server's bytes.
TEST_F(FtpTls, ListsAndFetchesOverTls)
{
    TVsftpd vsftpd(FDir, FRoot, Cert("good"));
    TPyftpd pyftpd(FDir, FRoot, {"--tls", FCerts->File("good.pem"), FCerts->File("good.key")});
    struct TRow {
        std::uint16_t Port;
        QString User;
        bool Passive;
    };
    for (const TRow& row : {TRow{vsftpd.Port, "anonymous", true}, TRow{vsftpd.Port, "anonymous", false},
                            TRow{pyftpd.Port, "u", true}}) {
        SCOPED_TRACE(testing::Message() << row.Port << (row.Passive ? " passive" : " active"));
        TIdFTP ftp;
        ftp.Passive = row.Passive;
        Login(ftp, row.Port, row.User, "p");
        QStringList lines;
        ftp.List(&lines);
        EXPECT_EQ(lines.filter("data.bin").size(), 1) << lines.join('\n').toStdString();
        ftp.Get("data.bin", FDir.File("got.bin"), true, false, ftp.Size("data.bin"));
        EXPECT_EQ(ReadBytes(FDir.File("got.bin")), ReadBytes(FRoot + "/data.bin"));
        ftp.Disconnect();
    }
    // AUTH TLS before the login, PROT P after it.
    const QByteArray commands = vsftpd.Commands();
    EXPECT_LT(commands.indexOf("AUTH TLS"), commands.indexOf("USER anonymous"));
    EXPECT_LT(commands.indexOf("PASS"), commands.indexOf("PROT P"));
    EXPECT_TRUE(commands.contains("AUTH TLS"))
        << vsftpd.Commands().toStdString();
}

// zembo-ftp --tls lists and fetches byte for byte as curl --ssl-reqd does.
TEST_F(FtpTls, ToolAgreesWithCurl)
{
    TVsftpd vsftpd(FDir, FRoot, Cert("good"));
    const QString url = QStringLiteral("ftp://anonymous:p@127.0.0.1:%1/").arg(vsftpd.Port);
    const QString tool = BinDir() + "/zembo-ftp";
    const QStringList curl{"-sS", "--ssl-reqd", "--cacert", FCerts->File("ca.pem")};
    const auto ours = RunProgram(tool, {"--tls", url, "ls"});
    const auto theirs = RunProgram("curl", curl + QStringList{url});
    EXPECT_EQ(ours.first, 0);
    EXPECT_EQ(theirs.first, 0);
    EXPECT_EQ(ours.second, theirs.second);
    ASSERT_TRUE(ours.second.contains("data.bin"));

    EXPECT_EQ(RunProgram(tool, {"--tls", url, "get", "data.bin", FDir.File("ours.bin")}).first, 0);
    EXPECT_EQ(RunProgram("curl", curl + QStringList{"-o", FDir.File("curl.bin"), url + "data.bin"}).first, 0);
    EXPECT_EQ(ReadBytes(FDir.File("ours.bin")), ReadBytes(FDir.File("curl.bin")));
    EXPECT_EQ(ReadBytes(FDir.File("ours.bin")), ReadBytes(FRoot + "/data.bin"));
}

// A certificate that does not verify, or a server without TLS, fails the
// connection with the reason before the login: the server never reads USER
// or PASS.
TEST_F(FtpTls, RefusalsNeverSendTheLogin)
{
    struct TRow {
        const char* Cert; // empty: a plain server
        const char* Host;
        const char* Reason;
    };
    for (const TRow& row : {TRow{"wronghost", "127.0.0.1", "IP address mismatch"},
                            TRow{"wronghost", "localhost", "Hostname mismatch"},
                            TRow{"unknownca", "127.0.0.1", "unable to get local issuer certificate"},
                            TRow{"expired", "127.0.0.1", "certificate has expired"},
                            TRow{"", "127.0.0.1", "the server refused AUTH TLS"}}) {
        SCOPED_TRACE(row.Reason);
        TVsftpd vsftpd(FDir, FRoot, *row.Cert ? Cert(row.Cert) : QString());
        TIdFTP ftp;
        ftp.Host = QLatin1String(row.Host);
        const QString failure = FailureOf<EIdTLSError>([&] {
            Login(ftp, vsftpd.Port, "anonymous", "secret");
        });
        EXPECT_TRUE(failure.startsWith("TLS failure: ")) << failure.toStdString();
        EXPECT_TRUE(failure.contains(QLatin1String(row.Reason), Qt::CaseInsensitive)) << failure.toStdString();
        EXPECT_FALSE(ftp.Connected());
        const QByteArray commands = vsftpd.Commands();
        EXPECT_TRUE(commands.contains("AUTH TLS")) << commands.toStdString();
        EXPECT_FALSE(commands.contains("USER") || commands.contains("PASS")) << commands.toStdString();
    }
}

class FtpResume : public FtpTls {
protected:
    void Connect(TIdFTP& ftp, std::uint16_t port)
    {
        ftp.Host = QStringLiteral("127.0.0.1");
        ftp.Port = port;
        ftp.Username = QStringLiteral("u");
        ftp.Password = QStringLiteral("p");
        ftp.ReadTimeout = ftp.TransferTimeout = ftp.ConnectTimeout = 10000;
        ftp.Connect();
    }
    // One run's download: a fresh session, as the next run would have.
    QString Fetch(std::uint16_t port, const QString& local, TDateTime time, qint64 size,
                  const QString& source = "data.bin")
    {
        TIdFTP ftp;
        return FailureOf([&] {
            Connect(ftp, port);
            TPartialDownload(local).Fetch(ftp, source, {time, size, "-rw-r--r-- 1 u u " + source, {}});
            ftp.Disconnect();
        });
    }
};

void SetModified(const QString& path, const QDateTime& time)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(time, QFileDevice::FileModificationTime));
}

// Unmounts, at the end of the test, what it mounted.
struct TMounted {
    QString Path;
    ~TMounted() { QProcess::execute("umount", {"-l", Path}); }
};

// A 64 MiB download cut off past its middle keeps what arrived; the next
// run asks only for the rest and ends with the server's file.
TEST_F(FtpResume, CutOffDownloadResumesWithTheRest)
{
    const qint64 size = 64 << 20;
    WriteBytes(FRoot + "/data.bin", Pattern(size, 2));
    TPyftpd server(FDir, FRoot, {"--drop-at", QString::number(40 << 20)});
    const QString local = FDir.File("install/data.bin");
    WriteBytes(local, "the previous copy");
    const TDateTime listed(46000.5);

    EXPECT_NE(Fetch(server.Port, local, listed, size), "<no failure>");
    EXPECT_EQ(ReadBytes(local), QByteArray("the previous copy"));
    EXPECT_EQ(QFileInfo(local + ".zembo-parcial").size(), 40 << 20);

    EXPECT_EQ(Fetch(server.Port, local, listed, size), "<no failure>");
    ASSERT_EQ(server.Sent().size(), 2);
    EXPECT_LT(server.Sent().at(1), size / 2);
    EXPECT_EQ(server.Sent().at(0) + server.Sent().at(1), size);
    EXPECT_TRUE(ReadBytes(local) == ReadBytes(FRoot + "/data.bin"));
    EXPECT_FALSE(QFile::exists(local + ".zembo-parcial"));
    EXPECT_FALSE(QFile::exists(local + ".zembo-parcial.info"));
}

// A file that changed on the server between the runs (another listing time
// and size) is fetched whole again.
TEST_F(FtpResume, ChangedFileStartsOver)
{
    TPyftpd server(FDir, FRoot, {"--drop-at", "100000"});
    const QString local = FDir.File("data.bin");
    EXPECT_NE(Fetch(server.Port, local, TDateTime(46000.5), 300000), "<no failure>");
    ASSERT_EQ(QFileInfo(local + ".zembo-parcial").size(), 100000);

    const QByteArray changed = Pattern(250000, 3);
    WriteBytes(FRoot + "/data.bin", changed);
    EXPECT_EQ(Fetch(server.Port, local, TDateTime(46001.25), changed.size()), "<no failure>");
    EXPECT_EQ(server.Sent(), QList<qint64>({100000, 250000}));
    EXPECT_TRUE(ReadBytes(local) == changed);
}

// A file put on the server again within the same minute and with the same
// size lists as before; MDTM's seconds tell it apart, and the download
// starts over instead of finishing the old bytes with the new.
TEST_F(FtpResume, AFileReplacedWithinTheMinuteStartsOver)
{
    const QDateTime minute(QDate(2024, 3, 10), QTime(14, 5, 10));
    SetModified(FRoot + "/data.bin", minute);
    TPyftpd server(FDir, FRoot, {"--drop-at", "100000"});
    const QString local = FDir.File("data.bin");
    EXPECT_NE(Fetch(server.Port, local, TDateTime(46000.5), 300000), "<no failure>");
    ASSERT_EQ(QFileInfo(local + ".zembo-parcial").size(), 100000);

    const QByteArray replaced = Pattern(300000, 4);
    WriteBytes(FRoot + "/data.bin", replaced);
    SetModified(FRoot + "/data.bin", minute.addSecs(30));
    EXPECT_EQ(Fetch(server.Port, local, TDateTime(46000.5), 300000), "<no failure>");
    EXPECT_EQ(server.Sent(), QList<qint64>({100000, 300000}));
    EXPECT_TRUE(ReadBytes(local) == replaced);
}

// A disk that fills up is no line cut off: nothing of the download stays
// to keep it full, the error names the disk and the file (not the server's
// "Transfer aborted"), and the session goes on.
TEST_F(FtpResume, AFullDiskKeepsNothingAndSaysSo)
{
    const QString small = FDir.File("small");
    QDir().mkpath(small);
    if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=128k", "zembo-teste", small}) != 0)
        GTEST_SKIP() << "a small file system cannot be mounted here";
    const TMounted mounted{small};
    TPyftpd server(FDir, FRoot, {});
    TIdFTP ftp;
    Connect(ftp, server.Port);
    const QString local = small + "/data.bin";
    EXPECT_EQ(FailureOf([&] {
                  TPartialDownload(local).Fetch(ftp, "data.bin", {TDateTime(46000.5), 300000, "data.bin", {}});
              }),
              "Não foi possível gravar " + local + ".zembo-parcial: disco cheio.");
    EXPECT_EQ(QDir(small).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    EXPECT_EQ(ftp.Size("small.txt"), 15);
}

// A name of 250 bytes leaves no room for the suffixes: the partial file and
// its record take a short hashed name, are resumed from, and are found as
// stale by the names listed.
TEST_F(FtpResume, ALongNameResumesThroughAShortPartialName)
{
    const QString name = QString(246, u'n') + ".dll";
    WriteBytes(FRoot + "/" + name, Pattern(300000, 5));
    TPyftpd server(FDir, FRoot, {"--drop-at", "100000"});
    const QString folder = FDir.File("install");
    QDir().mkpath(folder);
    const QString local = folder + "/" + name;
    EXPECT_NE(Fetch(server.Port, local, TDateTime(46000.5), 300000, name), "<no failure>");
    const QStringList partial = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    ASSERT_EQ(partial.size(), 2) << partial.join(' ').toStdString();
    EXPECT_TRUE(partial.at(0).startsWith("zembo-") && partial.at(0).endsWith(".zembo-parcial"));
    RemoveStalePartials(folder, {name}, QDateTime::currentDateTime());
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), partial);

    EXPECT_EQ(Fetch(server.Port, local, TDateTime(46000.5), 300000, name), "<no failure>");
    EXPECT_EQ(server.Sent(), QList<qint64>({100000, 200000}));
    EXPECT_TRUE(ReadBytes(local) == ReadBytes(FRoot + "/" + name));

    const QString other = TPartialDownload(folder + "/" + QString(250, u'o')).PartialFile();
    WriteBytes(other, "x");
    RemoveStalePartials(folder, {name}, QDateTime::currentDateTime());
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList({name}));
}

// Links planted in the installation folder are never written through: a
// partial file with a matching record that is a link goes as a link and the
// download starts over; a file fetched without its size onto a link,
// dangling or not, replaces the link. Nothing outside changes or appears.
TEST_F(FtpResume, LinksInTheFolderAreNeverWrittenThrough)
{
    TPyftpd server(FDir, FRoot, {"--drop-at", "100000"});
    const TScratchDir outside;
    WriteBytes(outside.File("alvo"), "do sistema");
    const QString folder = FDir.File("install");
    QDir().mkpath(folder);
    const QString local = folder + "/data.bin";
    EXPECT_NE(Fetch(server.Port, local, TDateTime(46000.5), 300000), "<no failure>");
    ASSERT_TRUE(QFile::remove(local + ".zembo-parcial"));
    ASSERT_TRUE(QFile::link(outside.File("alvo"), local + ".zembo-parcial"));
    EXPECT_EQ(Fetch(server.Port, local, TDateTime(46000.5), 300000), "<no failure>");
    EXPECT_TRUE(ReadBytes(local) == ReadBytes(FRoot + "/data.bin"));

    TIdFTP ftp;
    Connect(ftp, server.Port);
    for (const char* target : {"alvo", "novo"}) {
        SCOPED_TRACE(target);
        QFile::remove(folder + "/small.txt");
        ASSERT_TRUE(QFile::link(outside.File(target), folder + "/small.txt"));
        ftp.Get("small.txt", folder + "/small.txt", true, false);
        EXPECT_FALSE(QFileInfo(folder + "/small.txt").isSymLink());
        EXPECT_EQ(ReadBytes(folder + "/small.txt"), "hello, server\r\n");
    }
    EXPECT_EQ(ReadBytes(outside.File("alvo")), "do sistema");
    EXPECT_FALSE(QFileInfo::exists(outside.File("novo")));
    EXPECT_EQ(QDir(outside.Path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"alvo"}));
}

// Over TLS (vsftpd, REST STREAM): an abort keeps the partial file, the
// next call resumes it; stale partial files go, the others stay.
TEST_F(FtpResume, AbortKeepsThePartialFileAndStaleOnesGo)
{
    TVsftpd vsftpd(FDir, FRoot, Cert("good"));
    const QString local = FDir.File("data.bin");
    {
        TIdFTP ftp;
        Login(ftp, vsftpd.Port, "anonymous", "p");
        EXPECT_TRUE(ftp.SupportsRestStream());
        ftp.OnWork = [&](TIdBaseComponent*, TWorkMode, std::int64_t) { ftp.Abort(); };
        EXPECT_THROW(ftp.GetResumable("data.bin", local, local + ".part", 300000), EIdFTPAborted);
        EXPECT_EQ(QFileInfo(local + ".part").size(), 32768);
        ftp.OnWork = nullptr;
        Login(ftp, vsftpd.Port, "anonymous", "p");
        EXPECT_EQ(ftp.GetResumable("data.bin", local, local + ".part", 300000), 300000 - 32768);
        EXPECT_TRUE(ReadBytes(local) == ReadBytes(FRoot + "/data.bin"));
    }
    const QString folder = FDir.File("install");
    for (const char* name : {"A.DLL.zembo-parcial", "A.DLL.zembo-parcial.info", "GONE.DLL.zembo-parcial",
                             "OLD.DLL.zembo-parcial", "OTHER.DLL"})
        WriteBytes(folder + "/" + name, "x");
    QFile old(folder + "/OLD.DLL.zembo-parcial");
    ASSERT_TRUE(old.open(QIODevice::ReadWrite));
    ASSERT_TRUE(old.setFileTime(QDateTime::currentDateTime().addDays(-8), QFileDevice::FileModificationTime));
    old.close();
    RemoveStalePartials(folder, {"A.DLL", "OLD.DLL"}, QDateTime::currentDateTime());
    EXPECT_EQ(QDir(folder).entryList(QDir::Files),
              QStringList({"A.DLL.zembo-parcial", "A.DLL.zembo-parcial.info", "OTHER.DLL"}));
}
