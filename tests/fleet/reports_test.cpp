// Runs reported to real catalogues: whole updates by zembo-update and by the
// session against the test services' MariaDB and a SQLite catalogue file,
// the rows they leave in atualizacoes, zembo-fleet reading them back with
// the maker's own account, and its page loaded by Debian's headless Chromium.
#include "db/catalog.h"
#include "fleet/fleet.h"
#include "platform/files.h"
#include "release/release.h"
#include "tests/support/rar4writer.h"
#include "tests/update/installation.h"
#include "update/session.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <map>

namespace {

// The table as the maker creates it on MariaDB (the README's statement).
const QString MariaDbTable = R"(CREATE TABLE atualizacoes (
  execucao CHAR(36) NOT NULL, evento VARCHAR(6) NOT NULL, instalacao CHAR(36) NOT NULL,
  alias VARCHAR(30) NOT NULL, maquina VARCHAR(64) NOT NULL, face VARCHAR(8) NOT NULL,
  momento DATETIME NOT NULL, resultado VARCHAR(12), causa VARCHAR(500), serie_antes INTEGER,
  serie_depois INTEGER, versao_antes VARCHAR(10), versao_depois VARCHAR(10), arquivos INTEGER,
  bytes BIGINT, script_falhou VARCHAR(10), atualizador VARCHAR(40), PRIMARY KEY (execucao, evento)))";

const QString FailingFirstScript = "CREATE TABLE T1 (X INTEGER);";

struct TResult {
    int Exit = -1;
    QString Out;
    QString Err;
};

