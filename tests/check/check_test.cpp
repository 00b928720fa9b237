// zembo-check run as the operator runs it, in an installation folder, against
// a private pyftpdlib serving "keldarin", the services' MariaDB as the central
// catalogue and an embedded Firebird customer database: what it reports, its
// exit codes, the update window's messages, and that nothing changes; with a
// release signed by the real minisign, the release and each file against it.
#include "release/release.h"
#include "tests/db/catalogtest.h"
#include "tests/db/fbtest.h"
#include "tests/support/testenv.h"
#include "upgrade/history.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <QTimeZone>
#include <chrono>
#include <filesystem>
#include <map>

namespace {

const QString Alias = QStringLiteral("KELDARIN");

QString TestName()
{
    return QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()).toLower();
}

void SetTime(const QString& path, const QDateTime& time)
{
    namespace fs = std::filesystem;
    const auto seconds = std::chrono::sys_seconds(std::chrono::seconds(time.toSecsSinceEpoch()));
    fs::last_write_time(fs::path(path.toStdString()), std::chrono::file_clock::from_sys(seconds));
}

void WriteFileAt(const QString& path, const QByteArray& bytes, const QDateTime& time)
{
    WriteBytes(path, bytes);
    SetTime(path, time);
}

// A recent minute: the server lists times of the last six months to the
// minute, older ones by the day.
QDateTime Released()
{
    const QDateTime t = QDateTime::currentDateTimeUtc().addDays(-3);
    return QDateTime(t.date(), QTime(t.time().hour(), t.time().minute()), QTimeZone::utc());
}

QString Shown(const QDateTime& time)
{
    return time.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
}

// Every file below a folder with its time, size and content.
std::map<QString, QString> Snapshot(const QString& folder)
{
    std::map<QString, QString> files;
    QDirIterator it(folder, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info = it.nextFileInfo();
        const QString hash = info.isFile()
                                 ? QString::fromLatin1(QCryptographicHash::hash(ReadBytes(info.filePath()),
                                                                                QCryptographicHash::Sha1).toHex())
                                 : QStringLiteral("dir");
        files[info.filePath()] = QString::number(info.lastModified().toMSecsSinceEpoch()) + u' ' + hash;
    }
    return files;
}

struct TResult {
    int Exit = -1;
    QStringList Out;
    QString Err;
};

// A private FTP server on a free port, serving its own folder as the
// program's fixed account.
class TFtpServer {
public:
    explicit TFtpServer(const QString& root)
    {
        QDir().mkpath(root);
        FProcess.setProcessChannelMode(QProcess::MergedChannels);
        FProcess.start(QStringLiteral("/usr/bin/python3"),
                       {QStringLiteral("-m"), QStringLiteral("pyftpdlib"), QStringLiteral("-i"),
                        QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QStringLiteral("0"), QStringLiteral("-d"),
                        root, QStringLiteral("-u"), ServiceEnv("ZEMBO_FTP_USER"), QStringLiteral("-P"),
                        ServiceEnv("ZEMBO_FTP_PASSWORD")});
        const QRegularExpression started(QStringLiteral("starting FTP server on 127\\.0\\.0\\.1:(\\d+)"));
        QByteArray log;
        for (int i = 0; i < 100 && FPort.isEmpty(); ++i) {
            FProcess.waitForReadyRead(100);
            log += FProcess.readAll();
            FPort = started.match(QString::fromUtf8(log)).captured(1);
        }
        EXPECT_FALSE(FPort.isEmpty()) << log.constData();
    }
    ~TFtpServer()
    {
        FProcess.kill();
        FProcess.waitForFinished(5000);
    }
    QString Port() const { return FPort; }

private:
    QProcess FProcess;
    QString FPort;
};

class ZemboCheck : public ::testing::Test {
protected:
    ZemboCheck()
    {
        QDir().mkpath(Server());
        FCatalog.Exec(QStringLiteral("ALTER TABLE principal ADD senha_ftp2 VARCHAR(60)"));
        FCatalog.Exec(QStringLiteral("INSERT INTO principal VALUES ('%1', '%2')")
                          .arg(Scrambled(ServiceEnv("ZEMBO_FTP_PASSWORD"), 1), Scrambled(QStringLiteral("errada"), 2)));
        Lay();
    }

