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
#include <QElapsedTimer>
#include <QProcess>
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

    // RFC 1123: the numbers wherever they stand in the text.
    ParseReply({"227 Entering Passive Mode =127,0,0,1,4,1"}, r);
    EXPECT_EQ(ParsePASVReply(r).Port, 1025);

    // Out of range, refused with the reply's text: the fuzzed reply whose
    // port overflowed, a port past 65535 (273 * 256 + 112 = 70000), port 0.
    for (const char* text : {"(10,0,0,1,9999999,1)", "(127,0,0,1,273,112)", "(127,0,0,1,0,0)", "(300,0,0,1,4,1)"}) {
        ParseReply({QStringLiteral("227 Entering Passive Mode ") + text}, r);
        EXPECT_EQ(FailureOf<EIdReplyRFCError>([&] { ParsePASVReply(r); }),
                  QStringLiteral("Invalid passive address: Entering Passive Mode ") + text + "\r\n");
    }
}

// Attack: a PASV reply that points the client at a third machine (or at
// 0.0.0.0). The data connection goes to the control connection's server
// whatever the reply names; the private-address rule is a case of this.
TEST(FtpFakeData, PassiveDataGoesToTheControlServer)
{
    const QList<QByteArray> replies{"227 Entering Passive Mode (192,168,1,10,%1,%2)",
                                    "227 Entering Passive Mode (198,51,100,7,%1,%2)",
                                    "227 Entering Passive Mode (0,0,0,0,%1,%2)",
                                    "227 Entering Passive Mode =127,0,0,1,%1,%2"};
    TFakeFtpServer server([&](TFakeSession& s, int) {
        s.Reply("220 hi");
        s.Login();
        for (const QByteArray& reply : replies) {
            s.OnPasv(reply);
            s.On("RETR", [](TFakeSession& s, const QByteArray&) {
                s.Reply("150 coming");
                s.SendData("data");
                s.Reply("226 done");
            });
        }
    });
    TIdFTP ftp;
    PointAt(ftp, server);
    ftp.ConnectTimeout = 2000;
    ftp.Connect();
    for (qsizetype i = 0; i < replies.size(); ++i) {
        QBuffer sink;
        sink.open(QIODevice::WriteOnly);
        ftp.Get("f", &sink);
        EXPECT_EQ(sink.data(), QByteArray("data")) << replies.at(i).constData();
    }
    ftp.Disconnect();
}

// Attack: a third party connects to the active-mode listener before the
// server and supplies the file.
TEST(FtpFakeData, ActiveModeTakesDataOnlyFromTheServer)
{
    TFakeFtpServer server([](TFakeSession& s, int) {
        s.Reply("220 hi");
        s.Login();
        s.On("PORT", "200 PORT ok");
        s.On("RETR", [](TFakeSession& s, const QByteArray&) {
            s.Reply("150 coming");
            s.SendData("intruder", true, "127.0.0.2");
            s.SendData("genuine");
            s.Reply("226 done");
        });
    });
    TIdFTP ftp;
    PointAt(ftp, server);
    ftp.Passive = false;
    ftp.ListenTimeout = 5000;
    ftp.Connect();
    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    ftp.Get("f", &sink);
    EXPECT_EQ(sink.data(), QByteArray("genuine"));
    ftp.Disconnect();
}

// Fault: a download cut short (or overlong) and confirmed by 226 was taken
// as complete, and the updater would never fetch the file again.
TEST(FtpFakeData, TransferOfTheWrongLengthFails)
{
    const QByteArray half(50000, 'h');
    TFakeFtpServer server([&](TFakeSession& s, int) {
        s.Reply("220 hi");
        s.Login();
        const auto send = [](const QByteArray& first, const QByteArray& bytes) {
            return [first, bytes](TFakeSession& s, const QByteArray&) {
                s.Reply(first);
                s.SendData(bytes);
                s.Reply("226 done");
            };
        };
        s.OnPasv();
        s.On("RETR", send("150 Opening BINARY mode data connection for f.bin (100000 bytes).", half));
        s.OnPasv();
        s.On("RETR", send("150 coming", "twelve bytes"));
        s.OnPasv();
        s.On("RETR", send("150 Opening BINARY mode data connection for f.bin (7 bytes).", "newdata"));
    });
    TIdFTP ftp;
    PointAt(ftp, server);
    ftp.Connect();
    ftp.SetTransferType(ftBinary);
    TScratchDir dir;
    const QString local = dir.File("f.bin");
    WriteBytes(local, "previous");
    // Short against the 150 reply's size; long against the caller's size,
    // read no further than one byte past it.
    EXPECT_EQ(FailureOf<EIdFTPSizeMismatch>([&] { ftp.Get("f.bin", local, true); }),
              QStringLiteral("Transfer size mismatch: 50000 bytes received, 100000 bytes expected."));
    EXPECT_EQ(ReadBytes(local), QByteArray("previous"));
    EXPECT_EQ(FailureOf<EIdFTPSizeMismatch>([&] { ftp.Get("f.bin", local, true, false, 10); }),
              QStringLiteral("Transfer size mismatch: more than 10 bytes received, 10 bytes expected."));
    EXPECT_EQ(ReadBytes(local), QByteArray("previous"));
    // The session stayed in step: the right length is taken.
    ftp.Get("f.bin", local, true, false, 7);
    EXPECT_EQ(ReadBytes(local), QByteArray("newdata"));
    ftp.Disconnect();
    EXPECT_TRUE(server.Unexpected().isEmpty());
}

