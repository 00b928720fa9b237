// The update window end to end against the real services: pyftpdlib and
// vsftpd serving "keldarin", the private MariaDB catalogue, an embedded
// Firebird customer database, the archiver stand-in under a scratch Program
// Files folder. The window is driven with QTest; every box is answered here.
#include "app/formkit.h"
#include "app/scripterrornotice.h"
#include "app/updatepictures.h"
#include "app/updatewindow.h"
#include "app/upgradewindow.h"
#include "platform/files.h"
#include "platform/lock.h"
#include "platform/shell.h"
#include "tests/ftp/fakeftpserver.h"
#include "tests/support/controls.h"
#include "tests/support/rar4writer.h"
#include "tests/support/testenv.h"
#include "tests/update/installation.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>

namespace {

// A Unix listing line: 'd' a folder, '-' a file.
QByteArray UnixLine(char kind, const QByteArray& name, int size = 5)
{
    return kind + QByteArray("rwxr-xr-x   1 ftp      ftp      ") + QByteArray::number(size).rightJustified(8) +
           " Mar 15 10:20 " + name + "\r\n";
}

// The scripted server's answers to a login into "keldarin".
void LogsIn(TFakeSession& s)
{
    s.Reply("220 pronto");
    s.Login();
    s.Always("CWD", "250 ok");
    s.OnPasv();
}

void LoginAndList(TFakeSession& s, const QByteArray& listing)
{
    LogsIn(s);
    s.On("LIST", [listing](TFakeSession& session, const QByteArray&) {
        session.Reply("150 listagem");
        session.SendData(listing);
        session.Reply("226 fim");
    });
}

class UpdateWindow : public TInstallationTest {
protected:
    UpdateWindow() : TInstallationTest("zembo_uw_") {}
    void SetUp() override
    {
        TInstallationTest::SetUp();
        SetShellOpenFunction([this](const QString& address) {
            Opened << address + (Messages.isEmpty() ? " before the box" : "");
            return true;
        });
        // The operator: reads and answers every box and notice.
        FAnswer.setInterval(20);
        QObject::connect(&FAnswer, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                Messages << box->text();
                box->accept();
            } else if (auto* notice = dynamic_cast<TScriptErrorNotice*>(modal)) {
                Messages << Control<QLabel>(*notice, "Label1")->text();
                Control<QPushButton>(*notice, "Button3")->click();
            }
        });
        FAnswer.start();
    }
    void TearDown() override
    {
        FWindow.reset();
        SetShellOpenFunction({});
        TInstallationTest::TearDown();
    }

    // The confirmed start: the window shown, its checks run and answered.
    TUpdateWindow& Open()
    {
        FWindow = std::make_unique<TUpdateWindow>();
        FWindow->SetConfirmed(true);
        FWindow->show();
        Finish();
        QTest::qWait(150);
        return *FWindow;
    }
    // "&Atualizar agora", then the run to its end.
    void Run()
    {
        Messages.clear();
        QTest::mouseClick(Control<QPushButton>(*FWindow, "Button1"), Qt::LeftButton);
        Finish();
    }
    // Until the session's thread has delivered what it was asked.
    void Finish() { ASSERT_TRUE(QTest::qWaitFor([this] { return !FWindow->Running(); }, 120000)); }
    int StateOf(const QString& name) const
    {
        const QTreeWidget* files = Control<QTreeWidget>(*FWindow, "TreeView3");
        for (int i = 0; i < files->topLevelItemCount(); ++i)
            if (files->topLevelItem(i)->text(0).endsWith(" " + name))
                return FWindow->NodeState(i);
        return -2;
    }
    QString Final() const { return Control<QLabel>(*FWindow, "lblstatus")->text(); }
    QString VersaoTables() const
    {
        return FCustomer->Scalar("SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'VERSAO'");
    }
    // atualiza.cfg naming the scripted server.
    std::unique_ptr<TFakeFtpServer> Fake(TFakeFtpServer::TScript script, int connections = 1)
    {
        auto server = std::make_unique<TFakeFtpServer>(std::move(script), connections);
        Config(svPyftpd, false, QString::number(server->Port()));
        return server;
    }

    std::unique_ptr<TUpdateWindow> FWindow; // the window Open shows
    QTimer FAnswer;
    QStringList Messages;
    QStringList Opened;
};

