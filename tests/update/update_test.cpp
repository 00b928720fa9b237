// The update run's decisions without a server: the plan judged from a real
// listing against real files, the settings file, the replacement's file
// work and command line, and the transfer display's texts.
#include "ftp/idftp.h"
#include "ftp/listing/ftplist.h"
#include "platform/files.h"
#include "db/catalog.h"
#include "db/ibdatabase.h"
#include "platform/shell.h"
#include "tests/support/rar4writer.h"
#include "tests/support/testenv.h"
#include "update/progress.h"
#include "update/runlog.h"
#include "update/checks.h"
#include "update/configuration.h"
#include "update/updaterun.h"

#include <QDir>
#include <QLocale>
#include <QElapsedTimer>
#include <QLibrary>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>

namespace {

TDateTime At(int y, int mo, int d, int h, int mi, int s = 0, int ms = 0)
{
    return EncodeDate(y, mo, d) + EncodeTime(h, mi, s, ms).Value();
}

// Runs the test in a scratch working folder.
class InFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        FOldDir = QDir::currentPath();
        QDir::setCurrent(FDir.Path());
        SetProcessStartFunction([this](const QString& line, const QString& folder) {
            Started << line << folder;
            return true;
        });
    }
    void TearDown() override
    {
        SetPauseFunction({});
        SetProcessStartFunction({});
        SetClock({});
        QLocale::setDefault(QLocale::c());
        QDir::setCurrent(FOldDir);
    }
    void Local(const QString& name, TDateTime time)
    {
        WriteBytes(FDir.File(name), "local");
        ASSERT_TRUE(FileSetDate(name, time));
    }
    TScratchDir FDir;
    QString FOldDir;
    QStringList Started; // command lines and their working folders
};

// Keeps a file undeletable (immutable) until the guard ends.
class TImmutable {
public:
    explicit TImmutable(QString path) : FPath(std::move(path)) { Set(true); }
    ~TImmutable() { Set(false); }
    void Set(bool on)
    {
        if (QFileInfo::exists(FPath))
            QProcess::execute("chattr", {on ? "+i" : "-i", FPath});
    }

private:
    QString FPath;
};

} // namespace

using Plan = InFolder;

// The listing's "total" line yields no entry: it is shown without a state,
// never judged, and every later line keeps its own entry and time.
TEST_F(Plan, LinesAndEntriesArePairedByTheirLine)
{
    SetClock([] { return At(2024, 3, 20, 9, 0); });
    Local("IGUAL.DLL", At(2024, 3, 10, 14, 5, 58));   // same minute, other content
    Local("VELHO.DLL", At(2024, 3, 10, 14, 4));
    Local("Quendarive.exe", At(2024, 1, 1, 0, 0));
    const QStringList lines = {
        "total 24",
        "-rw-r--r--   1 ftp ftp  10 Mar 10 14:05 IGUAL.DLL",
        "-rw-r--r--   1 ftp ftp  10 Mar 10 14:05 VELHO.DLL",
        "drwxr-xr-x   2 ftp ftp  4096 Mar  1 08:00 Arquivos_dlls",
        "-rw-r--r--   1 ftp ftp  10 Mar 10 14:05 NOVO ARQUIVO.TXT",
        "-rw-r--r--   1 ftp ftp  10 Mar 20 00:00 HOJE.TXT",
        "-rw-r--r--   1 ftp ftp  10 Mar 10 14:05 ..",
        "-rw-r--r--   1 ftp ftp  10 Mar 10 14:05 a\\b.txt",
        "-rw-r--r--   1 ftp ftp  10 Mar 10 14:05 C:x",
    };
    TIdFTPListItems items;
    QString format;
    ParseFTPListing(lines, "UNIX Type: L8", true, items, format, Now());
    const TUpdatePlan plan = PlanejaAtualizacao(lines, items);
    ASSERT_EQ(plan.Items.size(), lines.size());
    QStringList decisions;
    for (const TPlanItem& i : plan.Items)
        decisions << i.Name + "=" + DecisionText(i.Decision);
    EXPECT_EQ(decisions, QStringList({"=", "IGUAL.DLL=atualizado", "VELHO.DLL=baixar", "Arquivos_dlls=nunca baixado",
                                      "NOVO ARQUIVO.TXT=baixar", "HOJE.TXT=atualizado", "..=recusado",
                                      "a\\b.txt=recusado", "C:x=recusado"}));
    EXPECT_EQ(plan.Items[0].State(), nsNone);
    EXPECT_EQ(plan.Items[3].State(), nsGreen);
    EXPECT_EQ(plan.Items[2].State(), nsRed);
    EXPECT_NEAR(plan.Items[2].RemoteTime.Value(), At(2024, 3, 10, 14, 5, 30).Value(), 30.0 / 86400);
    // a refused name stops the replacement, whatever else is fetched
    WriteBytes(FDir.File("Quendarive.rar"), "rar");
    EXPECT_FALSE(plan.ReplacementExpected());
}

