// The upgrade of an update session shown in the upgrade window, end to end:
// the private MariaDB as the central catalogue, embedded Firebird files as
// the customer databases, the window shown modally offscreen, its notices
// answered by the test.
#include "app/confirmwindow.h"
#include "app/scripterrornotice.h"
#include "app/upgradewindow.h"
#include "db/catalog.h"
#include "db/ibdatabase.h"
#include "platform/datetime.h"
#include "tests/db/catalogtest.h"
#include "tests/db/fbtest.h"
#include "tests/support/controls.h"
#include "tests/support/testenv.h"
#include "update/session.h"

#include <QDir>
#include <QListWidget>
#include <QLocale>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>
#include <map>

namespace {

QString TestName()
{
    return QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()).toLower();
}

// What the update window does with the upgrade's reports: shows the
// upgrade window from its beginning to its end; the errors it would show in
// a box are kept.
class TUpgradeFace : public TSessionObserver {
public:
    std::unique_ptr<TUpgradeWindow> Window;
    QStringList Errors;

    void UpgradeBegin() override
    {
        Window = std::make_unique<TUpgradeWindow>(nullptr);
        Window->show();
        EXPECT_TRUE(Window->isModal());
    }
    void UpgradeEnd() override
    {
        Window->close();
        EXPECT_FALSE(Window->isVisible());
    }
    void UpgradeProgress(int position) override { Window->Progress(position); }
    void ScriptSaved(const QString& errorFile) override { Window->ScriptSaved(errorFile); }
    void Error(const QString& text) override { Errors << text; }
    void UpgradeFailed(const QString& text) override { Errors << text; }
};

class Upgrade : public ::testing::Test {
protected:
    void SetUp() override
    {
        FOldDir = QDir::currentPath();
        QDir::setCurrent(FDir.Path());
        FAliases = FCatalog.CheckAlias();
        WriteAliases();
        QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
        SetClock([] { return EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 9, 0).Value(); });
        // The operator: answers every message box and notice.
        FAnswer.setInterval(20);
        QObject::connect(&FAnswer, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                Messages << box->text();
                box->accept();
            } else if (auto* notice = dynamic_cast<TScriptErrorNotice*>(modal)) {
                Notices << Control<QLabel>(*notice, "Label1")->text();
                Control<QPushButton>(*notice, "Button3")->click();
            }
        });
        FAnswer.start();
    }
    void TearDown() override
    {
        FSession.reset();
        SetClock({});
        QLocale::setDefault(QLocale::c());
        FCustomers.clear();
        QDir::setCurrent(FOldDir);
    }

    void WriteAliases()
    {
        WriteBytes(FDir.File("aliases.ini"), FAliases);
        qputenv("ZEMBO_ALIASES", FDir.File("aliases.ini").toLocal8Bit());
    }
    // A customer database behind an alias, listed in the update window's
    // alias list, ticked or not.
    TFbTestDatabase& Customer(const QString& alias, bool ticked = true)
    {
        auto db = std::make_unique<TFbTestDatabase>(TestName().left(24) + "-" + alias.toLower(), fbEmbedded,
                                                    QDir::tempPath());
        FAliases += "[" + alias.toUtf8() + "]\nTYPE=INTRBASE\nSERVER NAME=" + db->Path().toUtf8() + "\n";
        WriteAliases();
        auto* item = new QListWidgetItem(alias, &FList);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
        return *(FCustomers[alias] = std::move(db));
    }
    // The upgrade of the ticked aliases in the upgrade window, as a run of
    // the session does it; returns when the window has closed.
    void Run()
    {
        if (!FSession)
            FSession = std::make_unique<TUpdateSession>(FFace, QString());
        QStringList ticked;
        for (int i = 0; i < FList.count(); ++i)
            if (FList.item(i)->checkState() == Qt::Checked)
                ticked << FList.item(i)->text();
        FFace.Errors.clear();
        FOutcome = FSession->AtualizaBases(ticked);
        Messages += FFace.Errors;
    }
    bool ScriptFailed() const { return FOutcome.Result == urScriptFalhou; }
    bool Completed() const { return FOutcome.Result != urErros; }
    bool CustomerOpen() const { return FSession->BaseClienteAberta(); }
    const QProgressBar* Bar() const { return Control<QProgressBar>(*FFace.Window, "pb1"); }
    QStringList ErrorFiles() const { return QDir(FDir.Path()).entryList({"SCRIPT_ERRO*"}, QDir::Files | QDir::Dirs); }

    TScratchDir FDir;
    QTimer FAnswer;
    QString FOldDir;
    TCatalogTestDatabase FCatalog{"zembo_up_" + TestName().left(40)};
    QByteArray FAliases;
    QListWidget FList;
    TUpgradeFace FFace;
    std::unique_ptr<TUpdateSession> FSession;
    TUpdateOutcome FOutcome;
    std::map<QString, std::unique_ptr<TFbTestDatabase>> FCustomers;
    QStringList Messages;
    QStringList Notices;
};