const QString Success = "Atualização finalizada com sucesso.";
const QString Retry = "Atualização finalizada com erros, feche os aplicativos e tente denovo.";
const QString Contact = "Atualização finalizada com erros, necessário contactar Belmora Sistemas.";

} // namespace

TEST_F(UpdateWindow, FirstRunFetchesStampsReplacesAndUpgradesThenASecondRunDoesNothing)
{
    Serve(svPyftpd, "NOVO.DLL", QByteArray(300000, 'n'));
    Serve(svPyftpd, "MESMO MINUTO.TXT", "servidor");
    Serve(svPyftpd, "VELHO.DLL", "versão nova");
    QDir().mkpath(Root(svPyftpd) + "Arquivos_dlls");
    WriteBytes(FWork.File("MESMO MINUTO.TXT"), "local, outro conteúdo");
    FileSetDate("MESMO MINUTO.TXT", ServerTime() + 40.0 / 86400);
    WriteBytes(FWork.File("VELHO.DLL"), "versão velha");
    FileSetDate("VELHO.DLL", ServerTime() + (-1.0 / 1440));
    WriteRar4(Root(svPyftpd) + "Quendarive.rar", {{"Quendarive.exe", "programa novo", QDateTime(QDate(2024, 3, 15), QTime(10, 20))}});
    FileSetDate(Root(svPyftpd) + "Quendarive.rar", ServerTime());
    FCatalog.AddScript("KELDARIN", "0001", "S", "CREATE TABLE T1 (X INTEGER);");
    FCatalog.AddScript("KELDARIN", "0002", "S", "INSERT INTO T1 VALUES (2);");
    Config(svPyftpd, false);

    TUpdateWindow& w = Open();
    EXPECT_EQ(Control<QLabel>(w, "StatusPanel1")->text(), "Clique em Atualizar agora ou pressione <ENTER>.");
    EXPECT_EQ(Control<QListWidget>(w, "CheckListBox1")->item(0)->text(), "DADOS");
    EXPECT_EQ(Control<QListWidget>(w, "CheckListBox1")->item(0)->checkState(), Qt::Checked);
    EXPECT_EQ(QApplication::focusWidget(), Control<QPushButton>(w, "Button1"));
    QTest::keyClick(Control<QPushButton>(w, "Button1"), Qt::Key_Return); // Enter starts the run
    Finish();
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join(" | ").toStdString();
    EXPECT_EQ(Final(), Success);
    EXPECT_EQ(ReadBytes(FWork.File("NOVO.DLL")), QByteArray(300000, 'n'));
    EXPECT_EQ(ReadBytes(FWork.File("VELHO.DLL")), "versão nova");
    EXPECT_EQ(ReadBytes(FWork.File("MESMO MINUTO.TXT")), "local, outro conteúdo");
    EXPECT_EQ(ToTheMinute("NOVO.DLL"), ToTheMinute(Root(svPyftpd) + "NOVO.DLL"));
    EXPECT_EQ(ToTheMinute("VELHO.DLL"), ToTheMinute(Root(svPyftpd) + "VELHO.DLL"));
    EXPECT_FALSE(QFileInfo::exists("Arquivos_dlls"));
    EXPECT_EQ(StateOf("Arquivos_dlls"), nsGreen);
    EXPECT_EQ(StateOf("VELHO.DLL"), nsGreen);
    EXPECT_EQ(ReadBytes(FWork.File("Quendarive.old")), "programa antigo");
    EXPECT_TRUE(QTest::qWaitFor([&] { return FileExists("Quendarive.exe"); }, 10000)); // the detached archiver
    EXPECT_TRUE(QTest::qWaitFor([&] { return ReadBytes(FWork.File("Quendarive.exe")) == "programa novo"; }, 5000));
    EXPECT_EQ(FCustomer->Scalar("SELECT VERSAO FROM VERSAO"), "0002");
    EXPECT_EQ(FCustomer->Scalar("SELECT X FROM T1"), "2");
    EXPECT_EQ(Control<QLabel>(w, "StatusPanel1")->text(), "Desconectado!");
    EXPECT_EQ(Control<TGauge>(w, "Gauge1")->Progress(), 0);
    EXPECT_EQ(Control<QLabel>(w, "lblcontador")->text(), "");
    EXPECT_EQ(Control<QLabel>(w, "Label3")->text(), "");
    EXPECT_TRUE(Control<QPushButton>(w, "Button1")->isEnabled());
    EXPECT_FALSE(w.FtpConnected());

    QStringList started;
    SetProcessStartFunction([&](const QString& line, const QString&) {
        started << line;
        return true;
    });
    const QDateTime before = QFileInfo("NOVO.DLL").lastModified();
    Run();
    EXPECT_EQ(Final(), Success);
    EXPECT_TRUE(started.isEmpty());
    EXPECT_EQ(QFileInfo("NOVO.DLL").lastModified(), before);
    EXPECT_EQ(StateOf("NOVO.DLL"), nsGreen);
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join(" | ").toStdString();
}

