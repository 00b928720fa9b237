// A whole update of a prepared installation against the real services:
// once through the session itself (its outcome, its reports, its run log),
// then through zembo-update as a scheduler runs it, without a display, for
// what only the tool does (exit codes, the lock, the error file that blocks,
// the bounded log) and for signed releases made with the real minisign.
#include "delta/delta.h"
#include "platform/files.h"
#include "platform/lock.h"
#include "release/release.h"
#include "tests/support/rar4writer.h"
#include "tests/update/installation.h"
#include "update/https/httpssource.h"
#include "update/partial.h"
#include "update/session.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <algorithm>
#include <functional>
#include <map>

namespace {

const QString Success = "Atualização finalizada com sucesso.";
const QString Contact = "Atualização finalizada com erros, necessário contactar Belmora Sistemas.";
const QString FailingScript = "CREATE TABLE T1 (X INTEGER);\r\nINSERT INTO NADA VALUES (1);";

// What the session reports, one line per event.
class TRecorder : public TSessionObserver {
public:
    QStringList Events;
    void FileStarted(int, const QString& name) override { FFile = name; }
    void StateChanged(int, TNodeState state) override
    {
        if (state == nsGreen)
            Events << "baixado " + FFile;
    }
    void FileFailed(int, const QString& message) override { Events << "falhou " + message; }
    void Error(const QString& text) override { Events << "erro " + text; }
    void ScriptDone(const QString& entry, const QString& versao, bool ok) override
    {
        Events << "script " + versao + " em " + entry + (ok ? " ok" : " falhou");
    }
    void ScriptSaved(const QString& errorFile) override { Events << "salvo " + errorFile; }
    void UpgradeFailed(const QString& text) override { Events << "base " + text; }

private:
    QString FFile;
};

// The first of the fragments not found in the lines after the previous one's; empty when all are.
QString MissingInOrder(const QStringList& lines, const QStringList& fragments)
{
    qsizetype at = 0;
    for (const QString& fragment : fragments) {
        while (at < lines.size() && !lines[at].contains(fragment))
            ++at;
        if (at++ == lines.size())
            return fragment;
    }
    return {};
}

struct TResult {
    int Exit = -1;
    QString Out;
    QString Err;
};

TResult RunIn(const QString& folder, const QString& program, const QStringList& args,
              const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(folder);
    process.start(program, args);
    EXPECT_TRUE(process.waitForFinished(90000)) << program.toStdString();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

// The installation folder's files with their times and contents, leaving
// out what every run writes (its log and its lock).
std::map<QString, QByteArray> Snapshot(const QString& folder)
{
    std::map<QString, QByteArray> files;
    for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        if (info.fileName().startsWith("zembo-update."))
            continue;
        files[info.fileName()] = QByteArray::number(info.lastModified().toMSecsSinceEpoch()) + ' ' +
                                 (info.isFile() ? QCryptographicHash::hash(ReadBytes(info.filePath()),
                                                                           QCryptographicHash::Sha256).toHex()
                                                : QByteArray("dir"));
    }
    return files;
}

// A release on pyftpdlib: two files and the archive of a new main executable.
class Release : public TInstallationTest {
protected:
    explicit Release(const QString& prefix) : TInstallationTest(prefix) {}
    void SetUp() override
    {
        TInstallationTest::SetUp();
        if (HasFatalFailure())
            return;
        Config(svPyftpd, false);
        WriteBytes(FWork.File("VELHO.DLL"), "versão velha");
        FileSetDate("VELHO.DLL", ServerTime() + (-1.0 / 1440));
        FCatalog.AddScript("KELDARIN", "0001", "S", "CREATE TABLE T1 (X INTEGER);");
        FCatalog.AddScript("KELDARIN", "0002", "S", "INSERT INTO T1 VALUES (2);");
    }
    void ServeRelease()
    {
        QDir(Root(svPyftpd)).removeRecursively();
        Serve(svPyftpd, "NOVO.DLL", QByteArray(300000, 'n'));
        Serve(svPyftpd, "VELHO.DLL", "versão nova");
        WriteRar4(Root(svPyftpd) + "Quendarive.rar",
                  {{"Quendarive.exe", "programa novo", QDateTime(QDate(2024, 3, 15), QTime(10, 20))}});
        FileSetDate(Root(svPyftpd) + "Quendarive.rar", ServerTime());
    }
    // Everything of the release in place: files, new program, scripts.
    void ExpectInstalled()
    {
        EXPECT_EQ(ReadBytes(FWork.File("NOVO.DLL")), QByteArray(300000, 'n'));
        EXPECT_EQ(ReadBytes(FWork.File("VELHO.DLL")), "versão nova");
        EXPECT_EQ(ToTheMinute("NOVO.DLL"), ToTheMinute(Root(svPyftpd) + "NOVO.DLL"));
        EXPECT_EQ(ReadBytes(FWork.File("Quendarive.exe")), "programa novo");
        EXPECT_EQ(ReadBytes(FWork.File("Quendarive.old")), "programa antigo");
        EXPECT_EQ(FCustomer->Scalar("SELECT VERSAO FROM VERSAO"), "0002");
        EXPECT_EQ(FCustomer->Scalar("SELECT X FROM T1"), "2");
    }
    // No replacement and no upgrade.
    void ExpectProgramAndDatabaseUntouched()
    {
        EXPECT_EQ(ReadBytes(FWork.File("Quendarive.exe")), "programa antigo");
        EXPECT_FALSE(QFileInfo::exists(FWork.File("Quendarive.old")));
        EXPECT_EQ(FCustomer->Scalar("SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'VERSAO'"), "0");
    }
    QStringList LogLines() const
    {
        if (!QFileInfo::exists(FWork.File(RunLogName)))
            return {};
        return QString::fromUtf8(ReadBytes(FWork.File(RunLogName))).split(u'\n', Qt::SkipEmptyParts);
    }
};

class Session : public Release {
protected:
    Session() : Release("zembo_se_") {}
};

// zembo-update run in the installation folder without a display; the
// release keys from a file of the test's own (none unless Trust says so).
class ZemboUpdate : public Release {
protected:
    ZemboUpdate() : Release("zembo_zu_") {}
    TResult Run(const QStringList& args = {"--apps-closed"})
    {
        FCustomer->Database().Close(); // the tool opens the file itself
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        env.insert("ZEMBO_RELEASE_KEYS", FKeys);
        const TResult r = RunIn(FWork.Path(), ZEMBO_UPDATE, args, env);
        std::fprintf(stderr, "zembo-update %s: exit %d\n%s%s", qPrintable(args.join(' ')), r.Exit, qPrintable(r.Out),
                     qPrintable(r.Err));
        return r;
    }
    // zembo-check --tsv in the installation folder, with the run's keys.
    TResult Check()
    {
        FCustomer->Database().Close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ZEMBO_RELEASE_KEYS", FKeys);
        return RunIn(FWork.Path(), ZEMBO_CHECK, {"--tsv"}, env);
    }
    // An update run killed (SIGKILL) the moment the last file it fetches is
    // in place, before the replacement begins: zembo_killedrun in this folder.
    void KillAfterTheDownloads()
    {
        FCustomer->Database().Close(); // the run opens the file itself
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ZEMBO_RELEASE_KEYS", FKeys);
        QProcess child;
        child.setProcessEnvironment(env);
        child.setWorkingDirectory(FWork.Path());
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(KILLED_RUN, QStringList());
        ASSERT_TRUE(child.waitForFinished(90000));
        ASSERT_EQ(child.exitStatus(), QProcess::CrashExit) << child.readAll().toStdString();
        EXPECT_EQ(ReadBytes(FWork.File("Quendarive.exe")), "programa antigo");
        EXPECT_TRUE(QFileInfo::exists(FWork.File("Quendarive.rar")));
        EXPECT_FALSE(QFileInfo::exists(FWork.File("Quendarive.old")));
    }
    QString FKeys = FPrograms.File("sem-chaves.pub");
};

} // namespace