    // The installation folder with all it needs, the archiver, the registry
    // and the aliases.
    void Lay()
    {
        QDir().mkpath(Install());
        WriteBytes(FDir.File("pf/winrar/winrar.exe"), "#!/bin/sh\n");
        WriteBytes(FDir.File("registry.ini"),
                   "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion]\nProgramFilesDir="
                       + FDir.File("pf").toUtf8() + "\n");
        WriteBytes(Install("Quendarive.exe"), "old program");
        WriteBytes(Install("Tolvenra.INI"), "ALIAS_DA_BASE=" + Alias.toUtf8() + "\r\n[OUTRAS]\r\n");
        WriteBytes(Install("atualiza.cfg"), "127.0.0.1\r\n" + FFtp.Port().toUtf8() + "\r\n\r\n\r\n");
        WriteAliases(FCatalog.CheckAlias());
    }

    QString Install(const QString& name = {}) const { return FDir.File(QStringLiteral("inst/") + name); }
    QString Server(const QString& name = {}) const { return FDir.File(QStringLiteral("ftp/keldarin/") + name); }
    void WriteAliases(const QByteArray& check)
    {
        WriteBytes(FDir.File("aliases.ini"), check + "[" + Alias.toUtf8() + "]\nTYPE=INTRBASE\nSERVER NAME="
                                                 + FCustomer.Path().toUtf8() + "\n");
    }
    // The released scripts of the catalogue; VERSAO recording version.
    void Scripts(const QString& recorded)
    {
        FCatalog.AddScript("KELDARIN", "0002", "S", "CREATE TABLE T2 (X INTEGER);");
        FCatalog.AddScript("KELDARIN", "0010", "S", "CREATE TABLE T10 (X INTEGER);");
        FCatalog.AddScript("KELDARIN", "0003", "S", "CREATE TABLE T3 (X INTEGER);");
        FCatalog.AddScript("KELDARIN", "0004", "N", "CREATE TABLE T4 (X INTEGER);"); // held back
        FCatalog.AddScript("OUTRO", "0020", "S", "CREATE TABLE T20 (X INTEGER);");   // another program's
        FCustomer.Exec({"CREATE TABLE VERSAO (VERSAO VARCHAR(10))", "INSERT INTO VERSAO VALUES ('" + recorded + "')"});
    }
    QString Versao() { return FCustomer.Scalar(QStringLiteral("SELECT LIST(VERSAO) FROM VERSAO")); }