// Active mode and the alternate password (the other column would not log
// in); a failing script then makes every later run of the session end
// with the text that asks to contact the maker.
TEST_F(UpdateWindow, ActiveModeAlternatePasswordAndAFailingScript)
{
    FCatalog.Exec("UPDATE principal SET senha_ftp = senha_ftp2, senha_ftp2 = '" + Scrambled(ServiceEnv("ZEMBO_FTP_PASSWORD"), 1) + "'");
    Serve(svVsftpd, "ATIVO.DLL", "ativo");
    FCatalog.AddScript("KELDARIN", "0001", "S", "CREATE TABLE T1 (X INTEGER);\r\nINSERT INTO NADA VALUES (1);");
    Config(svVsftpd, true);
    Open();
    Run();
    EXPECT_EQ(ReadBytes(FWork.File("ATIVO.DLL")), "ativo");
    EXPECT_EQ(Final(), Contact);
    ASSERT_EQ(Messages.size(), 1);
    EXPECT_TRUE(Messages[0].startsWith("SCRIPT EM EXECUÇÃO SALVO: SCRIPT_ERRO_DT_"));
    Run();
    EXPECT_EQ(Final(), Contact);
}

// While another update (zembo-update at night) holds the folder, the window
// says so and closes without checking or changing anything.
TEST_F(UpdateWindow, AnotherUpdateOfTheFolderKeepsTheWindowFromStarting)
{
    TFileLock other(FWork.File("zembo-update.lock"));
    ASSERT_TRUE(other.TryLock());
    TUpdateWindow& w = Open();
    EXPECT_EQ(Messages, QStringList{"Outra atualização desta pasta está em andamento."});
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.isVisible(); }, 2000));
    EXPECT_EQ(Control<QListWidget>(w, "CheckListBox1")->count(), 0); // no check ran
}