TEST_F(Plan, RefusedNamesAndTheReplacementCondition)
{
    EXPECT_EQ(MotivoRecusa("SETUP.EXE"), "");
    EXPECT_EQ(MotivoRecusa("com espaço.txt"), "");
    for (const QString& name : QStringList{"../x", "/etc/passwd", "a/b", "..\\x", "C:\\x", "..", ".", "", "a\tb",
                               QString("a") + QChar(0x7F)})
        EXPECT_NE(MotivoRecusa(name), "") << name.toStdString();

    TUpdatePlan plan;
    plan.Items.append({"l", "Quendarive.rar", At(2024, 3, 10, 14, 5), fdBaixar, {}});
    EXPECT_FALSE(SubstituicaoNecessaria(true, false)); // no archive yet
    EXPECT_TRUE(plan.ReplacementExpected());           // but this plan fetches it
    WriteBytes(FDir.File("Quendarive.rar"), "rar");
    WriteBytes(FDir.File("Quendarive.exe"), "exe");
    EXPECT_TRUE(SubstituicaoNecessaria(true, false));
    EXPECT_FALSE(SubstituicaoNecessaria(true, true));
    EXPECT_FALSE(SubstituicaoNecessaria(false, false));
    DeleteFile("Quendarive.exe");
    EXPECT_TRUE(SubstituicaoNecessaria(false, false)); // the main executable is missing

    // an earlier run left its replacement pending: due with nothing fetched,
    // for the plan and the run alike, but never after an error
    WriteBytes(FDir.File("Quendarive.exe"), "exe");
    MarcaSubstituicaoPendente();
    EXPECT_TRUE(SubstituicaoPendente());
    EXPECT_TRUE(SubstituicaoNecessaria(false, false));
    EXPECT_TRUE(TUpdatePlan().ReplacementExpected());
    EXPECT_FALSE(SubstituicaoNecessaria(false, true));
}

using Settings = InFolder;

TEST_F(Settings, FourTwoOrNoLinesAndUnreadableFiles)
{
    TConfiguracao c = LeConfiguracao();
    EXPECT_EQ(c.Host, "atualiza.belmora.com.br");
    EXPECT_EQ(c.Port, 21);
    EXPECT_TRUE(c.Passive);
    EXPECT_EQ(c.PasswordField(), "senha_ftp");
    TIdFTP ftp; // the client's bounded waits
    AjustaFtp(ftp);
    EXPECT_EQ(ftp.ConnectTimeout, 30000);
    EXPECT_EQ(ftp.ReadTimeout, 60000);

    WriteBytes(FDir.File("atualiza.cfg"), "192.0.2.10\r\n2121\r\nfalse\r\nx\r\n");
    c = LeConfiguracao();
    EXPECT_EQ(c.Host, "192.0.2.10");
    EXPECT_EQ(c.Port, 2121);
    EXPECT_FALSE(c.Passive);
    EXPECT_EQ(c.PasswordField(), "senha_ftp2");
    EXPECT_FALSE(c.Tls);

    // a fifth line asks for TLS, in any letter case; anything else leaves it off
    WriteBytes(FDir.File("atualiza.cfg"), "ftp.example\r\n21\r\n\r\n\r\n tls \r\n");
    EXPECT_TRUE(LeConfiguracao().Tls);
    WriteBytes(FDir.File("atualiza.cfg"), "ftp.example\r\n21\r\n\r\n\r\nSSL\r\n");
    EXPECT_FALSE(LeConfiguracao().Tls);

    WriteBytes(FDir.File("atualiza.cfg"), "127.0.0.1\n21\n");
    c = LeConfiguracao();
    EXPECT_TRUE(c.Passive);
    EXPECT_EQ(c.PasswordField(), "senha_ftp");

    WriteBytes(FDir.File("atualiza.cfg"), "127.0.0.1\nvinte\n");
    EXPECT_EQ(FailureOf<EConvertError>([] { LeConfiguracao(); }), "'vinte' is not a valid integer value");
    WriteBytes(FDir.File("atualiza.cfg"), "127.0.0.1\n70000\n");
    EXPECT_NE(FailureOf<EConvertError>([] { LeConfiguracao(); }), "<no failure>");
    DeleteFile("atualiza.cfg");
    QDir().mkdir("atualiza.cfg");
    EXPECT_NE(FailureOf<EInOutError>([] { LeConfiguracao(); }), "<no failure>");

    WriteBytes(FDir.File("Tolvenra.INI"), "12345678901234MINHABASE                     resto\r\nsegunda");
    EXPECT_EQ(AliasDoIni("Tolvenra.INI"), "MINHABASE");
    WriteBytes(FDir.File("Tolvenra.INI"), "curta");
    EXPECT_EQ(AliasDoIni("Tolvenra.INI"), "");
}