TResult RunIn(const QString& folder, const QString& program, const QStringList& args, const QProcessEnvironment& env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(folder);
    process.start(program, args);
    EXPECT_TRUE(process.waitForFinished(90000)) << program.toStdString();
    const TResult r{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                    QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
    std::fprintf(stderr, "%s %s: exit %d\n%s%s", qPrintable(QFileInfo(program).fileName()), qPrintable(args.join(' ')),
                 r.Exit, qPrintable(r.Out), qPrintable(r.Err));
    return r;
}

// The rows of one run, by event.
using TRun = std::map<QString, TRunEvent>;

// Every run of the table, by run id, read through the program's own reader.
std::map<QString, TRun> Runs(const QList<TRunEvent>& events)
{
    std::map<QString, TRun> runs;
    for (const TRunEvent& e : events)
        runs[e.Execucao][e.Evento] = e;
    return runs;
}

// A prepared installation whose release is signed (serial 1) and whose
// catalogue releases two scripts; a second installation beside it, with a
// customer database where the first script fails.
class Fleet : public TInstallationTest {
protected:
    Fleet() : TInstallationTest("zembo_fl_") {}
    void SetUp() override
    {
        TInstallationTest::SetUp();
        if (HasFatalFailure())
            return;
        Config(svPyftpd, false);
        FCatalog.AddScript("KELDARIN", "0001", "S", FailingFirstScript.toLatin1());
        FCatalog.AddScript("KELDARIN", "0002", "S", "INSERT INTO T1 VALUES (2);");
        Serve(svPyftpd, "NOVO.DLL", QByteArray(5000, 'n'));
        WriteRar4(Root(svPyftpd) + "Quendarive.rar",
                  {{"Quendarive.exe", "programa novo", QDateTime(QDate(2024, 3, 15), QTime(10, 20))}});
        FileSetDate(Root(svPyftpd) + "Quendarive.rar", ServerTime());
        FSecondDb = std::make_unique<TFbTestDatabase>("fl2-" + QString::number(QCoreApplication::applicationPid()),
                                                      fbEmbedded, QDir::tempPath());
        FSecondDb->Exec({"CREATE TABLE T1 (X INTEGER)"}); // the first script fails there
        for (const char* name : {"Quendarive.exe", "Tolvenra.INI", "atualiza.cfg"})
            WriteBytes(FSecond.File(name), ReadBytes(FWork.File(name)));
        WriteBytes(FSecond.File("Tolvenra.INI"), "Banco de dadosDADOS2                        \r\n");
        WriteAliases(FCatalog.CheckAlias());
    }
    void TearDown() override
    {
        QSqlDatabase::removeDatabase("fleet-sqlite");
        TInstallationTest::TearDown();
    }
    // Both installations' aliases, behind this catalogue.
    void WriteAliases(const QByteArray& check)
    {
        WriteBytes(FPrograms.File("aliases.ini"), check + "[DADOS]\nTYPE=INTRBASE\nSERVER NAME=" +
                                                      FCustomer->Path().toUtf8() + "\n[DADOS2]\nTYPE=INTRBASE\n"
                                                      "SERVER NAME=" + FSecondDb->Path().toUtf8() + "\n");
    }
    // The release signed by a key of the test's own, which both installations trust.
    void SignRelease()
    {
        const QString key = FPrograms.File("chave");
        ASSERT_EQ(RunIn(FPrograms.Path(), "minisign", {"-G", "-W", "-f", "-p", key + ".pub", "-s", key + ".key"},
                        Env()).Exit, 0);
        FKeys = FPrograms.File("release-keys.pub");
        WriteBytes(FKeys, ReadBytes(key + ".pub"));
        QFile::setPermissions(FKeys, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                         QFileDevice::ReadOther);
        ASSERT_EQ(RunIn(FPrograms.Path(), ZEMBO_RELEASE_TOOL, {"manifest", Root(svPyftpd), "--serial", "1"}, Env()).Exit, 0);
        ASSERT_EQ(RunIn(FPrograms.Path(), "minisign", {"-Sm", Root(svPyftpd) + ReleaseManifestName, "-s", key + ".key"},
                        Env()).Exit, 0);
    }
    QProcessEnvironment Env() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.insert("ZEMBO_RELEASE_KEYS", FKeys);
        return env;
    }
    TResult Update(const QString& folder)
    {
        FCustomer->Database().Close();
        FSecondDb->Database().Close();
        return RunIn(folder, ZEMBO_UPDATE, {"--apps-closed"}, Env());
    }
    TResult ZemboFleet(const QStringList& args, const QString& password = {})
    {
        QProcessEnvironment env = Env();
        env.insert("ZEMBO_FLEET_PASSWORD", password);
        return RunIn(FPrograms.Path(), ZEMBO_FLEET, args, env);
    }
    // The maker's support account on MariaDB: it may read the catalogue.
    // (made by MariaDB's root, through the socket: the catalogue's account may not grant)
    void SupportAccount()
    {
        QProcess mariadb;
        mariadb.start("mariadb", {"--no-defaults", "-S", ServiceEnv("ZEMBO_MYSQL_SOCKET"), "-u", "root", "-e",
                                  "DROP USER IF EXISTS 'suporte_fl'@'%'; CREATE USER 'suporte_fl'@'%' IDENTIFIED BY "
                                  "'Sup0rte!'; GRANT SELECT ON " + FCatalog.Name() + ".* TO 'suporte_fl'@'%';"});
        ASSERT_TRUE(mariadb.waitForFinished(30000));
        ASSERT_EQ(mariadb.exitCode(), 0) << mariadb.readAllStandardError().toStdString();
    }
    // The catalogue's rows, read with the program's reader through the test's account.
    QList<TRunEvent> Rows(const QString& alias = "Check")
    {
        TDatabase db;
        db.SetAliasName(alias);
        db.SetDatabaseName("LeituraDoTeste");
        db.SetParams({"USER NAME=" + ServiceEnv("ZEMBO_MYSQL_USER"), "PASSWORD=" + ServiceEnv("ZEMBO_MYSQL_PASSWORD")});
        db.Open();
        return ReadRunEvents(db.DatabaseName());
    }
    QString LogOf(const QString& folder) const { return QString::fromUtf8(ReadBytes(folder + "/" + RunLogName)); }

    TScratchDir FSecond;
    std::unique_ptr<TFbTestDatabase> FSecondDb;
    QString FKeys = FPrograms.File("sem-chaves.pub");
};

// Chromium headless on a file, with a profile of its own.
TResult Chromium(const QStringList& args)
{
    TScratchDir profile;
    QStringList all = {"--headless", "--disable-gpu", "--user-data-dir=" + profile.Path()};
    if (QFileInfo(profile.Path()).ownerId() == 0) // root
        all << "--no-sandbox";
    return RunIn(profile.Path(), "chromium", all + args, QProcessEnvironment::systemEnvironment());
}

} // namespace