TEST_F(UpdateWindow, EachFailedCheckWithItsMessageAndButton)
{
    struct TCase {
        std::function<void()> Prepare;
        QString Message;
        bool ButtonEnabled;
    };
    const QString notFound = " não encontrado nesta pasta que você executou o atualiza_keldarin.exe";
    const QList<TCase> cases = {
        {[&] { QFile::remove(FPrograms.File("winrar/winrar.exe")); },
         "Favor fazer a instalação do Winrar Primeiro. Voce será redirecionado para o download.", true},
        {[&] { QFile::remove("Quendarive.exe"); }, "Arquivo Quendarive.exe" + notFound, false},
        {[&] { QFile::remove("Tolvenra.INI"); }, "Arquivo Tolvenra.ini" + notFound, false},
        {[&] { WriteBytes(FWork.File("Tolvenra.INI"), "curta"); }, "Alias  do BDE não encontrado.", true},
        {[&] {
             WriteBytes(FPrograms.File("aliases.ini"), "[Check]\nTYPE=MYSQL\nHOST=127.0.0.1\nPORT=1\nDATABASE NAME=x\n"
                                                       "[DADOS]\nTYPE=INTRBASE\nSERVER NAME=/x.fdb\n");
         },
         "Conexão com o MYSQL da internet não localizado.", true},
        {[&] { Aliases("/nada/aqui.fdb"); },
         "Alias DADOS encontrado, mas arquivo apontado por ele /nada/aqui.fdb não foi encontrado.", true},
        {[&] { WriteBytes(FPrograms.File("registry.ini"), "[HKEY_LOCAL_MACHINE\\Outra]\n"); },
         "Não foi possível ler a pasta de programas no registro: ", true},
    };
    const QByteArray ini = ReadBytes(FWork.File("Tolvenra.INI"));
    const QByteArray aliases = ReadBytes(FPrograms.File("aliases.ini"));
    const QByteArray registry = ReadBytes(FPrograms.File("registry.ini"));
    for (const TCase& c : cases) {
        c.Prepare();
        Messages.clear();
        Opened.clear();
        TUpdateWindow& w = Open();
        EXPECT_TRUE(QTest::qWaitFor([&w] { return !w.isVisible(); }, 3000)) << c.Message.toStdString();
        ASSERT_EQ(Messages.size(), 1) << c.Message.toStdString();
        EXPECT_TRUE(Messages[0].startsWith(c.Message)) << Messages[0].toStdString();
        EXPECT_EQ(Control<QPushButton>(w, "Button1")->isEnabled(), c.ButtonEnabled) << c.Message.toStdString();
        EXPECT_EQ(Opened, c.Message.startsWith("Favor") ? QStringList{"http://www.belmora.com.br/winrar.exe"}
                                                        : QStringList{});
        FWindow.reset();
        QProcess::execute(SourceDir() + "/scripts/install-winrar", {FPrograms.Path(), FPrograms.File("registry.ini")});
        WriteBytes(FPrograms.File("registry.ini"), registry);
        WriteBytes(FWork.File("Quendarive.exe"), "programa antigo");
        WriteBytes(FWork.File("Tolvenra.INI"), ini);
        WriteBytes(FPrograms.File("aliases.ini"), aliases);
    }
    // only the backup of an earlier replacement: the checks pass
    QFile::rename("Quendarive.exe", "Quendarive.old");
    Messages.clear();
    TUpdateWindow& w = Open();
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(Messages.isEmpty());
    EXPECT_EQ(Control<QLabel>(w, "Label9")->text(), "Quendarive.exe - Será atualizado");
}

// The server refuses the first file: red node and its box, the second file
// fetched, no replacement and no upgrade; a name that would write outside
// the folder is refused the same way and nothing is written.
TEST_F(UpdateWindow, RefusedAndUnsafeFilesKeepThePreviousCopies)
{
    Serve(svVsftpd, "A_PRIMEIRO.DLL", "novo primeiro");
    QFile::setPermissions(Root(svVsftpd) + "A_PRIMEIRO.DLL", QFileDevice::WriteOwner);
    Serve(svVsftpd, "B_SEGUNDO.DLL", "novo segundo");
    Serve(svVsftpd, "sub\\..\\..\\FORA.DLL", "fora"); // a dot file would not be listed
    WriteBytes(FWork.File("A_PRIMEIRO.DLL"), "primeiro anterior");
    WriteRar4(Root(svVsftpd) + "Quendarive.rar", {{"Quendarive.exe", "novo", QDateTime(QDate(2024, 3, 15), QTime(10, 20))}});
    FileSetDate(Root(svVsftpd) + "Quendarive.rar", ServerTime());
    FCatalog.AddScript("KELDARIN", "0001", "S", "CREATE TABLE T1 (X INTEGER);");
    Config(svVsftpd, false);
    TUpdateWindow& w = Open();
    Run();
    EXPECT_EQ(Final(), Retry);
    ASSERT_EQ(Messages.size(), 2) << Messages.join(" | ").toStdString();
    EXPECT_EQ(Messages[0], "Failed to open file.\r\n"); // the server's refusal, A_PRIMEIRO first
    EXPECT_TRUE(Messages[1].contains("FORA.DLL recusado")) << Messages[1].toStdString();
    EXPECT_EQ(StateOf("A_PRIMEIRO.DLL"), nsRed);
    EXPECT_EQ(StateOf("sub\\..\\..\\FORA.DLL"), nsRed);
    EXPECT_EQ(StateOf("B_SEGUNDO.DLL"), nsGreen);
    EXPECT_EQ(ReadBytes(FWork.File("A_PRIMEIRO.DLL")), "primeiro anterior");
    EXPECT_EQ(ReadBytes(FWork.File("B_SEGUNDO.DLL")), "novo segundo");
    EXPECT_FALSE(QFileInfo::exists(FWork.File("../FORA.DLL")));
    EXPECT_EQ(ReadBytes(FWork.File("Quendarive.exe")), "programa antigo"); // no replacement
    EXPECT_FALSE(QFileInfo::exists("Quendarive.old"));
    EXPECT_EQ(FCustomer->Scalar("SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'VERSAO'"), "0");
    EXPECT_TRUE(Control<QPushButton>(w, "Button1")->isEnabled());
}