    TResult Run(const QStringList& arguments = {QStringLiteral("--tsv")})
    {
        FCustomer.Database().Close(); // the tool opens the file itself
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ZEMBO_REGISTRY"), FDir.File("registry.ini"));
        env.insert(QStringLiteral("ZEMBO_ALIASES"), FDir.File("aliases.ini"));
        env.insert(QStringLiteral("TZ"), QStringLiteral("UTC")); // the server lists UTC times
        env.insert(QStringLiteral("ZEMBO_RELEASE_KEYS"), KeyFile()); // none until a test trusts one
        tool.setProcessEnvironment(env);
        tool.setWorkingDirectory(Install());
        tool.start(QStringLiteral(ZEMBO_CHECK), arguments);
        EXPECT_TRUE(tool.waitForFinished(120000));
        TResult result;
        result.Exit = tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
        result.Out = QString::fromUtf8(tool.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        result.Err = QString::fromUtf8(tool.readAllStandardError()).trimmed();
        return result;
    }

    QString KeyFile() const { return FDir.File("release-keys.pub"); }

    // A key pair made by minisign without password: NAME.pub, NAME.key.
    QString Key(const QString& name)
    {
        const QString pub = FDir.File(name + ".pub");
        if (!QFile::exists(pub))
            Minisign({"-G", "-W", "-p", pub, "-s", FDir.File(name + ".key")});
        return pub;
    }
    void Trust(const QString& name) { WriteBytes(KeyFile(), ReadBytes(Key(name))); }
    // The id minisign prints in the public key's comment.
    QString KeyId(const QString& name) { return QString::fromLatin1(ReadBytes(Key(name)).split('\n')[0]).section(u' ', -1); }

    // The server's folder released as the maker does: the manifest of the
    // release library, signed by minisign; with expires, expiring that day.
    void SignRelease(qint64 serial, const QString& signer = QStringLiteral("maker"), const QDate& expires = {})
    {
        Key(signer);
        const QString manifest = Server(ReleaseManifestName);
        QFile::remove(manifest);
        TManifest made = MakeManifest(Server(), serial);
        if (expires.isValid())
            made.Expires = expires.toString(Qt::ISODate);
        WriteBytes(manifest, FormatManifest(made));
        Minisign({"-S", "-s", FDir.File(signer + ".key"), "-m", manifest});
    }

    static void Minisign(const QStringList& arguments)
    {
        QProcess minisign;
        minisign.setProcessChannelMode(QProcess::MergedChannels);
        minisign.start(QStringLiteral("minisign"), arguments);
        ASSERT_TRUE(minisign.waitForFinished(20000));
        ASSERT_EQ(minisign.exitCode(), 0) << minisign.readAll().constData();
    }

    TScratchDir FDir;
    TFtpServer FFtp{FDir.File("ftp")};
    TCatalogTestDatabase FCatalog{"zembo_ck_" + TestName().left(40)};
    TFbTestDatabase FCustomer{"ck-" + TestName().left(24), fbEmbedded, QDir::tempPath()};
};

} // namespace

TEST_F(ZemboCheck, ListsPendingFilesAndScriptsInOrderAndChangesNothing)
{
    const QDateTime released = Released();
    QDir().mkpath(Server("Arquivos_dlls"));
    SetTime(Server("Arquivos_dlls"), released);
    WriteFileAt(Server("novo.dll"), "new", released);
    WriteFileAt(Install("novo.dll"), "older", released.addSecs(-60));
    WriteFileAt(Server("igual.dll"), "server copy", released);
    WriteFileAt(Install("igual.dll"), "local copy", released.addSecs(59)); // the same minute
    WriteFileAt(Server("Quendarive.rar"), "archive", released);
    Scripts("0001");
    const auto install = Snapshot(Install()), server = Snapshot(FDir.File("ftp"));

    const TResult r = Run();
    EXPECT_EQ(r.Exit, 3) << r.Err.toStdString();
    EXPECT_EQ(r.Err, QString());
    QStringList files = r.Out.filter(QRegularExpression(QStringLiteral("^arquivo\t")));
    files.sort();
    const QString at = Shown(released);
    EXPECT_EQ(files, QStringList({"arquivo\tArquivos_dlls\t" + at + "\tausente\tnunca baixado",
                                  "arquivo\tQuendarive.rar\t" + at + "\tausente\tbaixar",
                                  "arquivo\tigual.dll\t" + at + u'\t' + Shown(released.addSecs(58)) + "\tatualizado",
                                  "arquivo\tnovo.dll\t" + at + u'\t' + Shown(released.addSecs(-60)) + "\tbaixar"}));
    EXPECT_EQ(r.Out.mid(files.size()), QStringList({"substituicao\tQuendarive.exe\tsim",
                                                    "versao\tKELDARIN\t0001",
                                                    "script\tKELDARIN\tKELDARIN\t0002",
                                                    "script\tKELDARIN\tKELDARIN\t0003",
                                                    "script\tKELDARIN\tKELDARIN\t0010",
                                                    "assinatura\tnão verificada (nenhuma chave configurada)"}));

    EXPECT_EQ(Snapshot(Install()), install);
    EXPECT_EQ(Snapshot(FDir.File("ftp")), server);
    EXPECT_EQ(Versao(), "0001");
    EXPECT_EQ(FCustomer.Scalar("SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'T2'"), "0");

    // The plain form says the same in columns.
    const TResult plain = Run({});
    EXPECT_EQ(plain.Exit, 3);
    EXPECT_TRUE(plain.Out.contains(
        QRegularExpression("^arquivo  novo\\.dll +" + at + "  " + Shown(released.addSecs(-60)) + "  baixar$")))
        << plain.Out.join(u'\n').toStdString();
    EXPECT_TRUE(plain.Out.contains(QStringLiteral("script  KELDARIN  KELDARIN  0010")));
}