// Two installations updated by zembo-update against one MariaDB catalogue
// with the table, the second's first script failing: two rows per run,
// zembo-fleet lists both (outcome, serial, VERSAO) with the failing one
// flagged and exits 3; its page holds both rows in headless Chromium.
TEST_F(Fleet, TwoInstallationsOneFailingAreReportedAndFlagged)
{
    FCatalog.Exec(MariaDbTable);
    SignRelease();
    ASSERT_EQ(Update(FWork.Path()).Exit, 0);
    ASSERT_EQ(Update(FSecond.Path()).Exit, 4);
    const QString first = QString::fromLatin1(ReadBytes(FWork.File(InstallationIdFile))).trimmed();
    const QString second = QString::fromLatin1(ReadBytes(FSecond.File(InstallationIdFile))).trimmed();
    ASSERT_EQ(first.size(), 36);
    ASSERT_EQ(second.size(), 36);
    ASSERT_NE(first, second);

    const std::map<QString, TRun> runs = Runs(Rows());
    ASSERT_EQ(runs.size(), 2u);
    for (const auto& [id, run] : runs) {
        ASSERT_EQ(run.size(), 2u) << id.toStdString();
        const TRunEvent& start = run.at("inicio");
        const TRunEvent& end = run.at("fim");
        const bool isFirst = start.Instalacao == first;
        EXPECT_EQ(start.Alias, isFirst ? "DADOS" : "DADOS2");
        EXPECT_EQ(start.Face, "noturna");
        EXPECT_EQ(start.Atualizador, "ZemboUpdate 1.0");
        EXPECT_FALSE(start.Maquina.isEmpty());
        EXPECT_LE(start.Momento, end.Momento);
        EXPECT_LE(qAbs(end.Momento.secsTo(QDateTime::currentDateTimeUtc())), 300);
        EXPECT_TRUE(start.Resultado.isNull());
        EXPECT_FALSE(start.SerieAntes.has_value()); // nothing accepted before
        EXPECT_EQ(end.SerieDepois, 1);
        EXPECT_TRUE(start.VersaoAntes.isNull()); // neither database holds VERSAO yet
        EXPECT_EQ(end.Resultado, isFirst ? "sucesso" : "script");
        EXPECT_EQ(end.VersaoDepois, isFirst ? "0002" : FSecondDb->Scalar("SELECT VERSAO FROM VERSAO"));
        EXPECT_EQ(end.ScriptFalhou, isFirst ? QString() : QString("0001"));
        EXPECT_EQ(end.Arquivos, 2); // NOVO.DLL and Quendarive.rar
        EXPECT_EQ(end.Bytes, 5000 + QFileInfo(Root(svPyftpd) + "Quendarive.rar").size());
    }

    SupportAccount();
    const TResult tsv = ZemboFleet({"--tsv", "--user", "suporte_fl"}, "Sup0rte!");
    EXPECT_EQ(tsv.Exit, 3) << tsv.Err.toStdString();
    const QStringList lines = tsv.Out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    const QStringList worst = lines[0].split('\t');
    const QStringList best = lines[1].split('\t');
    ASSERT_EQ(worst.size(), 10);
    ASSERT_EQ(best.size(), 10);
    EXPECT_EQ(worst[0], second);
    EXPECT_EQ(worst.mid(4, 5), QStringList({"noturna", "script", "1", FSecondDb->Scalar("SELECT VERSAO FROM VERSAO"),
                                            "falhando,atrasada"}));
    EXPECT_TRUE(worst[9].startsWith("Um script falhou")) << worst[9].toStdString();
    EXPECT_EQ(best[0], first);
    EXPECT_EQ(best.mid(1, 1), QStringList({"DADOS"}));
    EXPECT_EQ(best.mid(4, 5), QStringList({"noturna", "sucesso", "1", "0002", "em dia"}));
    EXPECT_EQ(ZemboFleet({"--tsv", "--user", "suporte_fl"}, "errada").Exit, 1);

    QDir().mkpath(FLEET_OUTPUT);
    const QString page = QString(FLEET_OUTPUT) + "/frota.html";
    const TResult html = ZemboFleet({"--html", page, "--user", "suporte_fl"}, "Sup0rte!");
    EXPECT_EQ(html.Exit, 3);
    const QByteArray bytes = ReadBytes(page);
    EXPECT_FALSE(bytes.contains("<script")) << "no script";
    QByteArray requests = bytes;
    EXPECT_FALSE(requests.replace("http://www.w3.org/2000/svg", "").contains("http")) << "nothing fetched";
    const TResult dom = Chromium({"--dump-dom", "file://" + page});
    ASSERT_EQ(dom.Exit, 0) << dom.Err.toStdString();
    EXPECT_EQ(dom.Out.count("<tr class="), 2) << dom.Out.toStdString();
    EXPECT_TRUE(dom.Out.contains("title=\"" + first + "\"")) << dom.Out.toStdString();
    EXPECT_TRUE(dom.Out.contains("title=\"" + second + "\""));
    EXPECT_TRUE(dom.Out.contains("<b id=\"n-instalacoes\">2</b>"));
    EXPECT_TRUE(dom.Out.contains("<b id=\"n-falhando\">1</b>"));
    EXPECT_TRUE(dom.Out.contains("<b id=\"n-emdia\">1</b>"));
    const QString shot = QString(FLEET_OUTPUT) + "/frota.png";
    QFile::remove(shot);
    EXPECT_EQ(Chromium({"--screenshot=" + shot, "--window-size=1280,1000", "file://" + page}).Exit, 0);
    EXPECT_GT(QFileInfo(shot).size(), 10000);
}