// The whole sequence once: the changed files fetched, Quendarive.exe
// replaced from its archive, the scripts run, each step in the run log
// (never the password); a second run at once fetches nothing.
TEST_F(Session, UpdatesEverythingAndLogsItThenHasNothingToDo)
{
    ServeRelease();
    TRecorder recorder;
    TUpdateSession session(recorder);
    ASSERT_FALSE(session.Inicia().has_value());
    TUpdateOutcome outcome = session.Atualiza();
    EXPECT_EQ(outcome.Result, urSucesso) << outcome.Causa.toStdString();
    EXPECT_EQ(outcome.TextoFinal(), Success);
    ExpectInstalled();
    QStringList fetched = recorder.Events.filter(QRegularExpression("^baixado "));
    fetched.sort();
    EXPECT_EQ(fetched, QStringList({"baixado NOVO.DLL", "baixado Quendarive.rar", "baixado VELHO.DLL"}));
    EXPECT_EQ(recorder.Events.filter(QRegularExpression("^(script|falhou|erro|base|salvo) ")),
              QStringList({"script 0001 em M-DADOS ok", "script 0002 em M-DADOS ok"}));

    const QStringList log = LogLines();
    const QString stamp = ServerTime().ToQDateTime().toString(Qt::ISODate);
    for (const QString& line : log)
        EXPECT_TRUE(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d ").match(line).hasMatch())
            << line.toStdString();
    EXPECT_EQ(MissingInOrder(log, {"início da atualização em " + FWork.Path(),
                                   "servidor 127.0.0.1:" + ServiceEnv("ZEMBO_PYFTPD_PORT") + ", modo passivo",
                                   "arquivo NOVO.DLL baixado: 300000 bytes, de " + stamp, "arquivo Quendarive.rar baixado: ",
                                   "arquivo VELHO.DLL baixado: 12 bytes, de " + stamp,
                                   "substituição: Quendarive.exe substituído", "script 0001 em M-DADOS: executado",
                                   "script 0002 em M-DADOS: executado", "fim: " + Success}),
              QString());
    const QByteArray logBytes = ReadBytes(FWork.File(RunLogName));
    EXPECT_FALSE(logBytes.contains(ServiceEnv("ZEMBO_FTP_PASSWORD").toUtf8()));
    EXPECT_FALSE(logBytes.contains(Scrambled(ServiceEnv("ZEMBO_FTP_PASSWORD"), 1).toUtf8()));

    recorder.Events.clear();
    const auto before = Snapshot(FWork.Path());
    outcome = session.Atualiza();
    EXPECT_EQ(outcome.Result, urSucesso) << outcome.Causa.toStdString();
    EXPECT_EQ(recorder.Events.filter(QRegularExpression("^(baixado|script|falhou|erro) ")), QStringList());
    EXPECT_EQ(Snapshot(FWork.Path()), before);
    const QStringList again = LogLines().mid(log.size());
    EXPECT_EQ(again.filter(QRegularExpression(" (arquivo|substituição|script) ")), QStringList()) << again.join('\n').toStdString();
    EXPECT_EQ(MissingInOrder(again, {"início da atualização", "fim: " + Success}), QString());
}

// A failing script: saved to the error file, and every later run of the
// session ends with the script failure too.
// A download the line cut off is kept aside with what the server said of the
// file; the next run fetches only the rest, and the whole file replaces the
// local copy only then.
TEST_F(Session, AnInterruptedDownloadResumesOnTheNextRun)
{
    QByteArray big(4 * 1024 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = char((i * 7 + i / 1021) & 0xFF);
    QDir(Root(svPyftpd)).removeRecursively();
    Serve(svPyftpd, "GRANDE.BIN", big);
    WriteBytes(FWork.File("GRANDE.BIN"), "anterior");
    const QString log = FPrograms.File("pyftpd.log");
    QProcess server;
    server.start("/usr/bin/python3",
                 {SourceDir() + "/tests/ftp/pyftpd_server.py", "--root", ServiceEnv("ZEMBO_PYFTPD_ROOT"), "--user",
                  ServiceEnv("ZEMBO_FTP_USER"), "--password", ServiceEnv("ZEMBO_FTP_PASSWORD"), "--log", log,
                  "--drop-at", QString::number(1536 * 1024)});
    ASSERT_TRUE(server.waitForReadyRead(10000));
    WriteBytes(FWork.File("atualiza.cfg"), "127.0.0.1\r\n" + server.readLine().trimmed() + "\r\n");

    TRecorder recorder;
    {
        TUpdateSession session(recorder);
        ASSERT_FALSE(session.Verifica());
        EXPECT_EQ(session.Atualiza().Result, urErros);
    }
    EXPECT_EQ(ReadBytes(FWork.File("GRANDE.BIN")), "anterior");
    EXPECT_EQ(QFileInfo(FWork.File("GRANDE.BIN.zembo-parcial")).size(), 1536 * 1024);
    {
        TUpdateSession session(recorder);
        ASSERT_FALSE(session.Verifica());
        EXPECT_EQ(session.Atualiza().Result, urSucesso) << recorder.Events.join(" | ").toStdString();
    }
    EXPECT_TRUE(ReadBytes(FWork.File("GRANDE.BIN")) == big);
    EXPECT_FALSE(QFileInfo::exists(FWork.File("GRANDE.BIN.zembo-parcial")));
    QList<qint64> sent;
    for (const QByteArray& line : ReadBytes(log).split('\n'))
        if (line.startsWith("RETR GRANDE.BIN "))
            sent << line.mid(line.lastIndexOf(' ') + 1).toLongLong();
    ASSERT_EQ(sent.size(), 2);
    EXPECT_EQ(sent[1], big.size() - 1536 * 1024); // only the rest the second time
    server.kill();
    server.waitForFinished();
}

// atualiza.cfg's fifth line "TLS": the run fetches over TLS from a server
// whose certificate the CA file vouches for; a plain server is a failed
// connection, never a fallback.
TEST_F(Session, TheFifthLineAsksForTlsWithoutFallback)
{
    TScratchDir certs;
    ASSERT_EQ(QProcess::execute("bash", {SourceDir() + "/tests/ftp/make_test_certs.sh", certs.Path()}), 0);
    qputenv("ZEMBO_FTP_CA", certs.File("ca.pem").toLocal8Bit());
    ServeRelease();
    QProcess server;
    server.start("/usr/bin/python3", {SourceDir() + "/tests/ftp/pyftpd_server.py", "--root", ServiceEnv("ZEMBO_PYFTPD_ROOT"),
                                      "--user", ServiceEnv("ZEMBO_FTP_USER"), "--password", ServiceEnv("ZEMBO_FTP_PASSWORD"),
                                      "--log", certs.File("pyftpd.log"), "--tls", certs.File("good.pem"),
                                      certs.File("good.key")});
    ASSERT_TRUE(server.waitForReadyRead(10000));
    const QByteArray tlsPort = server.readLine().trimmed();
    const QByteArray plainPort = ServiceEnv("ZEMBO_PYFTPD_PORT").toUtf8();

    TRecorder recorder;
    WriteBytes(FWork.File("atualiza.cfg"), "127.0.0.1\r\n" + plainPort + "\r\n\r\n\r\nTLS\r\n");
    {
        TUpdateSession session(recorder);
        ASSERT_FALSE(session.Verifica());
        const TUpdateOutcome outcome = session.Atualiza();
        EXPECT_EQ(outcome.Result, urSemConexao);
        EXPECT_TRUE(outcome.Causa.contains("TLS")) << outcome.Causa.toStdString();
    }
    ExpectProgramAndDatabaseUntouched();
    WriteBytes(FWork.File("atualiza.cfg"), "127.0.0.1\r\n" + tlsPort + "\r\n\r\n\r\ntls\r\n");
    {
        TUpdateSession session(recorder);
        ASSERT_FALSE(session.Verifica());
        EXPECT_EQ(session.Atualiza().Result, urSucesso) << recorder.Events.join(" | ").toStdString();
    }
    ExpectInstalled();
    server.kill();
    server.waitForFinished();
    qunsetenv("ZEMBO_FTP_CA");
}

TEST_F(Session, AFailingScriptIsSavedAndKeepsFailing)
{
    FCatalog.Exec("DELETE FROM scripts");
    FCatalog.AddScript("KELDARIN", "0001", "S", FailingScript.toLatin1());
    TRecorder recorder;
    TUpdateSession session(recorder);
    ASSERT_FALSE(session.Verifica().has_value());
    TUpdateOutcome outcome = session.Atualiza();
    EXPECT_EQ(outcome.Result, urScriptFalhou);
    EXPECT_EQ(outcome.TextoFinal(), Contact);
    const QString errorFile = ArquivoErroPendente();
    EXPECT_TRUE(errorFile.startsWith("SCRIPT_ERRO_DT_")) << errorFile.toStdString();
    EXPECT_TRUE(errorFile.endsWith(" DADOS.TXT") || errorFile.endsWith("-DADOS.TXT")) << errorFile.toStdString();
    EXPECT_TRUE(recorder.Events.contains("salvo " + errorFile)) << recorder.Events.join(" | ").toStdString();
    EXPECT_EQ(MissingInOrder(LogLines(), {"erro no script", "script salvo em " + errorFile, "fim: " + Contact}), QString());
    // The error's line names the backup taken before the script.
    const QStringList backups = QDir(FWork.File("backup")).entryList(QDir::Files);
    ASSERT_EQ(backups.size(), 1);
    EXPECT_FALSE(LogLines().filter("erro no script").filter("(cópia de segurança: " + FWork.File("backup/" + backups.first()) + ")").isEmpty())
        << LogLines().join('\n').toStdString();

    EXPECT_EQ(session.Atualiza().Result, urScriptFalhou);
}

// The first run updates everything and exits 0; at once again nothing is
// fetched, and the run log, grown past 2 MiB, is cut to its last MiB at a
// line's start.
TEST_F(ZemboUpdate, UpdatesThenHasNothingToDoAndKeepsItsLogBounded)
{
    ServeRelease();
    TResult r = Run();
    EXPECT_EQ(r.Exit, 0) << r.Err.toStdString();
    EXPECT_TRUE(r.Out.contains("baixado    NOVO.DLL (300000 bytes, ")) << r.Out.toStdString();
    EXPECT_TRUE(r.Out.contains("script     0002 em M-DADOS")) << r.Out.toStdString();
    EXPECT_TRUE(r.Out.trimmed().endsWith(Success));
    EXPECT_FALSE(r.Out.contains('\r')); // no progress line when the output is no terminal
    ExpectInstalled();

    const QByteArray old = "2020-01-01T00:00:00 linha antiga de um registro que cresceu demais\n";
    QByteArray filler;
    while (filler.size() <= TRunLog::MaxSize)
        filler += old;
    WriteBytes(FWork.File(RunLogName), filler);
    const auto before = Snapshot(FWork.Path());
    r = Run();
    EXPECT_EQ(r.Exit, 0) << r.Err.toStdString();
    EXPECT_FALSE(r.Out.contains("baixado")) << r.Out.toStdString();
    EXPECT_EQ(Snapshot(FWork.Path()), before);

    const QByteArray log = ReadBytes(FWork.File(RunLogName));
    const qsizetype oldPart = log.lastIndexOf(old) + old.size();
    EXPECT_LE(oldPart, TRunLog::KeptSize);
    EXPECT_GT(oldPart, TRunLog::KeptSize - old.size() * 2);
    EXPECT_TRUE(log.startsWith(old));
    EXPECT_LT(log.size() - oldPart, 4096); // this run's lines
    EXPECT_TRUE(log.endsWith("fim: " + Success.toUtf8() + "\n"));
}

// Usage, the lock, the server: each refusal exits with its code and leaves
// the installation as it was.
TEST_F(ZemboUpdate, RefusalsChangeNothing)
{
    ServeRelease();
    struct TCase {
        QString Name;
        std::function<void()> Prepare;
        QStringList Args;
        int Exit;
        QString Says;
    };
    TFileLock other(FWork.File("zembo-update.lock"));
    const QList<TCase> cases = {
        {"without --apps-closed", [] {}, {}, 2, "--apps-closed"},
        {"another update holds the folder", [&] { ASSERT_TRUE(other.TryLock()); }, {"--apps-closed"}, 5,
         "Outra atualização desta pasta está em andamento."},
        {"the FTP server is down",
         [&] {
             other.Unlock();
             Config(svPyftpd, false, "1");
         },
         {"--apps-closed"}, 1, "Não foi possível estabelecer conexão ftp"},
    };
    for (const TCase& c : cases) {
        c.Prepare();
        const auto before = Snapshot(FWork.Path());
        const TResult r = Run(c.Args);
        EXPECT_EQ(r.Exit, c.Exit) << c.Name.toStdString();
        EXPECT_TRUE(r.Err.contains(c.Says)) << c.Name.toStdString() << ": " << r.Err.toStdString();
        EXPECT_EQ(Snapshot(FWork.Path()), before) << c.Name.toStdString();
        ExpectProgramAndDatabaseUntouched();
    }
}

// A lock that no live process holds never blocks: an empty lock file, a
// dangling link in its place (removed as a link: its target is never made),
// the file a killed run left. Before, each blocked every run with exit 5.
TEST_F(ZemboUpdate, ALockNoLiveProcessHoldsNeverBlocks)
{
    const QString lock = FWork.File("zembo-update.lock");
    const QString target = FPrograms.File("alvo-da-trava");
    const QList<std::pair<QString, std::function<void()>>> cases = {
        {"an empty file", [&] { WriteBytes(lock, ""); }},
        {"a dangling link", [&] {
             QFile::remove(lock);
             ASSERT_TRUE(QFile::link(target, lock));
         }},
    };
    for (const auto& [name, prepare] : cases) {
        prepare();
        const TResult r = Run();
        EXPECT_EQ(r.Exit, 0) << name.toStdString() << ": " << r.Err.toStdString();
        EXPECT_TRUE(r.Out.trimmed().endsWith(Success)) << name.toStdString();
        EXPECT_FALSE(QFileInfo::exists(target)) << name.toStdString();
        EXPECT_FALSE(QFileInfo(lock).isSymLink()) << name.toStdString();
    }
}

// Names from the server with ESC, BEL and DEL reach zembo-update's lines and
// the run log escaped: a terminal showing either prints them, obeys nothing
// (before, an escape sequence drew a false line of success).
TEST_F(ZemboUpdate, ControlCharactersOfTheServersNamesAreShownEscaped)
{
    const QString file = "x\x1b[1A\x1b[2KAtualizado com sucesso.\x07\x7f.dll";
    const QString folder = "pasta\x1b]0;titulo\x07";
    Serve(svPyftpd, file, "x");
    ASSERT_TRUE(QDir().mkpath(Root(svPyftpd) + folder));
    const TResult r = Run();
    EXPECT_EQ(r.Exit, 1);
    const QString log = QString::fromUtf8(ReadBytes(FWork.File(RunLogName)));
    for (const QString& text : {r.Out, r.Err, log})
        for (const char control : {'\x1b', '\x07', '\x7f'})
            EXPECT_FALSE(text.contains(QLatin1Char(control))) << text.toStdString();
    const QString shown = "x\\x1B[1A\\x1B[2KAtualizado com sucesso.\\x07\\x7F.dll";
    EXPECT_TRUE(r.Out.contains("recusado   " + shown + ": Arquivo " + shown + " recusado: ")) << r.Out.toStdString();
    EXPECT_TRUE(r.Out.contains("em dia     pasta\\x1B]0;titulo\\x07\n")) << r.Out.toStdString();
    EXPECT_TRUE(log.contains(" recusado " + shown + ": ")) << log.toStdString();
}

// Killed as the replacement begins (every file fetched, the archiver not yet
// started): zembo-check shows the replacement pending, and the next run, with
// nothing left to fetch, replaces Quendarive.exe before it runs the scripts.
// Before, it reported success and the old program stayed for good.
TEST_F(ZemboUpdate, AReplacementKilledBeforeItBeganIsDoneByTheNextRun)
{
    ServeRelease();
    KillAfterTheDownloads();
    EXPECT_EQ(ReadBytes(FWork.File("NOVO.DLL")), QByteArray(300000, 'n'));
    const TResult check = Check();
    EXPECT_EQ(check.Exit, 3) << check.Err.toStdString();
    EXPECT_TRUE(check.Out.contains("\nsubstituicao\tQuendarive.exe\tsim\tpendente: ")) << check.Out.toStdString();

    TResult r = Run();
    EXPECT_EQ(r.Exit, 0) << r.Err.toStdString();
    EXPECT_FALSE(r.Out.contains("baixado")) << r.Out.toStdString();
    const qsizetype replaced = r.Out.indexOf("substituído Quendarive.exe");
    EXPECT_GE(replaced, 0) << r.Out.toStdString();
    EXPECT_LT(replaced, r.Out.indexOf("script     0001")) << r.Out.toStdString();
    ExpectInstalled();
    EXPECT_FALSE(QFileInfo::exists(FWork.File(PendingReplacementFile)));

    const auto before = Snapshot(FWork.Path());
    r = Run();
    EXPECT_EQ(r.Exit, 0) << r.Err.toStdString();
    EXPECT_FALSE(r.Out.contains("substituído")) << r.Out.toStdString();
    EXPECT_EQ(Snapshot(FWork.Path()), before);
}

// A failing script: exit 4 and the error file; the next run exits 4 at
// once, before it connects, until the file is removed.
TEST_F(ZemboUpdate, AFailingScriptExits4AndBlocksTheNextRun)
{
    FCatalog.Exec("DELETE FROM scripts");
    FCatalog.AddScript("KELDARIN", "0001", "S", FailingScript.toLatin1());
    TResult r = Run();
    EXPECT_EQ(r.Exit, 4) << r.Err.toStdString();
    const QString errorFile = ArquivoErroPendente();
    EXPECT_TRUE(errorFile.startsWith("SCRIPT_ERRO_DT_")) << errorFile.toStdString();
    EXPECT_TRUE(r.Out.contains("SCRIPT EM EXECUÇÃO SALVO: " + errorFile)) << r.Out.toStdString();

    Serve(svPyftpd, "NOVO.DLL", "novo");
    r = Run();
    EXPECT_EQ(r.Exit, 4);
    EXPECT_TRUE(r.Err.contains(errorFile)) << r.Err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(FWork.File("NOVO.DLL")));
}

// Each run with scripts to run backs the database up first and logs it; a
// backup that cannot be made (the backup folder is a file) runs no script,
// leaves VERSAO as it was and exits 1 with the reason.
TEST_F(ZemboUpdate, NoBackupNoScriptAndExit1)
{
    FCustomer->Exec({"CREATE TABLE VERSAO (VERSAO VARCHAR(10))", "INSERT INTO VERSAO VALUES ('0000')"});
    WriteBytes(FWork.File("backup"), "não é uma pasta");
    TResult r = Run();
    EXPECT_EQ(r.Exit, 1);
    EXPECT_TRUE(r.Err.contains("Não foi possível fazer a cópia de segurança da base")) << r.Err.toStdString();
    EXPECT_EQ(FCustomer->Scalar("SELECT VERSAO FROM VERSAO"), "0000");
    EXPECT_EQ(FCustomer->Scalar("SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME IN ('T1', 'ZEMBO_HISTORICO')"), "0");

    QFile::remove(FWork.File("backup"));
    r = Run();
    EXPECT_EQ(r.Exit, 0) << r.Err.toStdString();
    const QStringList backups = QDir(FWork.File("backup")).entryList(QDir::Files);
    ASSERT_EQ(backups.size(), 1);
    EXPECT_TRUE(backups.first().startsWith("DADOS-0000-")) << backups.first().toStdString();
    EXPECT_EQ(MissingInOrder(LogLines(), {"cópia de segurança de M-DADOS: " + FWork.File("backup/" + backups.first()),
                                          "script 0001 em M-DADOS: executado"}),
              QString());
    EXPECT_EQ(FCustomer->Scalar("SELECT VERSAO FROM VERSAO"), "0002");
}

namespace {

// Releases signed with keys made by the real minisign, the manifest by zembo-release.
class SignedRelease : public ZemboUpdate {
protected:
    // A key pair without password: NAME.pub and NAME.key.
    QString MakeKey(const QString& name)
    {
        const TResult r = RunIn(FPrograms.Path(), "minisign",
                                {"-G", "-W", "-f", "-p", FPrograms.File(name + ".pub"), "-s", FPrograms.File(name + ".key")});
        EXPECT_EQ(r.Exit, 0) << r.Err.toStdString();
        return FPrograms.File(name);
    }
    // The run trusts this key: a key file of root's, readable by all.
    void Trust(const QString& key)
    {
        FKeys = FPrograms.File("release-keys.pub");
        WriteBytes(FKeys, "# chave da Belmora\n" + ReadBytes(key + ".pub"));
        QFile::setPermissions(FKeys, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                         QFileDevice::ReadOther);
    }
    // The served release, its manifest (zembo-release's, with manifestArgs)
    // and, with a key, its signature; change alters the served files first.
    void Publish(qint64 serial, const QString& key, const std::function<void()>& change = {},
                 const QStringList& manifestArgs = {})
    {
        ServeRelease();
        if (change)
            change();
        const TResult r = RunIn(FPrograms.Path(), ZEMBO_RELEASE_TOOL,
                                QStringList{"manifest", Root(svPyftpd), "--serial", QString::number(serial)} + manifestArgs);
        ASSERT_EQ(r.Exit, 0) << r.Err.toStdString();
        if (!key.isEmpty())
            Sign(key);
    }
    void Sign(const QString& key)
    {
        const TResult r = RunIn(FPrograms.Path(), "minisign", {"-Sm", Root(svPyftpd) + ReleaseManifestName, "-s", key + ".key"});
        ASSERT_EQ(r.Exit, 0) << r.Err.toStdString();
    }
    // A served file changed, dated a day before the others, so that a run fetches it.
    void ServeOlder(const QString& name, const QByteArray& bytes)
    {
        Serve(svPyftpd, name, bytes);
        FileSetDate(Root(svPyftpd) + name, ServerTime() + (-1));
    }
    // One byte of a served file changed, its size and time kept.
    void Tamper(const QString& name)
    {
        QByteArray bytes = ReadBytes(Root(svPyftpd) + name);
        bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 1);
        Serve(svPyftpd, name, bytes);
    }
    bool Accepted() const { return QFileInfo::exists(FWork.File(AcceptedReleaseName)); }
};

} // namespace

