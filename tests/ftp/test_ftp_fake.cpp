// The control session and transfers against a scripted server: replies and
// failures that real servers do not produce on demand.
#include "ftp/idftp.h"
#include "ftp/idreply.h"
#include "ftp/otp.h"
#include "tests/ftp/fakeftpserver.h"
#include "tests/support/testenv.h"

#include "ftp/idsocket.h"

#include <QBuffer>
#include <QDir>
#include <gtest/gtest.h>

namespace {

struct TRecorder {
    QStringList Events;
    void Attach(TIdFTP& ftp)
    {
        ftp.OnStatus = [this, &ftp](TIdBaseComponent* sender, TIdStatus, const QString& text) {
            Events << (sender == &ftp ? QString() : QStringLiteral("io:")) + text;
        };
        ftp.OnWorkBegin = [this](TIdBaseComponent*, TWorkMode, std::int64_t n) { Events << QStringLiteral("begin %1").arg(n); };
        ftp.OnWork = [this](TIdBaseComponent*, TWorkMode, std::int64_t n) { Events << QStringLiteral("work %1").arg(n); };
        ftp.OnWorkEnd = [this](TIdBaseComponent*, TWorkMode) { Events << QStringLiteral("end"); };
    }
};

void PointAt(TIdFTP& ftp, const TFakeFtpServer& server)
{
    ftp.Host = QStringLiteral("127.0.0.1");
    ftp.Port = server.Port();
    ftp.Username = QStringLiteral("user");
    ftp.Password = QStringLiteral("secret");
}

} // namespace

TEST(FtpFakeGreeting, PreliminaryThen220AndMultiLineText)
{
    TFakeFtpServer server([](TFakeSession& s, int) {
        s.Reply("120 ready in a moment");
        s.Reply("220-first line\r\n    indented\r\n\r\n220-repeated code\r\n220 last");
        s.On("HOST", "502 no HOST");
        s.On("USER", "331 pass");
        s.On("PASS", "230 in");
        s.On("FEAT", "211 End");
        s.Always("TYPE", "200 ok");
        s.On("SYST", "215 UNIX Type: L8");
        s.On("QUIT", "221 bye");
    });
    TIdFTP ftp;
    PointAt(ftp, server);
    ftp.Connect();
    EXPECT_EQ(ftp.Greeting().Text,
              QStringList({"first line", "indented", "repeated code", "last"}));
    EXPECT_EQ(ftp.SystemDesc(), QStringLiteral("UNIX Type: L8"));
    ftp.Disconnect();
    EXPECT_FALSE(ftp.Connected());
    const QStringList commands = server.Commands();
    EXPECT_EQ(commands.mid(0, 8), QStringList({"HOST [127.0.0.1]", "USER user", "PASS secret", "FEAT", "TYPE A",
                                               "SYST", "TYPE A", "QUIT"}));
}

TEST(FtpFakeGreeting, PreliminaryThenOtherReplyFails)
{
    TFakeFtpServer server([](TFakeSession& s, int) {
        s.Reply("120 wait");
        s.Reply("530 not today");
    });
    TIdFTP ftp;
    PointAt(ftp, server);
    EXPECT_EQ(FailureOf<EIdReplyRFCError>([&] { ftp.Connect(); }), QStringLiteral("not today\r\n"));
    EXPECT_FALSE(ftp.Connected());
}

TEST(FtpFakeGreeting, ServiceNotAvailableClosesWithoutQuit)
{
    TFakeFtpServer server([](TFakeSession& s, int) { s.Reply("421 too many users"); });
    TIdFTP ftp;
    TRecorder rec;
    rec.Attach(ftp);
    PointAt(ftp, server);
    try {
        ftp.Connect();
        FAIL();
    } catch (const EIdFTPServiceNotAvailable& e) {
        EXPECT_EQ(e.ErrorCode(), 421);
        EXPECT_EQ(e.Message(), QStringLiteral("too many users\r\n"));
    }
    EXPECT_FALSE(ftp.Connected());
    EXPECT_EQ(rec.Events, QStringList({"io:Connecting to 127.0.0.1.", "Connected.", "Disconnecting.", "Disconnected."}));
    EXPECT_TRUE(server.Commands().filter("QUIT").isEmpty());
}