// Without the table: the same outcomes and exit codes, nothing written (no
// row, no installation id, no log line), and zembo-fleet fails (exit 1).
TEST_F(Fleet, WithoutTheTableNothingIsWrittenOrSaid)
{
    EXPECT_EQ(Update(FWork.Path()).Exit, 0);
    EXPECT_EQ(Update(FSecond.Path()).Exit, 4);
    for (const QString& folder : {FWork.Path(), FSecond.Path()}) {
        EXPECT_FALSE(QFileInfo::exists(folder + "/" + InstallationIdFile));
        EXPECT_FALSE(LogOf(folder).contains("relatório")) << LogOf(folder).toStdString();
    }
    const TResult r = ZemboFleet({"--tsv"});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_TRUE(r.Err.contains("atualizacoes")) << r.Err.toStdString();
}

// A catalogue that refuses the rows: MariaDB itself refuses every insert
// with the server's words for an account without the right. The update
// succeeds, exit 0, and its log names both refused reports.
TEST_F(Fleet, ARefusedReportChangesNoOutcome)
{
    FCatalog.Exec(MariaDbTable);
    FCatalog.Exec("CREATE TRIGGER recusa BEFORE INSERT ON atualizacoes FOR EACH ROW SIGNAL SQLSTATE '42000' "
                  "SET MESSAGE_TEXT = 'INSERT command denied to user for table atualizacoes'");
    const TResult r = Update(FWork.Path());
    EXPECT_EQ(r.Exit, 0) << r.Err.toStdString();
    EXPECT_EQ(FCustomer->Scalar("SELECT VERSAO FROM VERSAO"), "0002");
    const QString log = LogOf(FWork.Path());
    EXPECT_TRUE(log.contains("relatório ao catálogo (inicio) recusado: INSERT command denied")) << log.toStdString();
    EXPECT_TRUE(log.contains("relatório ao catálogo (fim) recusado: INSERT command denied")) << log.toStdString();
    EXPECT_FALSE(r.Out.contains("relatório") || r.Err.contains("relatório"));
}