TEST_F(SignedRelease, ASignedReleaseIsInstalledAsBefore)
{
    const QString key = MakeKey("belmora");
    Trust(key);
    Publish(7, key);
    const TResult r = Run();
    EXPECT_EQ(r.Exit, 0) << r.Err.toStdString();
    ExpectInstalled();
    EXPECT_EQ(ReadBytes(FWork.File(AcceptedReleaseName)), ReadBytes(Root(svPyftpd) + ReleaseManifestName));
    EXPECT_FALSE(QFileInfo::exists(FWork.File(ReleaseManifestName)));
}

// A file changed after signing is not installed; the error keeps the
// replacement and the upgrade from running. The release was recorded as
// accepted before the first file was installed.
TEST_F(SignedRelease, AFileChangedAfterSigningIsNotInstalled)
{
    const QString key = MakeKey("belmora");
    Trust(key);
    WriteBytes(FWork.File("NOVO.DLL"), "cópia anterior");
    FileSetDate("NOVO.DLL", ServerTime() + (-1));
    qint64 serial = 7;
    for (const QString changed : {"NOVO.DLL", "Quendarive.rar"}) {
        Publish(serial++, key);
        Tamper(changed);
        QFile::remove(FWork.File("Quendarive.rar"));
        const QByteArray previous = QFileInfo::exists(FWork.File(changed)) ? ReadBytes(FWork.File(changed)) : "<none>";
        const qsizetype logged = LogLines().size();
        const TResult r = Run();
        EXPECT_EQ(r.Exit, 1) << changed.toStdString();
        EXPECT_EQ(QFileInfo::exists(FWork.File(changed)) ? ReadBytes(FWork.File(changed)) : "<none>", previous)
            << changed.toStdString();
        ExpectProgramAndDatabaseUntouched();
        EXPECT_EQ(ReadBytes(FWork.File(AcceptedReleaseName)), ReadBytes(Root(svPyftpd) + ReleaseManifestName));
        EXPECT_EQ(LogLines().mid(logged).filter(" arquivo " + changed + " ").filter(" não baixado").size(), 1)
            << LogLines().join('\n').toStdString();
    }
}