// Attack: a name holding CR LF sent extra commands (`get $'a\r\nDELE
// victim'` deleted "victim"); a name the 8-bit encoding cannot write went
// out with "?", a wildcard to the server.
TEST(FtpFakeData, CommandTextThatWouldBreakTheLineIsRefused)
{
    TFakeFtpServer server([](TFakeSession& s, int) {
        s.Reply("220 hi");
        s.Login();
    });
    TIdFTP ftp;
    PointAt(ftp, server);
    const QString injected = QStringLiteral("a\r\nDELE victim");
    for (QString* text : {&ftp.Username, &ftp.Password, &ftp.Account}) {
        const QString kept = *text;
        *text = injected;
        EXPECT_THROW(ftp.Connect(), EIdFTPBadArgument);
        *text = QStringLiteral("\u4E2D"); // no 8-bit byte for it
        EXPECT_THROW(ftp.Connect(), EIdFTPBadArgument);
        *text = kept;
    }
    ftp.ServerHOST = injected;
    EXPECT_THROW(ftp.Connect(), EIdFTPBadArgument);
    EXPECT_FALSE(ftp.Connected());
    // A host name outside ASCII goes in its ASCII form.
    ftp.ServerHOST = QStringLiteral("caf\u00E9.example");
    ftp.Connect();
    TScratchDir dir;
    const QString local = dir.File("f");
    EXPECT_EQ(FailureOf<EIdFTPBadArgument>([&] { ftp.Get(injected, local, true); }),
              QStringLiteral("The file name holds a CR, LF or NUL character; nothing was sent."));
    EXPECT_THROW(ftp.Get(QStringLiteral("nul\0name"), local, true), EIdFTPBadArgument);
    EXPECT_THROW(ftp.Size(QStringLiteral("a\nDELE victim")), EIdFTPBadArgument);
    EXPECT_THROW(ftp.ChangeDir(QStringLiteral("d\rDELE victim")), EIdFTPBadArgument);
    EXPECT_THROW(ftp.List(nullptr, injected), EIdFTPBadArgument);
    EXPECT_THROW(ftp.SendCmd(QStringLiteral("NOOP\r\nDELE victim")), EIdFTPBadArgument);
    EXPECT_EQ(FailureOf<EIdFTPBadArgument>([&] { ftp.Get(QStringLiteral("\u4E2D.txt"), local, true); }),
              QStringLiteral("The file name cannot be written in the connection's encoding; nothing was sent."));
    // The session goes on.
    EXPECT_EQ(ftp.SendCmd(QStringLiteral("SYST")), 215);
    ftp.Disconnect();
    EXPECT_EQ(server.Commands(), QStringList({"HOST xn--caf-dma.example", "USER user", "PASS secret", "FEAT",
                                              "TYPE A", "SYST", "TYPE A", "SYST", "QUIT"}));
}