namespace {

// A Program Files folder with the archiver at the one place the check looks:
// the project's stand-in, or a script standing in for a failing archiver.
class Replacement : public InFolder {
protected:
    void SetUp() override
    {
        InFolder::SetUp();
        ASSERT_EQ(QProcess::execute(SourceDir() + "/scripts/install-winrar",
                                    {FPrograms.Path(), FPrograms.File("registry.ini")}), 0);
        WriteBytes(FDir.File("Quendarive.exe"), "programa antigo");
        WriteRar4(FDir.File("Quendarive.rar"), {{"Quendarive.exe", "programa novo", QDateTime(QDate(2024, 3, 15), QTime(10, 20))},
                                                {"Ajuda.exe", "ajuda nova", QDateTime(QDate(2024, 3, 15), QTime(10, 20))}});
    }
    void Archiver(const QByteArray& script)
    {
        WriteBytes(FPrograms.File("winrar/winrar.exe"), "#!/bin/bash\n" + script + "\n");
        QFile::setPermissions(FPrograms.File("winrar/winrar.exe"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // The previous program in place and nothing of the attempt left, the
    // archive gone so the next run fetches it again.
    void ExpectPreviousProgramKept()
    {
        EXPECT_EQ(ReadBytes(FDir.File("Quendarive.exe")), "programa antigo");
        EXPECT_EQ(ReadBytes(FDir.File("Quendarive.old")), "programa antigo");
        EXPECT_FALSE(QFileInfo::exists(StagingFolder));
        EXPECT_FALSE(QFileInfo::exists("Ajuda.exe"));
        EXPECT_FALSE(FileExists("Quendarive.rar"));
    }
    TScratchDir FPrograms;
};

} // namespace

TEST_F(Replacement, UnpackedAsideAndMovedIntoPlaceWithTheExactCommandLine)
{
    WriteBytes(FDir.File("Quendarive.old"), "bem velho");
    MarcaSubstituicaoPendente();
    QDir().mkpath(QString(StagingFolder) + "/restos"); // left by a crashed run
    const TSubstituicao r = SubstituiExecutavel("Quendarive.exe", FPrograms.Path());
    EXPECT_FALSE(r.Failed) << r.Message.toStdString();
    EXPECT_EQ(r.Pauses, 0);
    EXPECT_EQ(r.CommandLine, FPrograms.Path() + "/winrar/winrar.exe x -o+ Quendarive.rar *.exe \"" + StagingFolder + "/\"");
    EXPECT_EQ(ReadBytes(FDir.File("Quendarive.exe")), "programa novo");
    EXPECT_EQ(ReadBytes(FDir.File("Ajuda.exe")), "ajuda nova");
    EXPECT_EQ(ReadBytes(FDir.File("Quendarive.old")), "programa antigo");
    EXPECT_FALSE(QFileInfo::exists(StagingFolder));
    EXPECT_FALSE(SubstituicaoPendente()); // done
    EXPECT_TRUE(Started.isEmpty()); // waited for, not started detached

    // no main executable (an earlier replacement was interrupted): no backup, no wait
    DeleteFile("Quendarive.exe");
    WriteRar4(FDir.File("Quendarive.rar"), {{"Quendarive.exe", "programa novo", QDateTime(QDate(2024, 3, 15), QTime(10, 20))}});
    EXPECT_EQ(SubstituiExecutavel("Quendarive.exe", FPrograms.Path()).Pauses, 0);
    EXPECT_EQ(ReadBytes(FDir.File("Quendarive.exe")), "programa novo");
}

// Each way the archiver can fail leaves the previous program in place and
// says why; before, the program was deleted and the run reported success.
TEST_F(Replacement, EveryFailureOfTheArchiverKeepsThePreviousProgram)
{
    const struct {
        const char* Case;
        QByteArray Script; // empty: the project's stand-in on a damaged archive
        bool Damaged;
        const char* Cause;
    } rows[] = {
        {"crc", "", true, "terminou com o código 3"},
        {"exit", "exit 2", false, "terminou com o código 2"},
        {"nothing", "exit 0", false, "Quendarive.rar não trouxe o Quendarive.exe"},
        {"empty", "mkdir -p \"$5\"; : > \"$5/Quendarive.exe\"", false, "não trouxe o Quendarive.exe"},
        {"crash", "kill -SEGV $$", false, "terminou de forma anormal"},
        {"no start", "#", false, "não pôde ser iniciado"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Case);
        SetUp();
        if (!row.Script.isEmpty())
            Archiver(row.Script);
        if (row.Damaged) {
            QByteArray rar = ReadBytes(FDir.File("Quendarive.rar"));
            rar[rar.indexOf("programa novo")] = 'P';
            WriteBytes(FDir.File("Quendarive.rar"), rar);
        }
        if (QByteArray(row.Case) == "no start")
            QFile::setPermissions(FPrograms.File("winrar/winrar.exe"), QFile::ReadOwner);
        MarcaSubstituicaoPendente();
        const TSubstituicao r = SubstituiExecutavel("Quendarive.exe", FPrograms.Path());
        EXPECT_TRUE(r.Failed);
        EXPECT_TRUE(SubstituicaoPendente()); // still due
        EXPECT_TRUE(r.Message.startsWith("Não foi possível substituir Quendarive.exe: ")) << r.Message.toStdString();
        EXPECT_TRUE(r.Message.contains(row.Cause)) << r.Message.toStdString();
        ExpectPreviousProgramKept();
    }
}

// A stop asked while the archiver works ends it and undoes the replacement.
TEST_F(Replacement, StopDuringTheArchiverPutsTheProgramBack)
{
    Archiver("mkdir -p \"$5\"; echo parte > \"$5/Quendarive.exe\"; sleep 30");
    QElapsedTimer clock;
    clock.start();
    int waits = 0;
    const TSubstituicao r = SubstituiExecutavel("Quendarive.exe", FPrograms.Path(), [&] { return ++waits < 10; });
    EXPECT_TRUE(r.Cancelled);
    EXPECT_LT(clock.elapsed(), 5000);
    ExpectPreviousProgramKept();
}

TEST_F(Replacement, LockedForThreeSecondsOrForGood)
{
    {
        TImmutable locked(FDir.File("Quendarive.exe"));
        int pauses = 0;
        SetPauseFunction([&](int ms) {
            EXPECT_EQ(ms, 1000);
            if (++pauses == 3) {
                locked.Set(false);
                DeleteFile("Quendarive.exe");
            }
        });
        const TSubstituicao r = SubstituiExecutavel("Quendarive.exe", FPrograms.Path());
        EXPECT_EQ(r.Pauses, 3);
        EXPECT_FALSE(r.Failed);
        EXPECT_EQ(ReadBytes(FDir.File("Quendarive.exe")), "programa novo");
    }
    WriteBytes(FDir.File("Quendarive.exe"), "exe");
    TImmutable locked(FDir.File("Quendarive.exe"));
    Archiver("touch started; exit 0");
    SetPauseFunction([](int) {});
    const TSubstituicao r = SubstituiExecutavel("Quendarive.exe", FPrograms.Path());
    EXPECT_EQ(r.Pauses, 5);
    EXPECT_TRUE(r.Failed);
    EXPECT_EQ(r.Message, "Não foi possível apagar arquivo Quendarive.exe.");
    EXPECT_FALSE(FileExists("Quendarive.rar"));
    EXPECT_FALSE(FileExists("started"));
}

// The updater killed while a slow archiver runs: a whole program is there
// (the backup), the archiver dies with it, and the next run cleans up and
// replaces. The child is a small program that only replaces.
TEST_F(Replacement, KilledMidwayTheNextRunRepairs)
{
    Archiver("echo $$ > \"$PWD/archiver.pid\"; mkdir -p \"$5\"; echo parte > \"$5/Quendarive.exe\"; sleep 60");
    QProcess child;
    child.setWorkingDirectory(FDir.Path());
    child.start(REPLACEMENT_CHILD, {FPrograms.Path()});
    ASSERT_TRUE(QTest::qWaitFor([&] { return FileExists(FDir.File("archiver.pid")); }, 20000));
    ::kill(pid_t(child.processId()), SIGKILL);
    child.waitForFinished(5000);
    const pid_t archiver = pid_t(ReadBytes(FDir.File("archiver.pid")).trimmed().toInt());
    EXPECT_TRUE(QTest::qWaitFor([&] { return ::kill(archiver, 0) != 0; }, 5000)) << "the archiver outlived the updater";
    EXPECT_FALSE(FileExists("Quendarive.exe"));
    EXPECT_EQ(ReadBytes(FDir.File("Quendarive.old")), "programa antigo");
    EXPECT_TRUE(QFileInfo::exists(StagingFolder));

    QFile::remove(FPrograms.File("winrar/winrar.exe"));
    ASSERT_EQ(QProcess::execute(SourceDir() + "/scripts/install-winrar", {FPrograms.Path(), FPrograms.File("registry.ini")}), 0);
    const TSubstituicao r = SubstituiExecutavel("Quendarive.exe", FPrograms.Path());
    EXPECT_FALSE(r.Failed) << r.Message.toStdString();
    EXPECT_EQ(ReadBytes(FDir.File("Quendarive.exe")), "programa novo");
    EXPECT_FALSE(QFileInfo::exists(StagingFolder));
}

// Links planted in the installation folder before the replacement: a
// staging folder that is a link to a folder elsewhere, and a backup that is
// a dangling link. Both go as links; what they named is neither emptied nor
// created, and the replacement goes on.
TEST_F(Replacement, LinksInTheFolderGoAsLinks)
{
    const TScratchDir outside;
    WriteBytes(outside.File("pasta/guardado.txt"), "guardado");
    ASSERT_TRUE(QFile::link(outside.File("pasta"), StagingFolder));
    ASSERT_TRUE(QFile::link(outside.File("criado"), "Quendarive.old"));
    const TSubstituicao r = SubstituiExecutavel("Quendarive.exe", FPrograms.Path());
    EXPECT_FALSE(r.Failed) << r.Message.toStdString();
    EXPECT_EQ(ReadBytes(FDir.File("Quendarive.exe")), "programa novo");
    EXPECT_EQ(ReadBytes(FDir.File("Quendarive.old")), "programa antigo");
    EXPECT_FALSE(QFileInfo(FDir.File("Quendarive.old")).isSymLink());
    EXPECT_FALSE(QFileInfo::exists(StagingFolder) || QFileInfo(StagingFolder).isSymLink());
    EXPECT_EQ(ReadBytes(outside.File("pasta/guardado.txt")), "guardado");
    EXPECT_EQ(QDir(outside.Path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList({"pasta"}));
    EXPECT_EQ(QDir(outside.File("pasta")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList({"guardado.txt"}));
}

// The run log as a link, to a large file elsewhere or dangling: no line is
// written through it, the cut never reaches the file, nothing is created.
TEST_F(InFolder, ARunLogThatIsALinkIsNeverWrittenThrough)
{
    const TScratchDir outside;
    const QByteArray large(3 * 1024 * 1024, 'x');
    WriteBytes(outside.File("grande"), large);
    for (const char* target : {"grande", "criado"}) {
        SCOPED_TRACE(target);
        QFile::remove(RunLogName);
        ASSERT_TRUE(QFile::link(outside.File(target), RunLogName));
        TRunLog(FDir.File(RunLogName)).Line("evento");
        EXPECT_TRUE(QFileInfo(RunLogName).isSymLink());
    }
    EXPECT_TRUE(ReadBytes(outside.File("grande")) == large);
    EXPECT_EQ(QDir(outside.Path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList({"grande"}));
}

// A customer database that opens but cannot be closed again is a failed
// check like one that does not open; before, the error escaped the checks.
// The client is the recording fake, which fails the detach on request.
TEST_F(InFolder, CustomerDatabaseThatWillNotCloseFailsItsCheck)
{
    qputenv("ZEMBO_IB_CLIENT", FAKE_CLIENT);
    WriteBytes(FDir.File("catalogo.sqlite"), "");
    WriteBytes(FDir.File("aliases.ini"), "[Check]\nTYPE=SQLITE\nDATABASE NAME=" + FDir.File("catalogo.sqlite").toUtf8() +
                                         "\n[DADOS]\nTYPE=INTRBASE\nSERVER NAME=/fake/dados.fdb\n");
    qputenv("ZEMBO_ALIASES", FDir.File("aliases.ini").toLocal8Bit());
    const auto control = reinterpret_cast<void (*)(const char*)>(QLibrary::resolve(FAKE_CLIENT, "fake_control"));
    ASSERT_TRUE(control);
    control("fail isc_detach_database 335544721 -902 Unable to complete network request to host \"x\".");
    TDatabase catalogue;
    TIBDatabase customer;
    ConfiguraConexoes(catalogue, customer);
    const std::optional<TCheckFailure> failure = VerificaBases("DADOS", catalogue, customer);
    control("reset");
    qunsetenv("ZEMBO_ALIASES");
    qunsetenv("ZEMBO_IB_CLIENT");
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->Kind, ckCustomerDatabase);
    EXPECT_EQ(failure->Message, "Alias DADOS encontrado, mas arquivo apontado por ele /fake/dados.fdb não foi encontrado.");
    EXPECT_FALSE(catalogue.Connected());
}

TEST(Progress, TextsOfTheEdgeCasesInBrazilianPortuguese)
{
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    const TDateTime start = At(2024, 3, 10, 23, 59, 59);
    TTransferProgress p;
    p.Begin();
    TProgressTexts t = p.Work(5120, 10240, start, start + 2.5 / 86400);
    EXPECT_EQ(t.Contador, "Transferidos: 5 Kb de 10 Kb");
    EXPECT_EQ(t.Status, "Taxa de Transferencia: 2,00 KB/s; Tempo de download  0: 0: 2");
    EXPECT_EQ(t.Gauge, 50);

    t = p.Work(1536000, 0, start, start + 65.0 / 86400);
    EXPECT_EQ(t.Contador, "Transferidos: 1.500 Kb de 0 Kb"); // a listing: total 0, gauge untouched
    EXPECT_FALSE(t.Gauge.has_value());
    EXPECT_TRUE(t.Status.endsWith("; Tempo de download  0: 1: 5")) << t.Status.toStdString();

    // within the first millisecond: no time text, and the rate starts from 0
    p.Begin();
    t = p.Work(100, 4294967295u, start, start);
    EXPECT_EQ(t.Status, "Taxa de Transferencia: 0,00 KB/s; ");
    EXPECT_EQ(t.Gauge, 0);
    // the second count is 16 bits: 65 536 s + 3 s reads as 3 s
    t = p.Work(3 * 1024, 10240, start, start + 65539.0 / 86400);
    EXPECT_EQ(t.Status, "Taxa de Transferencia: 1,00 KB/s; Tempo de download  0: 0: 3");
    EXPECT_EQ(t.Gauge, 30);

    EXPECT_EQ(WorkEndContador(1536000u), "Transferidos: 1.500 Kb");
    EXPECT_EQ(WorkEndStatus(wmRead), "Download!!");
    EXPECT_EQ(StatusBarText(hsDisconnected, "x"), "Desconectado!");
    EXPECT_EQ(StatusBarText(hsStatusText, "Texto livre"), "Texto livre");
    QLocale::setDefault(QLocale::c());
}