// A release the key does not vouch for, older than the one accepted, the
// accepted serial with other bytes, or past its expiry: nothing fetched,
// nothing changed, the reason in the log.
TEST_F(SignedRelease, AnUntrustedOrOlderReleaseChangesNothing)
{
    const QString key = MakeKey("belmora"), other = MakeKey("outra");
    Trust(key);
    struct TCase {
        QString Name;
        std::function<void()> Publish;
    };
    const QList<TCase> cases = {
        {"signed by another key", [&] { Publish(7, other); }},
        {"no signature", [&] { Publish(7, {}); }},
        {"a lower serial than the accepted one",
         [&] {
             Publish(6, key);
             AcceptRelease(FWork.Path(), ReadBytes(Root(svPyftpd) + ReleaseManifestName));
             Publish(5, key);
         }},
        {"the accepted serial with another manifest", [&] { Publish(6, key, [&] { ServeOlder("VELHO.DLL", "outra 6"); }); }},
        {"an expired manifest",
         [&] {
             ServeRelease();
             TManifest manifest = MakeManifest(Root(svPyftpd), 8);
             manifest.Expires = QDate::currentDate().toString(Qt::ISODate);
             WriteBytes(Root(svPyftpd) + ReleaseManifestName, FormatManifest(manifest));
             Sign(key);
         }},
    };
    for (const TCase& c : cases) {
        c.Publish();
        const auto before = Snapshot(FWork.Path());
        const qsizetype logged = LogLines().size();
        const TResult r = Run();
        EXPECT_EQ(r.Exit, 1) << c.Name.toStdString();
        EXPECT_FALSE(r.Out.contains("baixado")) << c.Name.toStdString();
        EXPECT_EQ(Snapshot(FWork.Path()), before) << c.Name.toStdString();
        ExpectProgramAndDatabaseUntouched();
        EXPECT_EQ(LogLines().mid(logged).filter(" erro: ").size(), 1) << c.Name.toStdString();
    }
}