// Errors the run does not expect: the error box with their text, the
// session closed, the button enabled again and the text to try again.
TEST_F(UpdateWindow, UnexpectedErrorsEndTheRunCleanly)
{
    Serve(svPyftpd, "NUNCA.DLL", "x");
    const QList<std::function<void()>> failures = {
        [&] { Config(svPyftpd, false, "vinte"); },
        [&] {
            Config(svPyftpd, false);
            FCatalog.Exec("ALTER TABLE principal RENAME TO outra");
        },
        [&] {
            FCatalog.Exec("ALTER TABLE outra RENAME TO principal");
            QDir(Root(svPyftpd)).removeRecursively();
        },
    };
    TUpdateWindow& w = Open();
    QStringList boxes;
    for (const auto& fail : failures) {
        fail();
        Run();
        boxes += Messages;
        EXPECT_EQ(Messages.size(), 1) << Messages.join(" | ").toStdString();
        EXPECT_EQ(Final(), Retry);
        EXPECT_TRUE(Control<QPushButton>(w, "Button1")->isEnabled());
        EXPECT_FALSE(w.FtpConnected());
        EXPECT_FALSE(QFileInfo::exists("NUNCA.DLL"));
    }
    EXPECT_EQ(boxes.value(0), "'vinte' is not a valid integer value");
}

// An upgrade that stops outside the scripts is an error of the run.
TEST_F(UpdateWindow, UnfinishedUpgradeIsAnError)
{
    FCustomer->Exec({"CREATE TABLE VERSAO (OUTRA INTEGER)"});
    FCatalog.AddScript("KELDARIN", "0001", "S", "CREATE TABLE T1 (X INTEGER);");
    Config(svPyftpd, false);
    Open();
    Run();
    EXPECT_EQ(Messages.size(), 1) << Messages.join(" | ").toStdString();
    EXPECT_EQ(Final(), Retry);
}

// A close request while a file arrives: the transfer stops, the previous
// copy stays, nothing is replaced or upgraded, and the window closes.
TEST_F(UpdateWindow, CloseDuringATransferStopsCleanly)
{
    Serve(svPyftpd, "GRANDE.BIN", QByteArray(96 * 1024 * 1024, 'g'));
    WriteBytes(FWork.File("GRANDE.BIN"), "anterior");
    WriteRar4(Root(svPyftpd) + "Quendarive.rar", {{"Quendarive.exe", "novo", QDateTime(QDate(2024, 3, 15), QTime(10, 20))}});
    FCatalog.AddScript("KELDARIN", "0001", "S", "CREATE TABLE T1 (X INTEGER);");
    Config(svPyftpd, false);
    TUpdateWindow& w = Open();
    const QLabel* file = Control<QLabel>(w, "Label3");
    const QLabel* counter = Control<QLabel>(w, "lblcontador");
    QTimer closer;
    closer.setInterval(5);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (w.Running() && file->text() == "GRANDE.BIN" && counter->text().startsWith("Transferidos: ")) {
            closer.stop();
            QTest::mouseClick(Control<QPushButton>(w, "Button3"), Qt::LeftButton);
        }
    });
    closer.start();
    Run();
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(w.FtpConnected());
    EXPECT_EQ(ReadBytes(FWork.File("GRANDE.BIN")), "anterior");
    EXPECT_FALSE(QFileInfo::exists("Quendarive.old"));
    EXPECT_EQ(FCustomer->Scalar("SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'VERSAO'"), "0");
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join(" | ").toStdString();
}