const char* const Ordered = "SELECT CAST(LIST(V, ',') AS VARCHAR(200)) FROM (SELECT V FROM ORDEM ORDER BY N)";

} // namespace

TEST_F(Upgrade, NothingNewerLeavesTheVersionAlone)
{
    TFbTestDatabase& db = Customer("DADOS");
    db.Exec({"CREATE TABLE VERSAO (VERSAO VARCHAR(10))", "INSERT INTO VERSAO VALUES ('9999')"});
    FCatalog.AddScript("KELDARIN", "0001", "S", "CREATE TABLE NUNCA (X INTEGER);");
    FCatalog.AddScript("KELDARIN", "99990", "N", "CREATE TABLE NUNCA (X INTEGER);"); // held back
    FCatalog.AddScript("OUTRO", "99999", "S", "CREATE TABLE NUNCA (X INTEGER);");    // another program's
    Run();
    EXPECT_EQ(db.Scalar("SELECT VERSAO FROM VERSAO"), "9999");
    EXPECT_EQ(db.Scalar("SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'NUNCA'"), "0");
    EXPECT_EQ(Bar()->value(), 100);
    EXPECT_FALSE(ScriptFailed());
    EXPECT_TRUE(Completed());
    EXPECT_TRUE(Messages.isEmpty() && Notices.isEmpty()) << Messages.join(" | ").toStdString();
    EXPECT_TRUE(ErrorFiles().isEmpty());
}

// Versions are texts: "10" sorts before "9". The runner keeps its
// terminator from one script to the next. Only ticked aliases are upgraded.
TEST_F(Upgrade, MissingVersionTableIsCreatedAndScriptsRunInTextOrder)
{
    TFbTestDatabase& dados = Customer("DADOS");
    TFbTestDatabase& filial = Customer("FILIAL", false);
    TFbTestDatabase& loja = Customer("LOJA");
    FCatalog.AddScript("KELDARIN", "0", "S", "CREATE TABLE NUNCA (X INTEGER);");
    FCatalog.AddScript("KELDARIN", "01", "S",
           "CREATE TABLE ORDEM (N INTEGER, V VARCHAR(10));\r\nCREATE GENERATOR G;\r\n"
           "INSERT INTO ORDEM VALUES (GEN_ID(G, 1), '01');\r\nSET TERM ^ ;\r\n");
    FCatalog.AddScript("KELDARIN", "1", "S", "INSERT INTO ORDEM VALUES (GEN_ID(G, 1), '1')^\r\nSET TERM ; ^\r\n");
    FCatalog.AddScript("KELDARIN", "10", "S", "INSERT INTO ORDEM VALUES (GEN_ID(G, 1), '10');");
    FCatalog.AddScript("KELDARIN", "2", "S", "INSERT INTO ORDEM VALUES (GEN_ID(G, 1), '2');\nSET TERM !! ;");
    FCatalog.AddScript("KELDARIN", "5", "N", "INSERT INTO ORDEM VALUES (GEN_ID(G, 1), '5')!!");
    FCatalog.AddScript("KELDARIN", "9", "S", "INSERT INTO ORDEM VALUES (GEN_ID(G, 1), '9')!!\nSET TERM ; !!");
    FCatalog.AddScript("OUTRO", "3", "S", "INSERT INTO ORDEM VALUES (GEN_ID(G, 1), 'outro');");
    Run();
    for (TFbTestDatabase* db : {&dados, &loja}) {
        EXPECT_EQ(db->Scalar("SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'NUNCA'"), "0");
        EXPECT_EQ(db->Scalar(Ordered), "01,1,10,2,9");
        EXPECT_EQ(db->Scalar("SELECT VERSAO FROM VERSAO"), "9");
        EXPECT_EQ(db->Scalar("SELECT COUNT(*) FROM VERSAO"), "1");
    }
    EXPECT_EQ(filial.Scalar("SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'VERSAO'"), "0");
    EXPECT_FALSE(CustomerOpen());
    EXPECT_TRUE(Completed());
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join(" | ").toStdString();
}