// With a signed release, the archive a killed run left is checked against
// the manifest before the pending replacement: changed since, it is refused
// and removed, nothing is replaced and no script runs; the next run fetches
// it again and replaces.
TEST_F(SignedRelease, APendingReplacementChecksTheArchiveFirst)
{
    const QString key = MakeKey("belmora");
    Trust(key);
    Publish(7, key);
    KillAfterTheDownloads();
    QByteArray archive = ReadBytes(FWork.File("Quendarive.rar"));
    archive[archive.size() / 2] = char(archive[archive.size() / 2] ^ 1);
    WriteBytes(FWork.File("Quendarive.rar"), archive);
    ASSERT_TRUE(FileSetDate(FWork.File("Quendarive.rar"), ServerTime()));

    TResult r = Run();
    EXPECT_EQ(r.Exit, 1) << r.Out.toStdString();
    EXPECT_TRUE(r.Out.contains("substituição falhou: Não foi possível substituir Quendarive.exe: Quendarive.rar não "
                               "confere com o manifesto assinado")) << r.Out.toStdString();
    ExpectProgramAndDatabaseUntouched();
    EXPECT_FALSE(QFileInfo::exists(FWork.File("Quendarive.rar")));
    EXPECT_TRUE(Accepted()); // recorded before anything was installed

    r = Run();
    EXPECT_EQ(r.Exit, 0) << r.Err.toStdString();
    ExpectInstalled();
    EXPECT_TRUE(Accepted());
}

// Once a signed release was accepted, a key file gone stops every run (and
// says why) instead of installing unverified.
TEST_F(SignedRelease, AMissingKeyAfterASignedReleaseChangesNothing)
{
    const QString key = MakeKey("belmora");
    Trust(key);
    Publish(7, key);
    ASSERT_EQ(Run().Exit, 0);
    ASSERT_TRUE(Accepted());
    Publish(8, {}, [&] { ServeOlder("NOVO.DLL", "não assinado"); });
    ASSERT_TRUE(QFile::remove(FKeys));
    const auto before = Snapshot(FWork.Path());
    const TResult r = Run();
    EXPECT_EQ(r.Exit, 1);
    EXPECT_TRUE(r.Err.contains("nenhuma chave da versão é confiável agora: o arquivo de chaves " + FKeys + " não existe"))
        << r.Err.toStdString();
    EXPECT_FALSE(r.Out.contains("baixado")) << r.Out.toStdString();
    EXPECT_EQ(Snapshot(FWork.Path()), before);
}

// A run that installed some files and failed on another has recorded its
// release: the older release offered next is refused, not installed over them.
TEST_F(SignedRelease, AHalfInstalledReleaseKeepsTheOlderOneOut)
{
    const QString key = MakeKey("belmora");
    Trust(key);
    Publish(7, key);
    Tamper("NOVO.DLL");
    EXPECT_EQ(Run().Exit, 1);
    EXPECT_EQ(ReadBytes(FWork.File("VELHO.DLL")), "versão nova");
    Publish(6, key, [&] { ServeOlder("VELHO.DLL", "versão 6"); });
    const auto before = Snapshot(FWork.Path());
    const TResult r = Run();
    EXPECT_EQ(r.Exit, 1);
    EXPECT_TRUE(r.Err.contains("Versão 6 recusada: é mais antiga que a versão 7")) << r.Err.toStdString();
    EXPECT_EQ(Snapshot(FWork.Path()), before);
}

// A served file longer than the manifest says is read no further than the
// manifest's size (and one byte to tell), whatever the listing says.
TEST_F(SignedRelease, ASignedDownloadReadsNoMoreThanTheManifestSays)
{
    const QString key = MakeKey("belmora");
    Trust(key);
    Publish(7, key);
    Serve(svPyftpd, "NOVO.DLL", QByteArray(8 * 1024 * 1024, 'n'));
    qputenv("ZEMBO_RELEASE_KEYS", QFile::encodeName(FKeys));
    class TCounter : public TRecorder {
    public:
        std::int64_t Most = 0;
        void TransferProgress(std::int64_t count) override { Most = std::max(Most, count); }
    } recorder;
    {
        TUpdateSession session(recorder);
        ASSERT_FALSE(session.Verifica());
        EXPECT_EQ(session.Atualiza().Result, urErros);
    }
    qunsetenv("ZEMBO_RELEASE_KEYS");
    EXPECT_LE(recorder.Most, 300001);
    EXPECT_FALSE(QFileInfo::exists(FWork.File("NOVO.DLL")));
    EXPECT_FALSE(QFileInfo::exists(FWork.File("NOVO.DLL.zembo-parcial")));
    EXPECT_EQ(ReadBytes(FWork.File("VELHO.DLL")), "versão nova"); // the session went on with the next file
    EXPECT_EQ(recorder.Events.filter("falhou ").size(), 1) << recorder.Events.join(" | ").toStdString();
}

// With --expires the manifest carries its expiry: installed while it runs;
// after it, a release that never expires is refused.
TEST_F(SignedRelease, AReleaseThatExpiresIsFollowedOnlyByOneThatExpires)
{
    const QString key = MakeKey("belmora");
    Trust(key);
    Publish(7, key, {}, {"--expires", "30"});
    EXPECT_TRUE(ReadBytes(Root(svPyftpd) + ReleaseManifestName)
                    .contains("\nexpires " + QDate::currentDate().addDays(30).toString(Qt::ISODate).toLatin1() + "\n\n"));
    ASSERT_EQ(Run().Exit, 0);
    ExpectInstalled();
    Publish(8, key, [&] { ServeOlder("VELHO.DLL", "versão 8"); });
    const auto before = Snapshot(FWork.Path());
    const TResult r = Run();
    EXPECT_EQ(r.Exit, 1);
    EXPECT_TRUE(r.Err.contains("Versão 8 recusada: o manifesto não tem validade, e a versão 7")) << r.Err.toStdString();
    EXPECT_EQ(Snapshot(FWork.Path()), before);
}

// Without a key a release is installed as before, signed or not, even
// changed after signing, and none is recorded.
TEST_F(SignedRelease, WithoutAKeyNothingIsVerified)
{
    Publish(7, MakeKey("belmora"));
    Tamper("VELHO.DLL");
    const QByteArray changed = ReadBytes(Root(svPyftpd) + "VELHO.DLL");
    const TResult r = Run();
    EXPECT_EQ(r.Exit, 0) << r.Err.toStdString();
    EXPECT_EQ(ReadBytes(FWork.File("VELHO.DLL")), changed);
    EXPECT_EQ(ReadBytes(FWork.File("Quendarive.exe")), "programa novo");
    EXPECT_EQ(FCustomer->Scalar("SELECT VERSAO FROM VERSAO"), "0002");
    EXPECT_FALSE(Accepted());
}