// A download destination that names no file fails before anything is sent
// (it used to fetch the whole file first), with the full local path.
TEST(FtpFakeData, DestinationThatIsNoFileFailsFirst)
{
    TFakeFtpServer server([](TFakeSession& s, int) {
        s.Reply("220 hi");
        s.Login();
    });
    TIdFTP ftp;
    PointAt(ftp, server);
    ftp.Connect();
    TScratchDir dir;
    EXPECT_EQ(FailureOf<EFCreateError>([&] { ftp.Get("f", dir.Path() + "/", true); }),
              QStringLiteral("Cannot create file \"%1/\". It names a folder, not a file.").arg(dir.Path()));
    EXPECT_EQ(FailureOf<EFCreateError>([&] { ftp.Get("f", dir.Path(), true); }),
              QStringLiteral("Cannot create file \"%1\". It names a folder, not a file.").arg(dir.Path()));
    EXPECT_EQ(FailureOf<EFCreateError>([&] { ftp.Get("f", QString(), true); }),
              QStringLiteral("Cannot create file \"%1\". It names a folder, not a file.").arg(QDir::currentPath()));
    ftp.Disconnect();
    EXPECT_EQ(server.Commands().mid(7), QStringList({"QUIT"}));
}

// The update window's close button during a download: the handler asks for
// the abort, the transfer stops at the next block, keeps no partial data
// and closes the session.
TEST(FtpFakeData, AbortFromAWorkHandler)
{
    TFakeFtpServer server(
        [](TFakeSession& s, int) {
            s.Reply("220 hi");
            s.Login();
            s.OnPasv();
            s.On("RETR", [](TFakeSession& s, const QByteArray&) {
                s.Reply("150 coming");
                s.SendData(QByteArray(100000, 'x'));
                s.Reply("226 done");
            });
        },
        2);
    TIdFTP ftp;
    TRecorder rec;
    PointAt(ftp, server);
    ftp.Connect();
    rec.Attach(ftp);
    ftp.OnWork = [&](TIdBaseComponent*, TWorkMode, std::int64_t n) {
        rec.Events << QStringLiteral("work %1").arg(n);
        ftp.Abort();
    };
    TScratchDir dir;
    const QString local = dir.File("f.bin");
    WriteBytes(local, "previous");
    EXPECT_EQ(FailureOf<EIdFTPAborted>([&] { ftp.Get("f.bin", local, true); }),
              QStringLiteral("Transfer aborted on request."));
    EXPECT_EQ(rec.Events, QStringList({"Starting FTP transfer", "begin 0", "work 32768", "end", "Disconnecting.",
                                       "Disconnected.", "Transfer aborted"}));
    EXPECT_FALSE(ftp.Connected());
    EXPECT_EQ(ReadBytes(local), QByteArray("previous"));
    EXPECT_EQ(QDir(dir.Path()).entryList(QDir::Files), QStringList({"f.bin"}));

    // Asked for between transfers: the next one fails at once.
    ftp.Connect();
    ftp.Abort();
    rec.Events.clear();
    EXPECT_THROW(ftp.Get("f.bin", local, true), EIdFTPAborted);
    EXPECT_EQ(rec.Events, QStringList({"Starting FTP transfer", "Disconnecting.", "Disconnected.", "Transfer aborted"}));
    EXPECT_EQ(ReadBytes(local), QByteArray("previous"));
    EXPECT_EQ(server.Commands().mid(8).filter("PASV"), QStringList());
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

namespace {

// A server whose download starts, sends three bytes and goes quiet.
TFakeFtpServer::TScript StalledRetr(int quietMs)
{
    return [quietMs](TFakeSession& s, int) {
        s.Reply("220 hi");
        s.Login();
        s.OnPasv();
        s.On("RETR", [quietMs](TFakeSession& s, const QByteArray&) {
            s.Reply("150 coming");
            s.SendData("abc", false);
            s.Pause(quietMs);
        });
    };
}

} // namespace

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
    TFakeFtpServer stalled(StalledRetr(600));
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

// Faults: a server gone silent after the greeting or after the data hung
// the caller; so did a QUIT answered by "221-Goodbye" and nothing more.
TEST(FtpFakeTimeout, SilentReplyCompletionAndQuit)
{
    TFakeFtpServer noUserReply([](TFakeSession& s, int) {
        s.Reply("220 hi");
        s.Login();
        s.On("USER", [](TFakeSession&, const QByteArray&) {}); // and never a reply
    });
    TIdFTP ftp;
    PointAt(ftp, noUserReply);
    ftp.ReadTimeout = 100;
    EXPECT_EQ(FailureOf<EIdReadTimeout>([&] { ftp.Connect(); }), QStringLiteral("Read timed out."));
    EXPECT_FALSE(ftp.Connected());

    TFakeFtpServer noCompletion([](TFakeSession& s, int) {
        s.Reply("220 hi");
        s.Login();
        s.OnPasv();
        s.On("RETR", [](TFakeSession& s, const QByteArray&) {
            s.Reply("150 coming");
            s.SendData("all of it"); // and never a 226
        });
    });
    PointAt(ftp, noCompletion);
    ftp.Connect();
    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    EXPECT_EQ(FailureOf<EIdReadTimeout>([&] { ftp.Get("x", &sink); }), QStringLiteral("Read timed out."));
    EXPECT_FALSE(ftp.Connected());

    TFakeFtpServer halfQuit([](TFakeSession& s, int) {
        s.Reply("220 hi");
        s.Login();
        s.On("QUIT", [](TFakeSession& s, const QByteArray&) {
            s.Reply("221-Goodbye"); // and nothing more
        });
    });
    PointAt(ftp, halfQuit);
    ftp.Connect();
    ftp.ReadTimeout = 0; // no limit of its own: the QUIT reply's bound holds
    QElapsedTimer clock;
    clock.start();
    ftp.Disconnect();
    EXPECT_LT(clock.elapsed(), 4000);
    EXPECT_FALSE(ftp.Connected());
}

// Fault: an endless multi-line reply grew memory without bound.
TEST(FtpFakeTimeout, EndlessReplyIsCut)
{
    TFakeFtpServer manyLines([](TFakeSession& s, int) {
        for (int i = 0; i < 10001; ++i)
            s.Send("220-welcome\r\n");
    });
    TIdFTP ftp;
    PointAt(ftp, manyLines);
    ftp.ReadTimeout = 5000;
    EXPECT_EQ(FailureOf([&] { ftp.Connect(); }), QStringLiteral("Reply too long: more than 10000 lines."));
    EXPECT_FALSE(ftp.Connected());

    TFakeFtpServer longLines([](TFakeSession& s, int) {
        for (int i = 0; i < 70; ++i)
            s.Send("220-" + QByteArray(16000, 'x') + "\r\n");
    });
    PointAt(ftp, longLines);
    EXPECT_EQ(FailureOf([&] { ftp.Connect(); }), QStringLiteral("Reply too long: more than 1048576 bytes."));
    EXPECT_FALSE(ftp.Connected());
}

namespace {

// A listener whose queue is full: further connects to it stay unanswered.
class TUnansweredPort {
public:
    TUnansweredPort() : FAcceptor(FContext, asio::ip::tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0))
    {
        FAcceptor.listen(0);
        for (int i = 0; i < 4; ++i) {
            auto s = std::make_unique<asio::ip::tcp::socket>(FContext);
            // Started, never completed: the handshakes stay in the queue.
            s->async_connect(FAcceptor.local_endpoint(), [](const std::error_code&) {});
            FQueued.push_back(std::move(s));
        }
    }
    std::uint16_t Port() const { return FAcceptor.local_endpoint().port(); }

private:
    asio::io_context FContext;
    asio::ip::tcp::acceptor FAcceptor;
    std::vector<std::unique_ptr<asio::ip::tcp::socket>> FQueued;
};

} // namespace