// Without a row every released script runs each time, and nothing records it.
TEST_F(Upgrade, EmptyVersionTableRunsEverythingAndRecordsNothing)
{
    TFbTestDatabase& db = Customer("DADOS");
    db.Exec({"CREATE TABLE VERSAO (VERSAO VARCHAR(10))", "CREATE TABLE T (X INTEGER)"});
    FCatalog.AddScript("KELDARIN", "0001", "S", "INSERT INTO T VALUES (1);");
    FCatalog.AddScript("KELDARIN", "0002", "S", "INSERT INTO T VALUES (2);");
    Run();
    Run();
    EXPECT_EQ(db.Scalar("SELECT COUNT(*) FROM VERSAO"), "0");
    EXPECT_EQ(db.Scalar("SELECT CAST(LIST(X) AS VARCHAR(50)) FROM (SELECT X FROM T ORDER BY X)"), "1,1,2,2");
    EXPECT_TRUE(Completed());
}

// A quote in a recorded or released version is part of the version.
TEST_F(Upgrade, QuotesInVersionsAreValues)
{
    TFbTestDatabase& db = Customer("DADOS");
    db.Exec({"CREATE TABLE VERSAO (VERSAO VARCHAR(10))", "INSERT INTO VERSAO VALUES ('0001''')",
             "CREATE TABLE T (X INTEGER)"});
    FCatalog.AddScript("KELDARIN", "0001", "S", "INSERT INTO T VALUES (1);");
    FCatalog.AddScript("KELDARIN", "0002", "S", "INSERT INTO T VALUES (2);");
    FCatalog.AddScript("KELDARIN", "0003'x", "S", "INSERT INTO T VALUES (3);");
    Run();
    EXPECT_EQ(db.Scalar("SELECT VERSAO FROM VERSAO"), "0003'x");
    EXPECT_EQ(db.Scalar("SELECT CAST(LIST(X) AS VARCHAR(50)) FROM (SELECT X FROM T ORDER BY X)"), "2,3");
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join(" | ").toStdString();
}