TEST(FtpFakeReply, InvalidCodeOverlongLineAndCloseMidReply)
{
    TFakeFtpServer letters([](TFakeSession& s, int) { s.Reply("ABCDEF hello"); });
    TIdFTP ftp;
    PointAt(ftp, letters);
    EXPECT_EQ(FailureOf<EIdException>([&] { ftp.Connect(); }), QStringLiteral("Reply Code is not valid: ABCD"));

    TFakeFtpServer longLine([](TFakeSession& s, int) { s.Reply("220 " + QByteArray(20000, 'x')); });
    PointAt(ftp, longLine);
    EXPECT_EQ(FailureOf<EIdReadLnMaxLineLengthExceeded>([&] { ftp.Connect(); }),
              QStringLiteral("Max line length exceeded."));

    TFakeFtpServer cut([](TFakeSession& s, int) {
        s.Send("220-first\r\n220-sec");
        s.Close();
    });
    TRecorder rec;
    rec.Attach(ftp);
    PointAt(ftp, cut);
    EXPECT_EQ(FailureOf<EIdConnClosedGracefully>([&] { ftp.Connect(); }),
              QStringLiteral("Connection Closed Gracefully."));
    EXPECT_TRUE(rec.Events.contains("io:Disconnected."));
    EXPECT_FALSE(ftp.Connected());
}

TEST(FtpFakeReply, ParsingRules)
{
    TIdReplyFTP r;
    ParseReply({"200"}, r);
    EXPECT_EQ(r.NumericCode(), 200);
    EXPECT_EQ(r.Text, QStringList({""}));
    ParseReply({"211-Features:", "UTF8", "211-MDTM", "211 End"}, r);
    EXPECT_EQ(r.Text, QStringList({"Features:", "UTF8", "MDTM", "End"}));
    EXPECT_TRUE(EndsMultiLineReply("211", "211"));
    EXPECT_FALSE(EndsMultiLineReply("211-more", "211"));
    EXPECT_FALSE(EndsMultiLineReply("2110", "211"));
    EXPECT_THROW(ParseReply({"099 low"}, r), EIdException);
}

TEST(FtpFakeLogin, HostRefusedAndConnectionClosedIsReachedAgainWithoutHost)
{
    TFakeFtpServer server(
        [](TFakeSession& s, int connection) {
            s.Reply("220 hello");
            if (connection == 0) {
                s.On("HOST", [](TFakeSession& s, const QByteArray&) {
                    s.Reply("502 no HOST here");
                    s.Close();
                });
                return;
            }
            s.On("USER", "230 in");
            s.On("FEAT", "500 FEAT?");
            s.Always("TYPE", "200 ok");
            s.On("SYST", "500 SYST?");
            s.On("QUIT", "221 bye");
        },
        2);
    TIdFTP ftp;
    PointAt(ftp, server);
    ftp.Connect();
    EXPECT_TRUE(ftp.UseHOST);
    EXPECT_EQ(ftp.SystemDesc(), QStringLiteral("Unknown"));
    EXPECT_TRUE(ftp.Capabilities().isEmpty());
    ftp.Disconnect();
    // USER answered by 230: no PASS.
    EXPECT_EQ(server.Commands(), QStringList({"HOST [127.0.0.1]", "USER user", "FEAT", "TYPE A", "SYST", "TYPE A",
                                              "QUIT"}));
}

TEST(FtpFakeLogin, AccountAskedForWithoutOneFailsWithTheReply)
{
    TFakeFtpServer server([](TFakeSession& s, int) {
        s.Reply("220 hello");
        s.On("HOST", "502 no");
        s.On("USER", "331 pass");
        s.On("PASS", "332 Need account for login.");
        s.On("QUIT", "221 bye");
    });
    TIdFTP ftp;
    PointAt(ftp, server);
    try {
        ftp.Connect();
        FAIL();
    } catch (const EIdReplyRFCError& e) {
        EXPECT_EQ(e.ErrorCode(), 332);
        EXPECT_EQ(e.Message(), QStringLiteral("Need account for login.\r\n"));
    }
    EXPECT_FALSE(ftp.Connected());
    EXPECT_EQ(server.Commands().last(), QStringLiteral("QUIT"));
}