TEST(FtpFakeTimeout, ConnectTimeout)
{
    TUnansweredPort full;
    TIdFTP ftp;
    ftp.Host = QStringLiteral("127.0.0.1");
    ftp.Port = full.Port();
    ftp.ConnectTimeout = 200;
    ftp.ReadTimeout = 300;
    EXPECT_EQ(FailureOf<EIdConnectTimeout>([&] { ftp.Connect(); }), QStringLiteral("Connect timed out."));
    EXPECT_FALSE(ftp.Connected());

    // The passive data connection to the same unanswering port.
    const unsigned port = full.Port();
    TFakeFtpServer server([&](TFakeSession& s, int) {
        s.Reply("220 hi");
        s.Login();
        s.On("PASV", "227 Entering Passive Mode (127,0,0,1," + QByteArray::number(port / 256) + ","
                         + QByteArray::number(port % 256) + ")");
    });
    PointAt(ftp, server);
    ftp.Connect();
    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    EXPECT_EQ(FailureOf<EIdConnectTimeout>([&] { ftp.Get("x", &sink); }), QStringLiteral("Connect timed out."));
    ftp.Disconnect();
}

// A close request must be heard while the client waits: an abort asked from
// OnWait ends a connect that is never answered, a reply that never comes and
// a data connection gone quiet, each within a slice of the wait, with the
// session closed; the hook runs while waiting.
TEST(FtpFakeTimeout, AbortFromTheWaitHookEndsEveryWait)
{
    TUnansweredPort full;
    TFakeFtpServer silentUser([](TFakeSession& s, int) {
        s.Reply("220 hi");
        s.Login();
        s.On("USER", [](TFakeSession& s, const QByteArray&) { s.Pause(1500); });
    });
    TFakeFtpServer stalled(StalledRetr(1500));
    const struct {
        const char* Phase;
        std::uint16_t Port;
        bool Retr;
    } rows[] = {{"connect", full.Port(), false},
                {"reply", silentUser.Port(), false},
                {"data", stalled.Port(), true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Phase);
        TIdFTP ftp;
        ftp.Host = QStringLiteral("127.0.0.1");
        ftp.Port = row.Port;
        ftp.ConnectTimeout = ftp.ReadTimeout = ftp.TransferTimeout = 30000;
        int idle = 0;
        QElapsedTimer clock;
        if (row.Retr)
            ftp.Connect();
        ftp.OnWait = [&] {
            if (++idle == 3)
                ftp.Abort();
        };
        QBuffer sink;
        sink.open(QIODevice::WriteOnly);
        clock.start();
        EXPECT_THROW(row.Retr ? ftp.Get("x", &sink) : ftp.Connect(), EIdFTPAborted);
        EXPECT_LT(clock.elapsed(), 1000);
        EXPECT_EQ(idle, 3);
        EXPECT_FALSE(ftp.Connected());
    }
}