// The second of three scripts fails: what ran before it stays, the third
// waits, the failed version counts as reached, and the script is saved
// under its error header in the working folder.
TEST_F(Upgrade, FailedScriptIsSavedAndBlocksTheNextStart)
{
    TFbTestDatabase& db = Customer("DADOS");
    db.Exec({"CREATE TABLE VERSAO (VERSAO VARCHAR(10))", "INSERT INTO VERSAO VALUES ('0000')",
             "CREATE TABLE T (X INTEGER)"});
    FCatalog.AddScript("KELDARIN", "0001", "S", "INSERT INTO T VALUES (1);\r\nCREATE TABLE T1 (X INTEGER);\r\n");
    const QByteArray failing = "/* vers\xe3o 2 */\r\n"
                               "INSERT INTO T VALUES (20);\r\n"
                               "commit work;\r\n"
                               "INSERT INTO T VALUES (21); COMMIT WORK;\r\n"
                               "INSERT INTO T VALUES (22); /* COMMIT WORK */\r\n"
                               "COMMIT\r\n"
                               "WORK;\r\n"
                               "CREATE TABLE T2 (X INTEGER);\r\n"
                               "INSERT INTO T VALUES (23);\r\n"
                               "INSERT INTO NAO_EXISTE VALUES (1);\r\n"
                               "INSERT INTO T VALUES (24);";
    FCatalog.AddScript("KELDARIN", "0002", "S", failing);
    FCatalog.AddScript("KELDARIN", "0003", "S", "INSERT INTO T VALUES (3);");
    Run();

    EXPECT_EQ(db.Scalar("SELECT CAST(LIST(X) AS VARCHAR(50)) FROM (SELECT X FROM T ORDER BY X)"), "1,20,23");
    EXPECT_EQ(db.Scalar("SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME IN ('T1', 'T2')"), "2");
    EXPECT_EQ(db.Scalar("SELECT VERSAO FROM VERSAO"), "0002");
    EXPECT_TRUE(ScriptFailed());
    EXPECT_EQ(Bar()->value(), 100);
    EXPECT_TRUE(Completed());
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join(" | ").toStdString();

    const QString name = QString::fromUtf8("SCRIPT_ERRO_DT_05-03-2024_HR_14-07-09 M-DADOS.TXT");
    EXPECT_EQ(ErrorFiles(), QStringList{name});
    EXPECT_EQ(Notices, QStringList{QString::fromUtf8("SCRIPT EM EXECUÇÃO SALVO: ") + name});
    const QByteArray expected = "/* ERRO: \r\n"
                                " \r\n"
                                "Dynamic SQL Error\r\n"
                                "SQL error code = -204\r\n"
                                "Table unknown\r\n"
                                "NAO_EXISTE\r\n"
                                "At line 1, column 13\r\n"
                                " \r\n"
                                ".....  */\r\n"
                                " \r\n"
                                "/* vers\xe3o 2 */\r\n"
                                "INSERT INTO T VALUES (20);\r\n"
                                " \r\n"
                                " \r\n"
                                " \r\n"
                                "COMMIT\r\n"
                                "WORK;\r\n"
                                "CREATE TABLE T2 (X INTEGER);\r\n"
                                "INSERT INTO T VALUES (23);\r\n"
                                "INSERT INTO NAO_EXISTE VALUES (1);\r\n"
                                "INSERT INTO T VALUES (24);\r\n";
    EXPECT_EQ(ReadBytes(FDir.File(name)), expected);

    // The start-up sees the file and shows the notice instead of asking.
    TConfirmWindow confirmation;
    confirmation.exec();
    EXPECT_FALSE(confirmation.Confirmed());
    ASSERT_EQ(Notices.size(), 2);
    EXPECT_EQ(Notices[1], Notices[0]);

    // A failure is never forgotten by the session, even after a clean run.
    Run();
    EXPECT_EQ(db.Scalar("SELECT VERSAO FROM VERSAO"), "0003");
    EXPECT_TRUE(ScriptFailed());
}

// Separators other than "/" and ":" stay as the locale writes them.
TEST(UpgradeErrorFile, NameFollowsTheLocale)
{
    const TDateTime moment = EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 9, 0).Value();
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); // short date dd.MM.yyyy
    EXPECT_EQ(NomeArquivoErro("M-DADOS", moment), "SCRIPT_ERRO_DT_05.03.2024_HR_14-07-09 M-DADOS.TXT");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); // M/d/yy h:mm:ss AP
    EXPECT_EQ(NomeArquivoErro("M-DADOS", moment), "SCRIPT_ERRO_DT_3-5-24_HR_2-07-09 PM M-DADOS.TXT");
    QLocale::setDefault(QLocale::c());
}

// When the error file cannot be written the operator is told why; the
// script still counts as failed and the run ends as after any failure.
TEST_F(Upgrade, UnwritableErrorFileIsReported)
{
    TFbTestDatabase& db = Customer("DADOS");
    db.Exec({"CREATE TABLE VERSAO (VERSAO VARCHAR(10))", "INSERT INTO VERSAO VALUES ('0000')"});
    FCatalog.AddScript("KELDARIN", "0001", "S", "INSERT INTO NAO_EXISTE VALUES (1);");
    QDir(FDir.Path()).mkdir("SCRIPT_ERRO_DT_05-03-2024_HR_14-07-09 M-DADOS.TXT");
    Run();
    EXPECT_EQ(Messages.size(), 1);
    EXPECT_TRUE(Notices.isEmpty());
    EXPECT_TRUE(ScriptFailed());
    EXPECT_TRUE(Completed());
    EXPECT_EQ(db.Scalar("SELECT VERSAO FROM VERSAO"), "0001");
}