TEST(FtpFakeLogin, XautSingleCommand)
{
    TFakeFtpServer server([](TFakeSession& s, int) {
        s.Reply("220 WS_FTP Server 7.1 (4711)");
        s.On("HOST", "502 no");
        s.On("XAUT", "230 in");
        s.On("FEAT", "500 no");
        s.Always("TYPE", "200 ok");
        s.On("SYST", "215 Windows_NT");
    });
    TIdFTP ftp;
    PointAt(ftp, server);
    ftp.Connect();
    ftp.Disconnect();
    const QStringList commands = server.Commands();
    ASSERT_GE(commands.size(), 2);
    // Worked by hand: key 5A 45 4D 42, challenge 4711 = 67 12 00 00 little-endian;
    // 'u' 75 ^ 5A ^ 67 = 48 gives "99", 's' 73 ^ 45 ^ 12 = 24 gives "75", ...
    EXPECT_EQ(commands.at(1), QStringLiteral("XAUT 2 99757981587579729@838:"));
    EXPECT_EQ(XAutCredentials("user", "secret", 4711).size(), 22);
    EXPECT_TRUE(commands.filter("PASS").isEmpty());
}

TEST(FtpFakeLogin, OneTimePasswordChallenge)
{
    TFakeFtpServer server([](TFakeSession& s, int) {
        s.Reply("220 hello");
        s.On("HOST", "502 no");
        s.On("USER", "331 Response to otp-md5 499 ke1234 required for skey.");
        s.On("PASS", "230 in");
        s.On("FEAT", "500 no");
        s.Always("TYPE", "200 ok");
        s.On("SYST", "215 UNIX");
    });
    TIdFTP ftp;
    PointAt(ftp, server);
    ftp.Connect();
    ftp.Disconnect();
    EXPECT_EQ(server.Commands().at(2),
              QStringLiteral("PASS ") + OtpPassword({TOtpHash::ohMd5, 499, "ke1234"}, "secret"));
}

TEST(FtpOtp, StandardVectors)
{
    // The published test vectors: pass phrase "This is a test.", seed "TeSt".
    EXPECT_EQ(OtpValue(TOtpHash::ohMd4, 0, "TeSt", "This is a test."), 0xD1854218EBBB0B51ull);
    EXPECT_EQ(OtpValue(TOtpHash::ohMd5, 0, "TeSt", "This is a test."), 0x9E876134D90499DDull);
    EXPECT_EQ(OtpValue(TOtpHash::ohSha1, 0, "TeSt", "This is a test."), 0xBB9E6AE1979D8FF4ull);
    EXPECT_EQ(OtpSixWords(0xD1854218EBBB0B51ull), QStringLiteral("ROME MUG FRED SCAN LIVE LACE"));
    EXPECT_EQ(OtpSixWords(0x9E876134D90499DDull), QStringLiteral("INCH SEA ANNE LONG AHEM TOUR"));
    EXPECT_EQ(OtpSixWords(0xBB9E6AE1979D8FF4ull), QStringLiteral("MILT VARY MAST OK SEES WENT"));
    const auto c = FindOtpChallenge("331 otp-sha1 99 xy12 ext");
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->Count, 99);
    EXPECT_EQ(c->Seed, QStringLiteral("xy12"));
}