TEST_F(ZemboCheck, NothingToDoExitsZero)
{
    WriteBytes(Install("atualiza.cfg"), "127.0.0.1\r\n" + FFtp.Port().toUtf8() + "\r\nfalse\r\n"); // active mode
    const QDateTime released = Released();
    WriteFileAt(Server("igual.dll"), "same", released);
    WriteFileAt(Install("igual.dll"), "same", released.addSecs(30));
    WriteFileAt(Server("Quendarive.rar"), "archive", released);
    WriteFileAt(Install("Quendarive.rar"), "archive", released);
    Scripts("0010");
    const TResult r = Run();
    EXPECT_EQ(r.Exit, 0) << r.Err.toStdString();
    EXPECT_EQ(r.Out.mid(2), QStringList({"substituicao\tQuendarive.exe\tnão", "versao\tKELDARIN\t0010", "assinatura\tnão verificada (nenhuma chave configurada)"}));
}

TEST_F(ZemboCheck, WithoutVersaoListsTheScriptsAfterZeroAndCreatesNothing)
{
    FCatalog.AddScript("KELDARIN", "0002", "S", "CREATE TABLE T2 (X INTEGER);");
    // the main executable missing and its archive here: the run would replace it
    QFile::rename(Install("Quendarive.exe"), Install("Quendarive.old"));
    WriteBytes(Install("Quendarive.rar"), "archive");
    const TResult r = Run();
    EXPECT_EQ(r.Exit, 3) << r.Err.toStdString();
    EXPECT_EQ(r.Out, QStringList({"substituicao\tQuendarive.exe\tsim", "versao\tKELDARIN\tsem VERSAO",
                                  "script\tKELDARIN\tKELDARIN\t0002", "assinatura\tnão verificada (nenhuma chave configurada)"}));
    EXPECT_EQ(FCustomer.Scalar("SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'VERSAO'"), "0");
}

TEST_F(ZemboCheck, RefusedNameWithItsReason)
{
    WriteFileAt(Server("..\\fora.dll"), "evil", Released());
    WriteFileAt(Server("Quendarive.rar"), "archive", Released());
    Scripts("0010");
    const TResult r = Run();
    ASSERT_EQ(r.Out.size(), 5) << r.Out.join(u'\n').toStdString() << r.Err.toStdString();
    const QStringList refused = r.Out.filter(QStringLiteral("..\\\\fora.dll")); // escaped backslash
    ASSERT_EQ(refused.size(), 1);
    const QStringList fields = refused.first().split(u'\t');
    ASSERT_EQ(fields.size(), 6);
    EXPECT_EQ(fields.mid(3, 2), QStringList({"-", "recusado"}));
    EXPECT_FALSE(fields[5].isEmpty());
    // a refused file fails the run: nothing would be replaced
    EXPECT_TRUE(r.Out.contains("substituicao\tQuendarive.exe\tnão"));
    EXPECT_EQ(r.Exit, 3);
    EXPECT_FALSE(QFile::exists(FDir.File("fora.dll")));
}