// The same release served by nginx over TLS (HTTP/2) from the folder
// atualiza.cfg's first line names: the files pyftpdlib would serve, copied
// with their times. The test CA is trusted through $ZEMBO_FTP_CA, and no
// proxy is named unless a case says so.
class HttpsRelease : public SignedRelease {
protected:
    void SetUp() override
    {
        SignedRelease::SetUp();
        for (const char* name : {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
            qunsetenv(name);
        qputenv("ZEMBO_FTP_CA", ServiceEnv("ZEMBO_NGINX_CA").toLocal8Bit());
        Address("https", "ZEMBO_NGINX_PORT");
        QDir(WebRoot()).removeRecursively();
        QDir().mkpath(WebRoot());
        ClearAccessLog();
    }
    void TearDown() override
    {
        qunsetenv("ZEMBO_FTP_CA");
        qunsetenv("https_proxy");
        SignedRelease::TearDown();
    }
    static QString WebRoot() { return ServiceEnv("ZEMBO_NGINX_ROOT") + "/keldarin/"; }
    // atualiza.cfg: the one line of a web source.
    void Address(const QString& scheme, const char* port, const QString& folder = "keldarin/")
    {
        WriteBytes(FWork.File("atualiza.cfg"),
                   (scheme + "://127.0.0.1:" + ServiceEnv(port) + "/" + folder + "\r\n").toUtf8());
    }
    // The signed release of pyftpdlib's folder, published to the web server as a maker copies it.
    void PublishOnTheWeb(qint64 serial, const QString& key, const std::function<void()>& change = {})
    {
        Publish(serial, key, change);
        for (const QFileInfo& file : QDir(Root(svPyftpd)).entryInfoList(QDir::Files)) {
            WriteBytes(WebRoot() + file.fileName(), ReadBytes(file.filePath()));
            FileSetDate(WebRoot() + file.fileName(), *FileAge(file.filePath()));
        }
    }
    static void ClearAccessLog() { QFile(ServiceEnv("ZEMBO_NGINX_LOG")).resize(0); }
    static QStringList Requests()
    {
        return QString::fromUtf8(ReadBytes(ServiceEnv("ZEMBO_NGINX_LOG"))).split(u'\n', Qt::SkipEmptyParts);
    }
};

// The release fetched over HTTPS: what differs, Quendarive.exe replaced, the
// scripts run, each file given the server's time (an FTP run of the same
// files then fetches nothing); at once again, one request and nothing
// touched; zembo-check reads the same source.
TEST_F(HttpsRelease, FetchesWhatDiffersThenAsksOnceWhenNothingChanged)
{
    const QString key = MakeKey("belmora");
    Trust(key);
    PublishOnTheWeb(7, key);
    const TResult first = Run();
    EXPECT_EQ(first.Exit, 0) << first.Err.toStdString();
    ExpectInstalled();
    EXPECT_EQ(ToTheMinute("VELHO.DLL"), ToTheMinute(WebRoot() + "VELHO.DLL"));
    EXPECT_EQ(MissingInOrder(LogLines(), {"servidor https://127.0.0.1:", "versão 7 assinada", "arquivo NOVO.DLL baixado",
                                          "substituição: Quendarive.exe substituído", "fim: " + Success}),
              "");
    EXPECT_TRUE(Requests().filter("GET /keldarin/NOVO.DLL HTTP/2.0\" 200").size() == 1) << Requests().join('\n').toStdString();
    EXPECT_TRUE(QFileInfo::exists(FWork.File(HttpsStateName)));

    ClearAccessLog();
    const auto before = Snapshot(FWork.Path());
    const TResult again = Run();
    EXPECT_EQ(again.Exit, 0) << again.Err.toStdString();
    EXPECT_LE(Requests().size(), 2) << Requests().join('\n').toStdString();
    EXPECT_EQ(Requests().filter("\" 304 ").size(), 1) << Requests().join('\n').toStdString();
    EXPECT_EQ(Snapshot(FWork.Path()), before);
    const TResult check = Check();
    EXPECT_EQ(check.Exit, 0) << check.Out.toStdString() << check.Err.toStdString();
    EXPECT_TRUE(check.Out.contains("arquivo\tNOVO.DLL\t-\t")) << check.Out.toStdString();
    EXPECT_TRUE(check.Out.contains("assinatura\tválida\tversão 7\t")) << check.Out.toStdString();

    Config(svPyftpd, false); // the same files over FTP are up to date
    const TResult ftp = Run();
    EXPECT_EQ(ftp.Exit, 0) << ftp.Err.toStdString();
    EXPECT_FALSE(ftp.Out.contains("baixado ")) << ftp.Out.toStdString();
}

// A served file changed after signing is refused, the previous copy kept.
TEST_F(HttpsRelease, AFileChangedAfterSigningIsNotInstalled)
{
    const QString key = MakeKey("belmora");
    Trust(key);
    WriteBytes(FWork.File("NOVO.DLL"), "cópia anterior");
    PublishOnTheWeb(7, key);
    QByteArray bytes = ReadBytes(WebRoot() + "NOVO.DLL");
    bytes[1000] = 'x';
    WriteBytes(WebRoot() + "NOVO.DLL", bytes);
    const TResult r = Run();
    EXPECT_EQ(r.Exit, 1);
    EXPECT_EQ(ReadBytes(FWork.File("NOVO.DLL")), "cópia anterior");
    EXPECT_FALSE(QFileInfo::exists(TPartialDownload(FWork.File("NOVO.DLL")).PartialFile()));
    ExpectProgramAndDatabaseUntouched();
}

// No trusted key, an http:// address: refused with a reason before any
// request. A certificate of another CA, a redirect to http:// or a redirect
// loop: a failed connection, nothing changed.
TEST_F(HttpsRelease, RefusedBeforeAnyRequestOrOnAnUntrustedCertificate)
{
    const QString key = MakeKey("belmora");
    PublishOnTheWeb(7, key);
    auto before = Snapshot(FWork.Path());
    before.erase("atualiza.cfg");
    const TResult noKey = Run();
    EXPECT_EQ(noKey.Exit, 1);
    EXPECT_TRUE(noKey.Err.contains("nenhuma chave de assinatura confiável")) << noKey.Err.toStdString();
    Trust(key);
    Address("http", "ZEMBO_NGINX_PORT");
    const TResult clear = Run();
    EXPECT_EQ(clear.Exit, 1);
    EXPECT_TRUE(clear.Err.contains("não usa https")) << clear.Err.toStdString();
    EXPECT_EQ(Requests(), QStringList());

    Address("https", "ZEMBO_NGINX_BADCERT_PORT");
    const TResult badCert = Run();
    EXPECT_EQ(badCert.Exit, 1);
    EXPECT_TRUE(badCert.Err.contains("Não foi possível estabelecer conexão https")) << badCert.Err.toStdString();
    EXPECT_TRUE(badCert.Err.contains("certificate")) << badCert.Err.toStdString();
    EXPECT_EQ(Requests(), QStringList());
    // Redirects: never to clear text, at most five.
    for (const QString folder : {"para-http/keldarin/", "laco/keldarin/"}) {
        Address("https", "ZEMBO_NGINX_PORT", folder);
        ClearAccessLog();
        const TResult redirected = Run();
        EXPECT_EQ(redirected.Exit, 1) << folder.toStdString();
        EXPECT_TRUE(redirected.Err.contains("Não foi possível estabelecer conexão https")) << redirected.Err.toStdString();
        EXPECT_LE(Requests().size(), 2 * 6) << Requests().join('\n').toStdString();
    }
    auto after = Snapshot(FWork.Path());
    after.erase("atualiza.cfg");
    EXPECT_EQ(after, before);
    ExpectProgramAndDatabaseUntouched();
}

// Through the proxy https_proxy names, with its account from the address;
// without the account the proxy's refusal is a failed connection naming it.
// A server that asks for a password (401) gets the FTP account's.
TEST_F(HttpsRelease, ThroughAProxyAndWithTheServersPassword)
{
    const QString key = MakeKey("belmora");
    Trust(key);
    PublishOnTheWeb(7, key);
    const QString proxy = "127.0.0.1:" + ServiceEnv("ZEMBO_TINYPROXY_PORT");
    qputenv("https_proxy", ("http://" + proxy).toUtf8());
    const TResult refused = Run();
    EXPECT_EQ(refused.Exit, 1);
    EXPECT_TRUE(refused.Err.contains("o proxy http://" + proxy + " recusou a conexão (HTTP 407)")) << refused.Err.toStdString();

    qputenv("https_proxy", ("http://proxy:proxy@" + proxy).toUtf8());
    Address("https", "ZEMBO_NGINX_PORT", "privado/keldarin/");
    const TResult r = Run();
    EXPECT_EQ(r.Exit, 0) << r.Err.toStdString();
    ExpectInstalled();
    EXPECT_FALSE(ReadBytes(FWork.File(RunLogName)).contains("proxy:proxy"));
    const QString connections = QString::fromUtf8(ReadBytes(ServiceEnv("ZEMBO_TINYPROXY_LOG")));
    EXPECT_TRUE(connections.contains("CONNECT 127.0.0.1:" + ServiceEnv("ZEMBO_NGINX_PORT"))) << connections.toStdString();
    EXPECT_FALSE(Requests().filter("\" 401 ").isEmpty()) << Requests().join('\n').toStdString();
    EXPECT_EQ(Requests().filter(" - " + ServiceEnv("ZEMBO_FTP_USER") + " ").filter("\" 200 ").size(),
              Requests().filter("\" 200 ").size());
}

// "Sair" during a transfer: the run stops there, and nothing further is
// fetched, replaced or upgraded.
TEST_F(HttpsRelease, AStopRequestEndsTheRunDuringATransfer)
{
    const QString key = MakeKey("belmora");
    Trust(key);
    PublishOnTheWeb(7, key, [this] { Serve(svPyftpd, "GRANDE.DAT", QByteArray(32 * 1024 * 1024, 'g')); });
    qputenv("ZEMBO_RELEASE_KEYS", QFile::encodeName(FKeys));
    struct TStopper : TSessionObserver {
        TUpdateSession* Session = nullptr;
        void TransferProgress(std::int64_t) override { Session->Cancela(); }
    } stopper;
    TUpdateSession session(stopper);
    stopper.Session = &session;
    ASSERT_FALSE(session.Inicia().has_value());
    const TUpdateOutcome outcome = session.Atualiza();
    qunsetenv("ZEMBO_RELEASE_KEYS");
    EXPECT_EQ(outcome.Result, urCancelada) << outcome.Causa.toStdString();
    EXPECT_FALSE(QFileInfo::exists(FWork.File("GRANDE.DAT")));
    ExpectProgramAndDatabaseUntouched();
}

// A transfer cut short resumes with Range tied by If-Range to the entity it
// began: the same file continues (206); a file changed meanwhile comes
// whole, never stitched onto the old bytes.
TEST_F(HttpsRelease, AnInterruptedDownloadResumesOnlyOnTheSameFile)
{
    const QString key = MakeKey("belmora");
    Trust(key);
    PublishOnTheWeb(7, key);
    const QString url = "https://127.0.0.1:" + ServiceEnv("ZEMBO_NGINX_PORT") + "/keldarin/NOVO.DLL";
    const QFileInfo served(WebRoot() + "NOVO.DLL");
    const QString etag = QString("\"%1-%2\"").arg(served.lastModified().toSecsSinceEpoch(), 0, 16).arg(served.size(), 0, 16);
    TPartialDownload partial(FWork.File("NOVO.DLL"));
    WriteBytes(partial.PartialFile(), QByteArray(1000, 'n'));
    partial.Save({TDateTime(), 300000, url, etag});
    const TResult resumed = Run();
    EXPECT_EQ(resumed.Exit, 0) << resumed.Err.toStdString();
    EXPECT_EQ(ReadBytes(FWork.File("NOVO.DLL")), QByteArray(300000, 'n'));
    EXPECT_EQ(Requests().filter("GET /keldarin/NOVO.DLL HTTP/2.0\" 206 299000").size(), 1) << Requests().join('\n').toStdString();

    WriteBytes(FWork.File("NOVO.DLL"), "cópia anterior");
    WriteBytes(partial.PartialFile(), QByteArray(1000, 'v')); // bytes of a file the server no longer has
    partial.Save({TDateTime(), 300000, url, "\"0-0\""});
    ClearAccessLog();
    const TResult whole = Run();
    EXPECT_EQ(whole.Exit, 0) << whole.Err.toStdString();
    EXPECT_EQ(ReadBytes(FWork.File("NOVO.DLL")), QByteArray(300000, 'n'));
    EXPECT_EQ(Requests().filter("GET /keldarin/NOVO.DLL HTTP/2.0\" 200 300000").size(), 1) << Requests().join('\n').toStdString();
    EXPECT_FALSE(QFileInfo::exists(partial.PartialFile()));
}

namespace {

// A "build" of a program file: bytes that do not compress, the same for the
// same seed; the next build rewrites a few stretches of the one before.
QByteArray ProgramBuild(quint32 seed, quint32 edits = 0)
{
    QByteArray bytes(400 * 1024, Qt::Uninitialized);
    quint32 x = seed * 2654435761u + 1;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        x = x * 1664525u + 1013904223u;
        bytes[i] = char(x >> 24);
    }
    for (quint32 e = 1; e <= edits; ++e)
        bytes.replace(qsizetype(e) * 37000, 40, QByteArray(40, char('A' + e)));
    return bytes;
}

// A signed release with patches from the installed builds: VELHO.DLL and
// Quendarive.exe (in Quendarive.rar) changed, NOVO.DLL new, served by a
// pyftpdlib of the test's own that logs every download ("RETR NAME BYTES").
class Deltas : public SignedRelease {
protected:
    void SetUp() override
    {
        SignedRelease::SetUp();
        if (HasFatalFailure())
            return;
        FKey = MakeKey("belmora");
        WriteBytes(FPrograms.File("antiga/VELHO.DLL"), ProgramBuild(1));
        WriteBytes(FPrograms.File("antigo.exe"), ProgramBuild(2));
        WriteBytes(FPrograms.File("novo.exe"), ProgramBuild(2, 3));
        Install();
        FServer.start("/usr/bin/python3",
                      {SourceDir() + "/tests/ftp/pyftpd_server.py", "--root", ServiceEnv("ZEMBO_PYFTPD_ROOT"), "--user",
                       ServiceEnv("ZEMBO_FTP_USER"), "--password", ServiceEnv("ZEMBO_FTP_PASSWORD"), "--log", FLog});
        ASSERT_TRUE(FServer.waitForReadyRead(10000));
        WriteBytes(FWork.File("atualiza.cfg"), "127.0.0.1\r\n" + FServer.readLine().trimmed() + "\r\n");
    }
    void TearDown() override
    {
        FServer.kill();
        FServer.waitForFinished();
        SignedRelease::TearDown();
    }
    // The installation as the earlier release left it.
    void Install()
    {
        WriteBytes(FWork.File("VELHO.DLL"), ProgramBuild(1));
        FileSetDate("VELHO.DLL", ServerTime() + (-1));
        WriteBytes(FWork.File("Quendarive.exe"), ProgramBuild(2));
        for (const char* name : {"NOVO.DLL", "Quendarive.old", "Quendarive.rar"})
            QFile::remove(FWork.File(name));
    }
    // The release (serial 7) and its patches, both signed; change alters
    // the delta folder before the index is signed.
    void PublishDeltas(const std::function<void(const QString& deltas)>& change = {})
    {
        Publish(7, FKey,
                [&] {
                    Serve(svPyftpd, "VELHO.DLL", ProgramBuild(1, 2));
                    WriteRar4(Root(svPyftpd) + "Quendarive.rar",
                              {{"Quendarive.exe", ProgramBuild(2, 3), QDateTime(QDate(2024, 3, 15), QTime(10, 20))}});
                    FileSetDate(Root(svPyftpd) + "Quendarive.rar", ServerTime());
                },
                {"--delta-from", FPrograms.File("antiga"), "--executable", FPrograms.File("novo.exe"),
                 "--delta-from-executable", FPrograms.File("antigo.exe")});
        if (change)
            change(Root(svPyftpd) + "deltas/");
        const TResult r = RunIn(FPrograms.Path(), "minisign", {"-Sm", Root(svPyftpd) + "deltas/zembo-deltas.txt", "-s", FKey + ".key"});
        ASSERT_EQ(r.Exit, 0) << r.Err.toStdString();
    }
    TDeltaIndex Index() const { return ParseDeltaIndex(ReadBytes(Root(svPyftpd) + "deltas/zembo-deltas.txt")); }
    // The files the server sent since the last call, as "NAME BYTES" (the
    // name without its folder).
    QStringList Sent()
    {
        QStringList sent;
        const QList<QByteArray> lines = QFileInfo::exists(FLog) ? ReadBytes(FLog).split('\n') : QList<QByteArray>{""};
        for (qsizetype i = FLogLines; i < lines.size(); ++i)
            if (lines[i].startsWith("RETR "))
                sent << QString::fromUtf8(lines[i].mid(5));
        FLogLines = lines.size() - 1;
        return sent;
    }
    static QStringList Names(const QStringList& sent)
    {
        QStringList names;
        for (const QString& line : sent)
            names << line.section(u' ', 0, -2);
        return names;
    }
    // The installed files are the release's, byte for byte, the main
    // executable replaced by the transaction.
    void ExpectTheRelease()
    {
        EXPECT_TRUE(ReadBytes(FWork.File("VELHO.DLL")) == ProgramBuild(1, 2));
        EXPECT_EQ(ToTheMinute("VELHO.DLL"), ToTheMinute(Root(svPyftpd) + "VELHO.DLL"));
        EXPECT_TRUE(ReadBytes(FWork.File("NOVO.DLL")) == QByteArray(300000, 'n'));
        EXPECT_TRUE(ReadBytes(FWork.File("Quendarive.exe")) == ProgramBuild(2, 3));
        EXPECT_TRUE(ReadBytes(FWork.File("Quendarive.old")) == ProgramBuild(2));
        EXPECT_EQ(QDir(FWork.Path()).entryList({"*.zembo-delta*", "zembo-deltas*", "zembo-extracao.tmp"}), QStringList());
    }

    QString FKey;
    QString FLog = FPrograms.File("pyftpd.log");
    qsizetype FLogLines = 0;
    QProcess FServer;
};

} // namespace

// The changed DLL and the main executable come as patches, not whole (the
// server's log shows it); the result is the release byte for byte, the
// executable installed by the transaction; zembo-check said so first, and
// the next run fetches nothing but the signed texts, the archive included.
TEST_F(Deltas, PatchesServeTheChangedFilesAndTheExecutable)
{
    Trust(FKey);
    PublishDeltas();
    const TDeltaIndex index = Index();
    ASSERT_EQ(index.Entries.size(), 2);
    const TDeltaEntry& dll = index.Entries[1].Name == "VELHO.DLL" ? index.Entries[1] : index.Entries[0];
    const TDeltaEntry& exe = index.Entries[1].Name == "VELHO.DLL" ? index.Entries[0] : index.Entries[1];

    const TResult check = Check();
    EXPECT_EQ(check.Exit, 3) << check.Out.toStdString() << check.Err.toStdString();
    EXPECT_TRUE(QRegularExpression(QString("arquivo\tVELHO.DLL\t[^\n]*\tbaixar\tdelta %1 bytes\n").arg(dll.PatchSize))
                    .match(check.Out).hasMatch())
        << check.Out.toStdString();
    EXPECT_TRUE(QRegularExpression(QString("arquivo\tQuendarive.rar\t[^\n]*\tbaixar\tdelta %1 bytes\n").arg(exe.PatchSize))
                    .match(check.Out).hasMatch());
    EXPECT_TRUE(QRegularExpression("arquivo\tNOVO.DLL\t[^\n]*\tbaixar\tsem delta\n").match(check.Out).hasMatch());
    Sent();

    const TResult r = Run();
    EXPECT_EQ(r.Exit, 0) << r.Err.toStdString();
    const QStringList sent = Sent();
    EXPECT_TRUE(sent.contains(dll.PatchName() + ' ' + QString::number(dll.PatchSize))) << sent.join(" | ").toStdString();
    EXPECT_TRUE(sent.contains(exe.PatchName() + ' ' + QString::number(exe.PatchSize)));
    EXPECT_FALSE(Names(sent).contains("VELHO.DLL"));
    EXPECT_FALSE(Names(sent).contains("Quendarive.rar"));
    EXPECT_TRUE(Names(sent).contains("NOVO.DLL")); // no patch for a new file
    ExpectTheRelease();
    EXPECT_FALSE(QFileInfo::exists(FWork.File("Quendarive.rar")));
    EXPECT_EQ(FCustomer->Scalar("SELECT VERSAO FROM VERSAO"), "0002");

    EXPECT_TRUE(r.Out.contains(QString("baixado    VELHO.DLL (delta %1 bytes de %2, ").arg(dll.PatchSize).arg(dll.NewSize)))
        << r.Out.toStdString();
    EXPECT_TRUE(r.Out.contains("transferidos: "));
    const QStringList log = LogLines();
    EXPECT_EQ(MissingInOrder(log, {"deltas: índice assinado lido", "arquivo NOVO.DLL baixado: 300000 bytes",
                                   QString("arquivo Quendarive.rar baixado: delta %1 bytes de ").arg(exe.PatchSize),
                                   QString("arquivo VELHO.DLL baixado: delta %1 bytes de %2, ").arg(dll.PatchSize).arg(dll.NewSize),
                                   "transferidos: ", "substituição: Quendarive.exe substituído"}),
              "")
        << log.join('\n').toStdString();

    const TResult again = Run();
    EXPECT_EQ(again.Exit, 0) << again.Err.toStdString();
    // Only the signed texts: the delta index tells that the executable is the archive's.
    EXPECT_EQ(Names(Sent()), (QStringList{"zembo-release.txt", "zembo-release.txt.minisig", "zembo-deltas.txt",
                                          "zembo-deltas.txt.minisig"}));
    ExpectTheRelease();
    EXPECT_EQ(Check().Exit, 0);
}

// Every failure of a delta falls back to the whole file in the same run, the
// reason in the run log, and the result is the release's all the same: a
// damaged patch, one that gives other bytes (listed with the release's
// hash), one missing, short or longer than listed, an index signed by an
// unknown key, a local copy no patch starts from.
TEST_F(Deltas, EveryFailureFallsBackToTheWholeFile)
{
    Trust(FKey);
    const QString stranger = MakeKey("estranho");
    const auto damage = [](const QString& file) {
        QByteArray bytes = ReadBytes(file);
        bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 8);
        WriteBytes(file, bytes);
    };
    const auto patchOf = [&](const QString& deltas, const QString& name) {
        for (const TDeltaEntry& entry : ParseDeltaIndex(ReadBytes(deltas + "zembo-deltas.txt")).Entries)
            if (entry.Name == name)
                return deltas + entry.PatchName();
        return QString();
    };
    const struct {
        const char* Case;
        std::function<void(const QString&)> Change;
        QString Reason; // in the run log
        bool Exe;       // the executable's patch fails too
    } cases[] = {
        {"damaged",
         [&](const QString& d) {
             damage(patchOf(d, "VELHO.DLL"));
             damage(patchOf(d, "Quendarive.exe"));
         },
         "delta VELHO.DLL falhou, baixando o arquivo inteiro: ", true},
        {"other bytes",
         [&](const QString& d) {
             // a patch to another build of the same size, under the release's hash
             WriteBytes(FPrograms.File("outra.dll"), ProgramBuild(1, 5));
             const QString patch = patchOf(d, "VELHO.DLL");
             MakePatch(FPrograms.File("antiga/VELHO.DLL"), FPrograms.File("outra.dll"), patch);
             TDeltaIndex index = ParseDeltaIndex(ReadBytes(d + "zembo-deltas.txt"));
             for (TDeltaEntry& entry : index.Entries)
                 if (entry.Name == "VELHO.DLL")
                     entry.PatchSize = QFileInfo(patch).size();
             WriteBytes(d + "zembo-deltas.txt", FormatDeltaIndex(index));
         },
         "não confere com o SHA-256 da versão", false},
        {"missing", [&](const QString& d) { QFile::remove(patchOf(d, "VELHO.DLL")); }, "delta VELHO.DLL falhou", false},
        {"short",
         [&](const QString& d) { WriteBytes(patchOf(d, "VELHO.DLL"), ReadBytes(patchOf(d, "VELHO.DLL")).chopped(10)); },
         "bytes, e não ", false},
        {"longer than listed",
         [&](const QString& d) { WriteBytes(patchOf(d, "VELHO.DLL"), ReadBytes(patchOf(d, "VELHO.DLL")) + QByteArray(5000, 'x')); },
         "delta VELHO.DLL falhou", false},
        {"unknown key", {}, "deltas: não usados: Índice de deltas assinado por uma chave desconhecida", true},
        {"no patch starts from the local copy", [&](const QString&) { WriteBytes(FWork.File("VELHO.DLL"), ProgramBuild(9)); },
         "deltas: índice assinado lido", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Case);
        Install();
        QFile::remove(FWork.File(RunLogName));
        PublishDeltas(c.Change);
        if (QString(c.Case) == "unknown key") {
            ASSERT_EQ(RunIn(FPrograms.Path(), "minisign", {"-Sm", Root(svPyftpd) + "deltas/zembo-deltas.txt", "-s", stranger + ".key"}).Exit, 0);
        }
        Sent();
        const TResult r = Run();
        EXPECT_EQ(r.Exit, 0) << r.Out.toStdString() << r.Err.toStdString();
        const QStringList names = Names(Sent());
        EXPECT_TRUE(names.contains("VELHO.DLL")) << names.join(" | ").toStdString();
        EXPECT_EQ(names.contains("Quendarive.rar"), c.Exe) << names.join(" | ").toStdString();
        EXPECT_TRUE(LogLines().join('\n').contains(c.Reason)) << LogLines().join('\n').toStdString();
        ExpectTheRelease();
    }
}