// The rows of a successful run, a failed script, a cancelled run and a run
// killed midway, through the session, on MariaDB and on a SQLite catalogue
// made from the demo's schema (the table as the README gives it).
TEST_F(Fleet, EveryKindOfRunLeavesItsRowsOnBothCatalogues)
{
    FCatalog.Exec(MariaDbTable);
    const QString sqliteFile = FPrograms.File("catalogo.sqlite");
    {
        QSqlDatabase lite = QSqlDatabase::addDatabase("QSQLITE", "fleet-sqlite");
        lite.setDatabaseName(sqliteFile);
        ASSERT_TRUE(lite.open());
        for (const QString& statement : QString::fromUtf8(ReadBytes(SourceDir() + "/demo/catalogue.sql")).split(';')) {
            QString sql;
            for (const QString& line : statement.split('\n'))
                if (!line.trimmed().startsWith("--"))
                    sql += line + '\n';
            QSqlQuery query(lite);
            if (!sql.trimmed().isEmpty()) {
                ASSERT_TRUE(query.exec(sql)) << sql.toStdString() << query.lastError().text().toStdString();
            }
        }
        QSqlQuery(lite).exec("INSERT INTO principal VALUES ('" + Scrambled(ServiceEnv("ZEMBO_FTP_PASSWORD"), 1) + "', '')");
        // after the two of MariaDB; it fails where T3 is there already
        QSqlQuery(lite).exec("INSERT INTO scripts (programa, versao, texto, liberado) VALUES ('KELDARIN', '0003', "
                             "'CREATE TABLE T3 (X INTEGER);', 'S')");
    }
    const QByteArray sqliteCheck = "[Check]\nTYPE=SQLITE\nDATABASE NAME=" + sqliteFile.toUtf8() + "\n";
    double daysBack = 0;
    for (const QByteArray& check : {FCatalog.CheckAlias(), sqliteCheck}) {
        SCOPED_TRACE(check.left(40).toStdString());
        WriteAliases(check);
        if (check == sqliteCheck)
            FSecondDb->Exec({"CREATE TABLE T3 (X INTEGER)"});
        QDir::setCurrent(FWork.Path());
        TSessionObserver quiet;
        {
            TUpdateSession session(quiet);
            ASSERT_FALSE(session.Inicia().has_value());
            session.Cancela();
            EXPECT_EQ(session.Atualiza().Result, urCancelada);
            EXPECT_EQ(session.Atualiza().Result, urSucesso);
        }
        QDir::setCurrent(FSecond.Path());
        {
            TUpdateSession session(quiet);
            ASSERT_FALSE(session.Inicia().has_value());
            EXPECT_EQ(session.Atualiza().Result, urScriptFalhou);
        }
        QDir::setCurrent(FWork.Path());
        // something new to fetch, so that the run dies once it is in place
        Serve(svPyftpd, "NOVO.DLL", QByteArray(6000, 'k'));
        FileSetDate(Root(svPyftpd) + "NOVO.DLL", ServerTime() + (--daysBack));
        FCustomer->Database().Close();
        FSecondDb->Database().Close();
        QProcess killed;
        killed.setProcessEnvironment(Env());
        killed.start(KILLED_RUN, QStringList());
        ASSERT_TRUE(killed.waitForFinished(90000));
        ASSERT_EQ(killed.exitStatus(), QProcess::CrashExit) << killed.readAll().toStdString();

        std::map<QString, int> seen; // outcome (or "em andamento") -> runs
        for (const auto& [id, run] : Runs(Rows())) {
            ASSERT_TRUE(run.count("inicio")) << id.toStdString();
            EXPECT_EQ(run.at("inicio").Face, "janela");
            ++seen[run.count("fim") ? run.at("fim").Resultado : RunInProgress];
            if (run.count("fim") && run.at("fim").Resultado == "cancelada") {
                EXPECT_EQ(run.at("fim").Causa, "Atualização interrompida.");
            }
        }
        const std::map<QString, int> expected = {{"cancelada", 1}, {"sucesso", 1}, {"script", 1}, {RunInProgress, 1}};
        EXPECT_EQ(seen, expected);
        // the next catalogue starts from installations that hold no error file
        for (const QString& folder : {FWork.Path(), FSecond.Path()})
            for (const QString& name : QDir(folder).entryList({"SCRIPT_ERRO*"}))
                QFile::remove(folder + "/" + name);
    }
}

// Texts longer than their columns are cut, not refused by a strict server;
// values go in bound, quotes and all.
TEST_F(Fleet, LongTextsAreCutToTheirColumns)
{
    FCatalog.Exec(MariaDbTable);
    FCatalog.Exec("SET GLOBAL sql_mode = 'STRICT_ALL_TABLES'");
    TDatabase db;
    db.SetAliasName("Check");
    db.SetDatabaseName("Escrita");
    db.SetParams({"USER NAME=" + ServiceEnv("ZEMBO_MYSQL_USER"), "PASSWORD=" + ServiceEnv("ZEMBO_MYSQL_PASSWORD")});
    db.Open();
    TRunEvent e;
    e.Execucao = QString(36, 'a');
    e.Evento = RunEndEvent;
    e.Instalacao = QString(36, 'b');
    e.Alias = "O'Brien'); DROP TABLE scripts; --";
    e.Maquina = QString(100, 'm');
    e.Face = "janela";
    e.Momento = QDateTime::currentDateTimeUtc();
    e.Resultado = "erros";
    e.Causa = QString(600, u'ç');
    InsertRunEvent(db.DatabaseName(), e);
    const QList<TRunEvent> rows = ReadRunEvents(db.DatabaseName());
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].Alias, e.Alias.left(30));
    EXPECT_EQ(rows[0].Maquina, QString(64, 'm'));
    EXPECT_EQ(rows[0].Causa, QString(500, u'ç'));
    EXPECT_FALSE(rows[0].SerieAntes.has_value());
    EXPECT_TRUE(rows[0].VersaoAntes.isNull());
    EXPECT_EQ(rows[0].Momento.toString(Qt::ISODate), e.Momento.toString("yyyy-MM-ddTHH:mm:ssZ"));
    EXPECT_TRUE(HasRunTable(db.DatabaseName()));
    FCatalog.Exec("SET GLOBAL sql_mode = DEFAULT");
}

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