TEST_F(ZemboCheck, EachFailedCheckGivesTheWindowsMessage)
{
    const QString ini = Install("Tolvenra.INI");
    struct TCase {
        const char* Spoil;
        std::function<void()> Do;
        QString Message;
    };
    const QList<TCase> cases = {
        {"archiver", [&] { QFile::remove(FDir.File("pf/winrar/winrar.exe")); },
         "Favor fazer a instalação do Winrar Primeiro. Voce será redirecionado para o download."},
        {"main executable", [&] { QFile::remove(Install("Quendarive.exe")); },
         "Arquivo Quendarive.exe não encontrado nesta pasta que você executou o atualiza_keldarin.exe"},
        {"settings file", [&] { QFile::remove(ini); },
         "Arquivo Tolvenra.ini não encontrado nesta pasta que você executou o atualiza_keldarin.exe"},
        {"short first line", [&] { WriteBytes(ini, "CURTA\r\n"); }, "Alias  do BDE não encontrado."},
        {"catalogue", [&] { WriteAliases("[Check]\nTYPE=MYSQL\nHOST=127.0.0.1\nPORT=1\nDATABASE NAME=x\n"); },
         "Conexão com o MYSQL da internet não localizado."},
        {"customer database", [&] { QFile::remove(FCustomer.Path()); },
         "Alias KELDARIN encontrado, mas arquivo apontado por ele " + FCustomer.Path() + " não foi encontrado."},
        {"script error file", [&] { WriteBytes(Install("SCRIPT_ERRO_DT_01-12-2026_HR_10-00-00 M-KELDARIN.TXT"), "x"); },
         "SCRIPT EM EXECUÇÃO SALVO: SCRIPT_ERRO_DT_01-12-2026_HR_10-00-00 M-KELDARIN.TXT"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Spoil);
        Lay();
        c.Do();
        const TResult r = Run();
        EXPECT_EQ(r.Exit, 1);
        EXPECT_TRUE(r.Err.startsWith(c.Message)) << r.Err.toStdString();
        EXPECT_EQ(r.Out, QStringList());
    }
}

TEST_F(ZemboCheck, UnreachableServerWrongPasswordAndBadUsage)
{
    // the alternate password of senha_ftp2, which this server refuses
    WriteBytes(Install("atualiza.cfg"), "127.0.0.1\r\n" + FFtp.Port().toUtf8() + "\r\n\r\nx\r\n");
    const TResult refused = Run();
    EXPECT_EQ(refused.Exit, 1);
    EXPECT_TRUE(refused.Err.startsWith("Não foi possível estabelecer conexão ftp.")) << refused.Err.toStdString();


    WriteBytes(Install("atualiza.cfg"), "127.0.0.1\r\n1\r\n");
    const TResult r = Run();
    EXPECT_EQ(r.Exit, 1);
    EXPECT_TRUE(r.Err.startsWith("Não foi possível estabelecer conexão ftp.\n\nTENTE MAIS TARDE.\n"))
        << r.Err.toStdString();
    EXPECT_EQ(r.Out, QStringList());

    const TResult usage = Run({QStringLiteral("--json")});
    EXPECT_EQ(usage.Exit, 2);
    EXPECT_TRUE(usage.Err.contains("uso: zembo-check")) << usage.Err.toStdString();
}

// With a trusted key: the release's serial, the key that signed it, and each
// of its files against the local copy; a file served after signing is
// refused, one installed from a tampered server does not match; a release
// signed by another key fails the check.
TEST_F(ZemboCheck, SignedReleaseAndEachFileAgainstIt)
{
    const QDateTime released = Released();
    WriteFileAt(Server("lib.dll"), "version 2", released);
    WriteFileAt(Install("lib.dll"), "version 2", released);
    WriteFileAt(Server("Quendarive.rar"), "archive", released);
    Scripts("0010");
    const QString id = KeyId("maker");
    const QString valid = "assinatura\tválida\tversão 7\tchave " + id;
    struct TRow {
        const char* Case;
        std::function<void()> Do;
        int Exit;
        QStringList Records; // assinatura, manifesto and refused arquivo records
    };
    const QList<TRow> rows = {
        {"intact", [&] { SignRelease(7); Trust("maker"); }, 3,
         {valid, "manifesto\tQuendarive.rar\tausente", "manifesto\tlib.dll\tconfere"}},
        {"another key", [&] { SignRelease(7, "other"); }, 1, {}},
        {"tampered",
         [&] {
             SignRelease(7);
             // changed on the server after signing, and fetched before the key was trusted
             WriteFileAt(Server("lib.dll"), "version 3", released);
             WriteFileAt(Install("lib.dll"), "version 3", released);
             WriteFileAt(Server("extra.dll"), "unsigned", released);
         },
         3,
         {"arquivo\textra.dll\t" + Shown(released) + "\t-\trecusado\to arquivo não consta do manifesto assinado da versão",
          valid, "manifesto\tQuendarive.rar\tausente", "manifesto\tlib.dll\tsha256"}},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Case);
        row.Do();
        const TResult r = Run();
        EXPECT_EQ(r.Exit, row.Exit) << r.Err.toStdString();
        EXPECT_EQ(r.Out.filter(QRegularExpression("^(assinatura|manifesto|arquivo\t.*\trecusado)\t")), row.Records)
            << r.Out.join(u'\n').toStdString();
        EXPECT_EQ(r.Err.isEmpty(), row.Exit != 1) << r.Err.toStdString();
    }
}