// "&Sair" in each phase where the run waits: the window closes within a
// second, nothing more is fetched, replaced or upgraded, the session ends.
TEST_F(UpdateWindow, CloseInEveryPhaseOfTheRun)
{
    // The archiver unpacks the new program, then takes its time.
    WriteBytes(FPrograms.File("winrar/winrar.exe"),
               "#!/bin/sh\nfor a; do d=$a; done\nprintf 'programa novo' > \"$d/Quendarive.exe\"\n"
               "echo $$ > '" + FPrograms.File("archiver.pid").toUtf8() + "'\nexec sleep 30\n");
    QFile::setPermissions(FPrograms.File("winrar/winrar.exe"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    WriteRar4(Root(svPyftpd) + "Quendarive.rar", {{"Quendarive.exe", "programa novo", QDateTime(QDate(2024, 3, 15), QTime(10, 20))}});
    FCatalog.AddScript("KELDARIN", "0001", "S", "CREATE TABLE T1 (X INTEGER);");
    std::atomic<bool> reached{false};
    const QByteArray twoFiles = UnixLine('-', "A.DLL") + UnixLine('-', "B.DLL");
    struct TPhase {
        const char* Name;
        std::function<std::unique_ptr<TFakeFtpServer>()> Start;
        std::function<bool()> Reached;
    };
    const auto wasReached = [&reached] { return bool(reached); };
    const QList<TPhase> phases = {
        {"connect", [&] { return Fake([&](TFakeSession&, int) { reached = true; }); }, wasReached},
        {"listing",
         [&] {
             return Fake([&](TFakeSession& s, int) {
                 LogsIn(s);
                 s.On("LIST", [&](TFakeSession& session, const QByteArray&) {
                     session.Reply("150 listagem");
                     reached = true;
                 });
             });
         },
         wasReached},
        {"download",
         [&] {
             return Fake([&](TFakeSession& s, int) {
                 LoginAndList(s, twoFiles);
                 s.OnPasv();
                 s.On("RETR", [&](TFakeSession& session, const QByteArray&) {
                     session.Reply("150 arquivo");
                     reached = true;
                 });
             });
         },
         wasReached},
        {"replacement",
         [&] {
             Config(svPyftpd, false);
             return nullptr;
         },
         [&] { return FileExists(FWork.File(StagingFolder + "/Quendarive.exe")); }},
        {"quit",
         [&] {
             return Fake([&](TFakeSession& s, int) {
                 LoginAndList(s, {});
                 s.On("QUIT", [&](TFakeSession& session, const QByteArray&) {
                     reached = true;
                     session.Pause(2000);
                     session.Reply("221 tchau");
                 });
             });
         },
         wasReached},
    };
    for (const TPhase& phase : phases) {
        SCOPED_TRACE(phase.Name);
        reached = false;
        std::unique_ptr<TFakeFtpServer> server = phase.Start();
        TUpdateWindow& w = Open();
        QElapsedTimer sinceReached, sinceClick;
        QTimer closer;
        closer.setInterval(10);
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (!sinceReached.isValid() && phase.Reached())
                sinceReached.start();
            if (sinceReached.isValid() && sinceReached.elapsed() >= 300) { // well inside the wait
                closer.stop();
                sinceClick.start();
                QTest::mouseClick(Control<QPushButton>(w, "Button3"), Qt::LeftButton);
            }
        });
        closer.start();
        Run();
        const qint64 took = sinceClick.isValid() ? sinceClick.elapsed() : -1;
        std::fprintf(stderr, "closed in the %s phase %lld ms after the click\n", phase.Name, (long long)took);
        ASSERT_TRUE(sinceClick.isValid());
        EXPECT_FALSE(w.isVisible());
        EXPECT_LT(took, 1000);
        EXPECT_FALSE(w.FtpConnected());
        EXPECT_NE(Final(), Success);
        EXPECT_TRUE(Messages.isEmpty()) << Messages.join(" | ").toStdString();
        EXPECT_EQ(ReadBytes(FWork.File("Quendarive.exe")), "programa antigo");
        EXPECT_TRUE(!FileExists("Quendarive.old") || ReadBytes(FWork.File("Quendarive.old")) == "programa antigo");
        EXPECT_FALSE(QFileInfo::exists(StagingFolder));
        EXPECT_FALSE(FileExists("A.DLL") || FileExists("B.DLL"));
        EXPECT_EQ(VersaoTables(), "0");
        // only the transfer that was under way, never the next file
        EXPECT_TRUE(!server || server->Commands().filter("RETR").size() <= 1);
        EXPECT_TRUE(!server || server->Commands().filter("RETR B.DLL").isEmpty());
        FWindow.reset();
    }
    const QByteArray archiver = ReadBytes(FPrograms.File("archiver.pid")).trimmed();
    ASSERT_FALSE(archiver.isEmpty());
    EXPECT_FALSE(QFileInfo::exists("/proc/" + archiver)); // stopped, not left to sleep
}