// Without the delta folder on the server, or without a trusted key,
// everything is fetched whole as before and nothing is asked of "deltas/".
TEST_F(Deltas, WithoutTheFolderOrAKeyEverythingIsAsBefore)
{
    PublishDeltas();
    Sent();
    ASSERT_EQ(Run().Exit, 0);
    QStringList names = Names(Sent());
    EXPECT_FALSE(names.join(' ').contains("zembo-deltas.txt")) << names.join(" | ").toStdString();
    EXPECT_TRUE(names.contains("VELHO.DLL") && names.contains("Quendarive.rar"));
    ExpectTheRelease();

    Install();
    QDir(Root(svPyftpd) + "deltas").removeRecursively();
    Trust(FKey);
    QFile::remove(FWork.File(AcceptedReleaseName));
    Sent();
    const TResult r = Run();
    ASSERT_EQ(r.Exit, 0) << r.Err.toStdString();
    names = Names(Sent());
    EXPECT_TRUE(names.contains("VELHO.DLL") && names.contains("Quendarive.rar")) << names.join(" | ").toStdString();
    EXPECT_TRUE(LogLines().join('\n').contains("deltas: não usados: nenhum índice de deltas no servidor"));
    ExpectTheRelease();
}

// An application object, as the programs that run a session have.
int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