// The signed manifest's expiry is shown, with a warning from a week before;
// an expired manifest, or no key where a signed release was accepted, fails
// the check with the reason.
TEST_F(ZemboCheck, ExpiryShownAndWarnedAndAMissingKeyRefused)
{
    const QDateTime released = Released();
    WriteFileAt(Server("lib.dll"), "version 2", released);
    WriteFileAt(Install("lib.dll"), "version 2", released);
    Scripts("0010");
    Trust("maker");
    const QDate today = QDateTime::currentDateTimeUtc().date(); // the tool runs in UTC
    const auto shown = [](const QDate& date) { return date.toString("dd/MM/yyyy"); };
    const struct {
        int Days;
        QStringList Records;
    } rows[] = {
        {0, {"validade	sem prazo"}},
        {30, {"validade	expira em " + shown(today.addDays(30))}},
        {8, {"validade	expira em " + shown(today.addDays(8))}},
        {7, {"validade	expira em " + shown(today.addDays(7)) +
                 "	aviso: faltam 7 dias; depois a versão será recusada até o servidor publicar uma nova"}},
        {1, {"validade	expira em " + shown(today.addDays(1)) +
                 "	aviso: falta 1 dia; depois a versão será recusada até o servidor publicar uma nova"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Days);
        SignRelease(7, "maker", row.Days > 0 ? today.addDays(row.Days) : QDate());
        const TResult r = Run();
        EXPECT_EQ(r.Exit, 0) << r.Err.toStdString();
        EXPECT_EQ(r.Out.filter(QRegularExpression("^validade\t")), row.Records) << r.Out.join(u'\n').toStdString();
    }

    SignRelease(7, "maker", today);
    TResult r = Run();
    EXPECT_EQ(r.Exit, 1);
    EXPECT_TRUE(r.Err.contains("Versão 7 recusada: o manifesto assinado expirou em " + shown(today))) << r.Err.toStdString();

    SignRelease(7);
    AcceptRelease(Install(), ReadBytes(Server(ReleaseManifestName)));
    QFile::remove(KeyFile());
    r = Run();
    EXPECT_EQ(r.Exit, 1);
    EXPECT_TRUE(r.Err.contains("Esta instalação já aceitou uma versão assinada (zembo-release.aceito), mas nenhuma chave"))
        << r.Err.toStdString();
    EXPECT_TRUE(r.Out.isEmpty());
}

// --verify: the installed files against the last accepted release, with no
// server and no database; the Arquivos_dlls entry is never judged.
TEST_F(ZemboCheck, VerifyNamesTheInstalledFilesThatDiffer)
{
    QFile::remove(FDir.File("aliases.ini"));
    WriteBytes(Install("atualiza.cfg"), "127.0.0.1\r\n1\r\n");
    const QStringList verify{QStringLiteral("--verify"), QStringLiteral("--tsv")};
    TResult r = Run(verify);
    EXPECT_EQ(r.Exit, 1);
    EXPECT_TRUE(r.Err.startsWith("Nenhuma versão assinada foi aceita nesta pasta")) << r.Err.toStdString();

    for (const char* name : {"lib.dll", "Quendarive.rar", "Arquivos_dlls"})
        WriteBytes(FDir.File(QStringLiteral("release/") + name), QByteArray("content of ") + name);
    AcceptRelease(Install(), FormatManifest(MakeManifest(FDir.File("release"), 5)));
    for (const char* name : {"lib.dll", "Quendarive.rar"})
        QFile::copy(FDir.File(QStringLiteral("release/") + name), Install(name));
    r = Run(verify);
    EXPECT_EQ(r.Exit, 0) << r.Err.toStdString();
    EXPECT_EQ(r.Out, QStringList({"aceita\tversão 5\t2 arquivos"}));

    QByteArray bytes = ReadBytes(Install("lib.dll"));
    bytes[3] = 'X';
    WriteBytes(Install("lib.dll"), bytes);
    r = Run(verify);
    EXPECT_EQ(r.Exit, 1);
    EXPECT_EQ(r.Out, QStringList({"aceita\tversão 5\t2 arquivos", "manifesto\tlib.dll\tsha256"}));
}

// --history shows VERSAO and the rows newest first; --validate lists a
// script edited in the catalogue after it ran (exit 1), but not one whose
// line endings alone changed (exit 0). A pending script error file does
// not keep support from reading the history.
TEST_F(ZemboCheck, HistoryAndValidation)
{
    const QByteArray text = "CREATE TABLE T2 (X INTEGER);\nINSERT INTO T2 VALUES (1);\n";
    FCatalog.AddScript("KELDARIN", "0002", "S", text);
    FCustomer.Exec({"CREATE TABLE VERSAO (VERSAO VARCHAR(10))", "INSERT INTO VERSAO VALUES ('0002')"});
    {
        TUpgradeHistory history(FCustomer.Database());
        history.Begin({"KELDARIN", "0001", "", "2026-12-01 10:00:00.000", 0, 0, HistoryBaseline, "", "", "", "t"});
        history.Record({"KELDARIN", "0002", ScriptChecksum(text), "2026-12-01 10:00:01.000", 12, 2, HistoryOk, "", "",
                        "KELDARIN-0001-20261201-100000.fbk", "t"});
    }
    WriteBytes(Install("SCRIPT_ERRO_DT_01-12-2026_HR_10-00-02 M-KELDARIN.TXT"), "erro");

    TResult r = Run({"--history", "--tsv"});
    EXPECT_EQ(r.Exit, 0) << r.Err.toStdString();
    ASSERT_EQ(r.Out.size(), 3) << r.Out.join(u'\n').toStdString();
    EXPECT_EQ(r.Out[0], "versao\tKELDARIN\t0002");
    EXPECT_TRUE(r.Out[1].startsWith("historico\tKELDARIN\t0002\tOK\t2026-12-01 10:00:01")) << r.Out[1].toStdString();
    EXPECT_TRUE(r.Out[1].contains("KELDARIN-0001-20261201-100000.fbk"));
    EXPECT_TRUE(r.Out[2].startsWith("historico\tKELDARIN\t0001\tBASE\t")) << r.Out[2].toStdString();

    r = Run({"--validate", "--tsv"});
    EXPECT_EQ(r.Exit, 0) << r.Out.join(u'\n').toStdString() << r.Err.toStdString();
    EXPECT_EQ(r.Out, QStringList());

    FCatalog.Exec("UPDATE scripts SET texto='CREATE TABLE T2 (X INTEGER);\\r\\nINSERT INTO T2 VALUES (1);\\r\\n'");
    r = Run({"--validate", "--tsv"});
    EXPECT_EQ(r.Exit, 0) << r.Out.join(u'\n').toStdString();

    FCatalog.Exec("UPDATE scripts SET texto='CREATE TABLE T2 (X INTEGER);\\nINSERT INTO T2 VALUES (2);\\n'");
    r = Run({"--validate", "--tsv"});
    EXPECT_EQ(r.Exit, 1);
    ASSERT_EQ(r.Out.size(), 1) << r.Out.join(u'\n').toStdString();
    EXPECT_TRUE(r.Out[0].startsWith("alterado\tKELDARIN\t0002\t")) << r.Out[0].toStdString();
}