// Failures outside the scripts: the text is shown, the window closes, the
// caller learns that the upgrade did not complete, and the database is left
// closed for the next showing.
TEST_F(Upgrade, FailuresOutsideTheScriptsCloseTheWindowAndReportIt)
{
    TFbTestDatabase& db = Customer("DADOS");
    Customer("LOJA").Exec({"CREATE TABLE T (X INTEGER)"});
    db.Exec({"CREATE TABLE VERSAO (VERSAO VARCHAR(10))", "INSERT INTO VERSAO VALUES ('0000')",
             "CREATE TABLE T (X INTEGER)"});
    FCatalog.AddScript("KELDARIN", "0001", "S", "INSERT INTO T VALUES (1);");

    // the catalogue has no table of scripts
    FCatalog.Exec("RENAME TABLE scripts TO guardado");
    Run();
    ASSERT_EQ(Messages.size(), 1);
    EXPECT_TRUE(Messages[0].contains("scripts")) << Messages[0].toStdString();
    EXPECT_FALSE(Completed());
    EXPECT_FALSE(ScriptFailed());
    EXPECT_FALSE(CustomerOpen());
    // the run ended at the first database
    EXPECT_EQ(FCustomers["LOJA"]->Scalar("SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'VERSAO'"),
              "0");

    // mended, the next showing completes
    FCatalog.Exec("RENAME TABLE guardado TO scripts");
    Messages.clear();
    Run();
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join(" | ").toStdString();
    EXPECT_TRUE(Completed());
    EXPECT_EQ(db.Scalar("SELECT VERSAO FROM VERSAO"), "0001");

    // the version cannot be recorded: a view that reads but takes no update
    db.Exec({"DROP TABLE VERSAO", "CREATE VIEW VERSAO (VERSAO) AS SELECT CAST('0001' AS VARCHAR(10)) FROM RDB$DATABASE"});
    FCatalog.AddScript("KELDARIN", "0002", "S", "INSERT INTO T VALUES (2);");
    Messages.clear();
    Run();
    ASSERT_EQ(Messages.size(), 1);
    EXPECT_FALSE(Completed());
    EXPECT_EQ(db.Scalar("SELECT CAST(LIST(X) AS VARCHAR(50)) FROM (SELECT X FROM T ORDER BY X)"), "1,2");

    // the version cannot be read
    db.Exec({"DROP VIEW VERSAO", "CREATE EXCEPTION QUEBRADA 'versao ilegivel'",
             "CREATE PROCEDURE P RETURNS (VERSAO VARCHAR(10)) AS BEGIN EXCEPTION QUEBRADA; SUSPEND; END",
             "CREATE VIEW VERSAO (VERSAO) AS SELECT VERSAO FROM P"});
    Messages.clear();
    Run();
    ASSERT_EQ(Messages.size(), 1);
    EXPECT_TRUE(Messages[0].contains("versao ilegivel")) << Messages[0].toStdString();
    EXPECT_FALSE(Completed());

    // the customer database is gone
    db.Database().Close();
    QFile::remove(db.Path());
    Messages.clear();
    Run();
    ASSERT_EQ(Messages.size(), 1);
    EXPECT_FALSE(Completed());
    EXPECT_FALSE(CustomerOpen());
    EXPECT_TRUE(ErrorFiles().isEmpty());
}

TEST(UpgradeProgress, HalvesRoundToEvenAndTheBarStaysInRange)
{
    QList<int> positions;
    for (int processed = 1; processed <= 8; ++processed)
        positions << PosicaoProgresso(8, processed, 1, 100);
    EXPECT_EQ(positions, QList<int>({12, 25, 38, 50, 62, 75, 88, 100}));
    EXPECT_EQ(PosicaoProgresso(3, 1, 1, 100), 33);
    EXPECT_EQ(PosicaoProgresso(0, 1, 1, 100), 100); // released after the count
    EXPECT_EQ(PosicaoProgresso(2, 3, 1, 100), 100);
    EXPECT_EQ(PosicaoProgresso(300, 1, 1, 100), 1);
}