namespace {

struct TToolRun {
    int ExitCode;
    QString Errors;
    qint64 Ms;
};

TToolRun RunZemboFtp(const QStringList& args)
{
    QProcess tool;
    QElapsedTimer clock;
    clock.start();
    tool.start(QStringLiteral(ZEMBO_FTP_PATH), args);
    EXPECT_TRUE(tool.waitForFinished(20000));
    return {tool.exitCode(), QString::fromLocal8Bit(tool.readAllStandardError()), clock.elapsed()};
}

} // namespace

// zembo-ftp: text from the address that would break a command line is refused
// before the connection opens (nothing listens on the port: a connect would
// show "Connection refused."); a name that is no file likewise; a silent
// server ends the run after --timeout; a bad command line is a usage error.
TEST(FtpTool, RefusesBeforeConnectingAndTimesOut)
{
    asio::io_context context;
    asio::ip::tcp::acceptor closed(context, asio::ip::tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0));
    const QString url = QStringLiteral("ftp://127.0.0.1:%1/").arg(closed.local_endpoint().port());
    closed.close();
    TToolRun run = RunZemboFtp({url + "dir%0D%0ADELE%20victim", "ls"});
    EXPECT_EQ(run.ExitCode, 2);
    EXPECT_TRUE(run.Errors.contains("The directory holds a CR, LF or NUL character")) << run.Errors.toStdString();
    run = RunZemboFtp({QString(url).replace("ftp://", "ftp://u%0Aser@"), "ls"});
    EXPECT_TRUE(run.Errors.contains("The user name holds a CR, LF or NUL character")) << run.Errors.toStdString();
    run = RunZemboFtp({url, "get", "a\r\nDELE victim"});
    EXPECT_TRUE(run.Errors.contains("The file name holds a CR, LF or NUL character")) << run.Errors.toStdString();
    for (const QStringList& usage : {QStringList{"--timeout", "0", url, "ls"}, QStringList{"--bogus", url, "ls"},
                                     QStringList{url, "size"}, QStringList{"http://127.0.0.1/", "ls"}}) {
        run = RunZemboFtp(usage);
        EXPECT_EQ(run.ExitCode, 2) << usage.join(u' ').toStdString();
        EXPECT_TRUE(run.Errors.contains("uso: zembo-ftp")) << run.Errors.toStdString();
    }
    run = RunZemboFtp({url, "get", "sub/"});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(run.Errors.trimmed(),
              QStringLiteral("Cannot create file \"%1\". It names a folder, not a file.").arg(QDir::currentPath()));

    TFakeFtpServer silent([](TFakeSession&, int) {});
    run = RunZemboFtp({"--timeout", "1", QStringLiteral("ftp://127.0.0.1:%1/").arg(silent.Port()), "ls"});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(run.Errors.trimmed(), QStringLiteral("Read timed out."));
    EXPECT_LT(run.Ms, 5000);
}