// Folders of the listing ("." and ".." among them) are green and never
// fetched; after the run "&Atualizar agora" has the focus, so Enter starts
// the next one.
TEST_F(UpdateWindow, FoldersAreNeverFetchedAndEnterStartsTheNextRun)
{
    const QByteArray listing =
        UnixLine('d', ".") + UnixLine('d', "..") + UnixLine('d', "sub") + UnixLine('-', "NOVO.DLL");
    auto server = Fake(
        [listing](TFakeSession& s, int) {
            LoginAndList(s, listing);
            s.Always("SIZE", "213 5");
            s.OnPasv();
            s.On("RETR", [](TFakeSession& session, const QByteArray&) {
                session.Reply("150 arquivo");
                session.SendData("novo!");
                session.Reply("226 fim");
            });
        },
        2);
    TUpdateWindow& w = Open();
    Run();
    EXPECT_EQ(Final(), Success);
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join(" | ").toStdString();
    for (const char* folder : {".", "..", "sub"})
        EXPECT_EQ(StateOf(folder), nsGreen) << folder;
    EXPECT_EQ(ReadBytes(FWork.File("NOVO.DLL")), "novo!");
    EXPECT_EQ(w.focusWidget(), Control<QPushButton>(w, "Button1"));
    w.activateWindow(); // the upgrade window was the last active one
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    ASSERT_EQ(QApplication::focusWidget(), Control<QPushButton>(w, "Button1"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    Finish();
    EXPECT_EQ(Final(), Success);
    const QStringList commands = server->Commands();
    EXPECT_EQ(commands.filter("USER").size(), 2); // the second run came
    EXPECT_EQ(commands.filter("RETR"), QStringList{"RETR NOVO.DLL"});
    // the listing gave the size: no SIZE asked
    EXPECT_TRUE(commands.filter("SIZE").isEmpty() && server->Unexpected().isEmpty())
        << commands.join(" | ").toStdString();
}

// The counter and the file's name never run into each other while a large
// file arrives.
TEST_F(UpdateWindow, CounterAndFileNameNeverOverlap)
{
    Serve(svPyftpd, "ARQUIVO_GRANDE.BIN", QByteArray(48 * 1024 * 1024, 'g'));
    Config(svPyftpd, false);
    TUpdateWindow& w = Open();
    int samples = 0;
    QStringList overlaps;
    const QLabel* file = Control<QLabel>(w, "Label3");
    const QLabel* counter = Control<QLabel>(w, "lblcontador");
    QTimer watch;
    watch.setInterval(1);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (file->text().trimmed().isEmpty() || !counter->text().contains(" Kb de "))
            return;
        ++samples;
        if (counter->geometry().intersects(file->geometry()))
            overlaps << counter->text();
    });
    watch.start();
    Run();
    EXPECT_EQ(Final(), Success);
    EXPECT_GT(samples, 0);
    EXPECT_TRUE(overlaps.isEmpty()) << overlaps.size() << " overlaps, first at " << overlaps.value(0).toStdString();
}