TEST(FtpFakeData, PasvRepliesAndPrivateAddressRule)
{
    TIdReplyFTP r;
    ParseReply({"227 Entering Passive Mode (10,1,2,3,19,137)."}, r);
    TIdPassiveAddress a = ParsePASVReply(r);
    EXPECT_EQ(a.Address, QStringLiteral("10.1.2.3"));
    EXPECT_EQ(a.Port, 19 * 256 + 137);
    ParseReply({"227 Entering Passive Mode 127,0,0,1,4,1"}, r);
    a = ParsePASVReply(r);
    EXPECT_EQ(a.Address, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(a.Port, 1025);
    ParseReply({"227 Entering Passive Mode (127,0,0,1,x,1)"}, r);
    EXPECT_EQ(FailureOf<EConvertError>([&] { ParsePASVReply(r); }), QStringLiteral("'x' is not a valid integer value"));

    EXPECT_EQ(PassiveDataHost("192.168.1.10", "203.0.113.5"), QStringLiteral("203.0.113.5"));
    EXPECT_EQ(PassiveDataHost("198.51.100.7", "203.0.113.5"), QStringLiteral("198.51.100.7"));
    EXPECT_EQ(PassiveDataHost("10.0.0.1", "192.168.0.1"), QStringLiteral("10.0.0.1"));
    EXPECT_TRUE(IsPrivateIPAddress("172.16.0.1"));
    EXPECT_TRUE(IsPrivateIPAddress("172.31.9.1"));
    EXPECT_FALSE(IsPrivateIPAddress("172.32.0.1"));
    EXPECT_FALSE(IsPrivateIPAddress("172.1.0.1"));
}

TEST(FtpFakeData, SizeReplies)
{
    TFakeFtpServer server([](TFakeSession& s, int) {
        s.Reply("220 hi");
        s.Login();
        s.On("SIZE", "213 1024");
        s.On("SIZE", "550 no such file");
        s.On("SIZE", "213 size 77");
        s.On("SIZE", "213 size big");
    });
    TIdFTP ftp;
    PointAt(ftp, server);
    ftp.Connect();
    ftp.SetTransferType(ftBinary);
    EXPECT_EQ(ftp.Size("a"), 1024);
    EXPECT_EQ(ftp.Size("b"), -1);
    EXPECT_EQ(ftp.Size("c"), 77);
    EXPECT_EQ(ftp.Size("d"), -1);
    ftp.Disconnect();
}

TEST(FtpFakeData, ListAnswered450IsEmptyAndRetr450Fails)
{
    TFakeFtpServer server([](TFakeSession& s, int) {
        s.Reply("220 hi");
        s.Login();
        s.OnPasv();
        s.On("LIST", "450 no files");
        s.OnPasv();
        s.On("RETR", "450 busy");
    });
    TIdFTP ftp;
    TRecorder rec;
    PointAt(ftp, server);
    ftp.Connect();
    rec.Attach(ftp);
    QStringList lines{"old"};
    ftp.List(&lines);
    EXPECT_TRUE(lines.isEmpty());
    EXPECT_TRUE(ftp.ListResult().isEmpty());
    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    EXPECT_EQ(FailureOf<EIdReplyRFCError>([&] { ftp.Get("x", &sink); }), QStringLiteral("busy\r\n"));
    EXPECT_EQ(rec.Events, QStringList({"Starting FTP transfer", "Transfer aborted", "Starting FTP transfer",
                                       "Transfer aborted"}));
    ftp.Disconnect();
}

TEST(FtpFakeData, ErrorAfterDataAndCloseMidTransfer)
{
    TFakeFtpServer server([](TFakeSession& s, int) {
        s.Reply("220 hi");
        s.Login();
        s.OnPasv();
        s.On("RETR", [](TFakeSession& s, const QByteArray&) {
            s.Reply("150 here it comes");
            s.SendData("partial");
            s.Reply("426 Connection closed; transfer aborted.");
        });
        s.OnPasv();
        s.On("RETR", [](TFakeSession& s, const QByteArray&) {
            s.Reply("150 here it comes");
            s.SendData("more");
            s.Close();
        });
    });
    TIdFTP ftp;
    PointAt(ftp, server);
    ftp.Connect();
    TScratchDir dir;
    const QString local = dir.File("f.bin");
    WriteBytes(local, "previous");
    try {
        ftp.Get("f.bin", local, true);
        FAIL();
    } catch (const EIdReplyRFCError& e) {
        EXPECT_EQ(e.ErrorCode(), 426);
    }
    EXPECT_EQ(ReadBytes(local), QByteArray("previous"));
    EXPECT_THROW(ftp.Get("f.bin", local, true), EIdConnClosedGracefully);
    EXPECT_EQ(ReadBytes(local), QByteArray("previous"));
    EXPECT_EQ(QDir(dir.Path()).entryList(QDir::Files), QStringList({"f.bin"}));
    EXPECT_FALSE(ftp.Connected());
}

// A transfer that fails before the server took its command ends at once:
// no completion reply is awaited, so the session stays in step.
TEST(FtpFakeData, FailureBeforeTheTransferCommandAwaitsNoCompletion)
{
    TFakeFtpServer server([](TFakeSession& s, int) {
        s.Reply("220 hi");
        s.Login();
        s.On("PASV", "200 not what was asked");
        s.On("PASV", "227 Entering Passive Mode (127,0,0,1,0,1)."); // nothing listens on port 1
        s.On("SIZE", "213 7");
    });
    TIdFTP ftp;
    TRecorder rec;
    PointAt(ftp, server);
    ftp.ReadTimeout = 5000; // a wrongly awaited reply fails instead of hanging
    ftp.Connect();
    ftp.SetTransferType(ftBinary);
    rec.Attach(ftp);
    TScratchDir dir;
    const QString local = dir.File("f.bin");
    WriteBytes(local, "previous");
    EXPECT_EQ(FailureOf<EIdReplyRFCError>([&] { ftp.Get("f.bin", local, true); }),
              QStringLiteral("not what was asked\r\n"));
    EXPECT_NE(FailureOf([&] { ftp.Get("f.bin", local, true); }), QStringLiteral("<no failure>"));
    EXPECT_EQ(ReadBytes(local), QByteArray("previous"));
    EXPECT_EQ(ftp.Size("f.bin"), 7);
    EXPECT_EQ(rec.Events, QStringList({"Starting FTP transfer", "Transfer aborted", "Starting FTP transfer",
                                       "Transfer aborted"}));
    ftp.Disconnect();
    EXPECT_EQ(server.Commands().mid(8), QStringList({"PASV", "PASV", "SIZE f.bin", "QUIT"}));
}

TEST(FtpFakeTimeout, SilentServerHitsEachWait)
{
    // Control read.
    TFakeFtpServer silent([](TFakeSession& s, int) { s.Pause(400); });
    TIdFTP ftp;
    TRecorder rec;
    rec.Attach(ftp);
    PointAt(ftp, silent);
    ftp.ReadTimeout = 100;
    EXPECT_EQ(FailureOf<EIdReadTimeout>([&] { ftp.Connect(); }), QStringLiteral("Read timed out."));
    EXPECT_FALSE(ftp.Connected());
    EXPECT_EQ(rec.Events.mid(rec.Events.size() - 2), QStringList({"Disconnecting.", "Disconnected."}));

    // Data read: the server opens the data connection and sends nothing.
    TFakeFtpServer stalled([](TFakeSession& s, int) {
        s.Reply("220 hi");
        s.Login();
        s.OnPasv();
        s.On("RETR", [](TFakeSession& s, const QByteArray&) {
            s.Reply("150 coming");
            s.SendData("abc", false);
            s.Pause(600);
        });
    });
    PointAt(ftp, stalled);
    ftp.ReadTimeout = 2000;
    ftp.TransferTimeout = 100;
    ftp.Connect();
    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    EXPECT_EQ(FailureOf<EIdReadTimeout>([&] { ftp.Get("x", &sink); }), QStringLiteral("Transfer timed out."));
    EXPECT_FALSE(ftp.Connected());

    // Active mode: the server never connects back, then refuses.
    TFakeFtpServer noConnect([](TFakeSession& s, int) {
        s.Reply("220 hi");
        s.Login();
        s.On("PORT", "200 PORT ok");
        s.On("RETR", [](TFakeSession& s, const QByteArray&) {
            s.Reply("150 coming");
            s.Pause(300);
            s.Reply("425 Can't open data connection.");
        });
    });
    PointAt(ftp, noConnect);
    ftp.Passive = false;
    ftp.ListenTimeout = 100;
    ftp.Connect();
    EXPECT_EQ(FailureOf<EIdReplyRFCError>([&] { ftp.Get("x", &sink); }),
              QStringLiteral("Can't open data connection.\r\n"));
    ftp.Disconnect();
}

TEST(FtpFakeTimeout, ConnectTimeout)
{
    // A listener whose queue is full leaves further connects unanswered.
    asio::io_context context;
    asio::ip::tcp::acceptor full(context, asio::ip::tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0));
    full.listen(0);
    std::vector<std::unique_ptr<asio::ip::tcp::socket>> queued;
    for (int i = 0; i < 4; ++i) {
        auto s = std::make_unique<asio::ip::tcp::socket>(context);
        // Started, never completed: the handshakes stay in the queue.
        s->async_connect(full.local_endpoint(), [](const std::error_code&) {});
        queued.push_back(std::move(s));
    }
    TIdFTP ftp;
    ftp.Host = QStringLiteral("127.0.0.1");
    ftp.Port = full.local_endpoint().port();
    ftp.ConnectTimeout = 200;
    ftp.ReadTimeout = 300;
    EXPECT_EQ(FailureOf<EIdConnectTimeout>([&] { ftp.Connect(); }), QStringLiteral("Connect timed out."));
    EXPECT_FALSE(ftp.Connected());
}