// A wrong password or a refused port: the message, then the program ends
// with exit code 2.
TEST_F(UpdateWindow, FailedConnectionEndsTheProgramWithExitCode2)
{
    const QString message = "Não foi possível estabelecer conexão ftp.\r\rTENTE MAIS TARDE.\r";
    for (const bool refusedPort : {false, true}) {
        SCOPED_TRACE(refusedPort ? "refused port" : "wrong password");
        if (refusedPort)
            Config(svPyftpd, false, "1");
        else
            Config(svPyftpd, true); // the second column's password is wrong
        TUpdateWindow& w = Open();
        Messages.clear();
        QTimer::singleShot(0, &w, [&w] { QTest::mouseClick(Control<QPushButton>(w, "Button1"), Qt::LeftButton); });
        EXPECT_EQ(Application()->Run(&w), 2);
        ASSERT_EQ(Messages.size(), 1);
        EXPECT_TRUE(Messages[0].startsWith(message)) << Messages[0].toStdString();
        if (refusedPort) {
            EXPECT_TRUE(Messages[0].contains("refused") || Messages[0].contains("recusad")) << Messages[0].toStdString();
        }
    }
}

// The four handlers on the client's notifications, with a fixed clock and
// the Brazilian Portuguese locale.
TEST(ProgressHandlers, TextsGaugeAndTheResetOnDisconnect)
{
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    TDateTime now = EncodeDate(2024, 3, 10) + EncodeTime(14, 5, 0, 0).Value();
    SetClock([&] { return now; });
    TUpdateWindow w;
    w.ftpWork(2048); // a listing before any size: total 0, gauge untouched
    EXPECT_EQ(Control<QLabel>(w, "lblcontador")->text(), "Transferidos: 2 Kb de 0 Kb");
    EXPECT_EQ(Control<TGauge>(w, "Gauge1")->Progress(), 0);
    static_cast<TUpdateObserver&>(w).SizeKnown(10240); // as the run reports it
    w.ftpWorkBegin();
    now = now + 2.5 / 86400;
    w.ftpWork(5120);
    EXPECT_EQ(Control<QLabel>(w, "lblcontador")->text(), "Transferidos: 5 Kb de 10 Kb");
    EXPECT_EQ(Control<QLabel>(w, "lblstatus")->text(), "Taxa de Transferencia: 2,00 KB/s; Tempo de download  0: 0: 2");
    EXPECT_EQ(Control<TGauge>(w, "Gauge1")->Progress(), 50);
    w.ftpWorkEnd(wmRead);
    EXPECT_EQ(Control<QLabel>(w, "lblstatus")->text(), "Download!!");
    EXPECT_EQ(Control<QLabel>(w, "lblcontador")->text(), "Transferidos: 10 Kb");
    EXPECT_EQ(Control<TGauge>(w, "Gauge1")->Progress(), 50);
    w.ftpStatus(ftpTransfer, "");
    EXPECT_EQ(Control<QLabel>(w, "StatusPanel1")->text(), "Transferindo..");
    w.ftpStatus(hsDisconnected, "");
    EXPECT_EQ(Control<QLabel>(w, "StatusPanel1")->text(), "Desconectado!");
    EXPECT_EQ(Control<TGauge>(w, "Gauge1")->Progress(), 0);
    EXPECT_FALSE(Control<TGauge>(w, "Gauge1")->isHidden()); // the one progress display
    SetClock({});
    QLocale::setDefault(QLocale::c());
}
