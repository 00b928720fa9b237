// scripts/demo as a newcomer runs it, in a folder of the test's own, through
// each face of the update: the window played by the driver (--headless) and
// the unattended zembo-update (--unattended). A first run installs the
// signed release, a second one (--again) finds nothing to fetch and no script
// to run; a served file changed after signing (--tampered) is refused; the
// release served over HTTPS (--https) is fetched as well.
#include "settings.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFileInfo>
#include <QCoreApplication>
#include <QImage>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

struct TDemoRun {
    int ExitCode = -1;
    QString Output;
};

// One face of the update, and its exit code when a download is refused:
// the window ends with 0 on everything but a failed connection.
struct TFace {
    const char* Name;
    const char* Option;
    int RefusedExitCode;
};

void PrintTo(const TFace& face, std::ostream* out)
{
    *out << face.Option;
}

class Demo : public ::testing::TestWithParam<TFace> {
protected:
    QString Face() const { return QString::fromLatin1(GetParam().Option); }

    QString Dir() const { return FScratch.File(QStringLiteral("demo")); }
    QString Installed(const QString& name) const { return Dir() + QStringLiteral("/install/") + name; }
    QString Served(const QString& name) const { return Dir() + QStringLiteral("/server/keldarin/") + name; }

    TDemoRun Run(const QStringList& options)
    {
        QProcess demo;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ZEMBO_DEMO_DIR"), Dir());
        env.insert(QStringLiteral("ZEMBO_DEMO_BIN"), BinDir());
        env.remove(QStringLiteral("DISPLAY"));
        demo.setProcessEnvironment(env);
        demo.setProcessChannelMode(QProcess::MergedChannels);
        demo.start(QStringLiteral("/bin/bash"), QStringList{SourceDir() + QStringLiteral("/scripts/demo"), Face()} + options);
        // The driver's own watchdog ends a hung program after 300 s.
        if (!demo.waitForFinished(420000))
            demo.kill();
        demo.waitForFinished(5000);
        return {demo.exitStatus() == QProcess::NormalExit ? demo.exitCode() : -1,
                QString::fromUtf8(demo.readAll())};
    }

    // One value of the customer database, read as an operator would.
    QString Customer(const QString& select)
    {
        QProcess isql;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("FIREBIRD_LOCK"), Dir() + QStringLiteral("/fb-lock"));
        isql.setProcessEnvironment(env);
        isql.start(QStringLiteral("isql-fb"), {QStringLiteral("-q"), QStringLiteral("-user"), QStringLiteral("ROOT"),
                                               QStringLiteral("-password"),
                                               QString::fromLatin1(Settings::CustomerDbPassword),
                                               Dir() + QStringLiteral("/database/KELDARIN.FDB")});
        isql.write(("SET HEADING OFF;\n" + select + ";\n").toUtf8());
        isql.closeWriteChannel();
        isql.waitForFinished(30000);
        return QString::fromUtf8(isql.readAll()).trimmed();
    }

    // Name -> time and size of every file of the installation.
    QMap<QString, QString> Installation() const
    {
        QMap<QString, QString> files;
        for (const QFileInfo& f : QDir(Dir() + QStringLiteral("/install")).entryInfoList(QDir::Files))
            files[f.fileName()] = QString::number(f.lastModified().toSecsSinceEpoch()) + u' ' + QString::number(f.size());
        return files;
    }

    QStringList ErrorFiles() const
    {
        return QDir(Dir() + QStringLiteral("/install")).entryList({QStringLiteral("SCRIPT_ERRO*")});
    }

    TScratchDir FScratch;
};

const QString Success = QStringLiteral("final status:     Atualização finalizada com sucesso.");
const QString Verified = QStringLiteral("release:          serial 2, key ");

TEST_P(Demo, FirstRunDoesTheWholeJobAndTheSecondFindsNothingToDo)
{
    const TDemoRun first = Run({});
    ASSERT_EQ(first.ExitCode, 0) << first.Output.toStdString();
    EXPECT_TRUE(first.Output.contains(Success)) << first.Output.toStdString();
    EXPECT_TRUE(first.Output.contains(Verified)) << first.Output.toStdString();
    EXPECT_EQ(ReadBytes(Installed("zembo-release.aceito")), ReadBytes(Served("zembo-release.txt")));

    // Files that differ from the server's, older or newer, are fetched and
    // carry the server's time; a local copy of the same minute is kept.
    for (const QString name : {"Keldarin.dll", "Relatorios.rpt", "Ajuda.chm", "LEIAME.TXT", "Quendarive.rar"}) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(ReadBytes(Installed(name)), ReadBytes(Served(name)));
        EXPECT_EQ(QFileInfo(Installed(name)).lastModified(), QFileInfo(Served(name)).lastModified());
    }
    EXPECT_EQ(ReadBytes(Installed("Tabelas.dat")), QByteArray("Tabelas 2026.2 (local)\r\n"));
    EXPECT_FALSE(QFileInfo::exists(Installed("Arquivos_dlls")));

    // The main executable comes out of the archive; the old one is kept.
    EXPECT_EQ(ReadBytes(Installed("Quendarive.exe")), ReadBytes(Dir() + QStringLiteral("/packed/Quendarive.exe")));
    EXPECT_EQ(ReadBytes(Installed("Quendarive.old")), QByteArray("Quendarive.exe 2026.1\r\n"));

    // The three released scripts ran in order, the held-back one did not.
    EXPECT_EQ(Customer("select versao from versao"), "0006");
    EXPECT_EQ(Customer("select count(*) from produtos where codigo = 4"), "1");
    EXPECT_EQ(Customer("select count(*) from rdb$relation_fields where rdb$field_name = 'TELEFONE'"), "0");
    EXPECT_TRUE(ErrorFiles().isEmpty());

    if (Face() == QLatin1String("--headless"))
        for (const char* stage : {"01-confirmacao", "02-confirmado", "03-verificado", "04-transferindo", "05-scripts", "06-final"}) {
            const QImage shot(Dir() + QStringLiteral("/shots/%1.png").arg(stage));
            EXPECT_FALSE(shot.isNull()) << stage;
        }

    const QMap<QString, QString> installed = Installation();
    const TDemoRun again = Run({QStringLiteral("--again")});
    ASSERT_EQ(again.ExitCode, 0) << again.Output.toStdString();
    EXPECT_TRUE(again.Output.contains(Success)) << again.Output.toStdString();
    EXPECT_TRUE(again.Output.contains(QStringLiteral("files fetched:    none"))) << again.Output.toStdString();
    QMap<QString, QString> now = Installation();
    QMap<QString, QString> expected = installed;
    // atualiza.cfg names the new server port, the run log has grown by a
    // run; the accepted release, the same, is not written again
    for (const QString name : {"atualiza.cfg", "zembo-update.log"}) {
        now.remove(name);
        expected.remove(name);
    }
    EXPECT_EQ(now, expected);
    EXPECT_EQ(ReadBytes(Installed("zembo-update.log")).count("fim: Atualização finalizada com sucesso."), 2);
    // the summary ends with what the maker sees of the runs in the catalogue
    static const QRegularExpression fleet(QStringLiteral(
        "  zembo-fleet:\n    [0-9a-f-]{36}  KELDARIN_DEMO  \\S+  \\S+  (janela|noturna) +sucesso +2  0006  em dia\n$"));
    EXPECT_TRUE(fleet.match(again.Output).hasMatch()) << again.Output.toStdString();
    EXPECT_EQ(Customer("select versao from versao"), "0006");
    EXPECT_TRUE(ErrorFiles().isEmpty());
}

// One byte of Keldarin.dll changed on the server after signing: it is not
// installed, nothing is replaced and no script runs; the other files of the
// release are fetched and nothing is left half-way.
TEST_P(Demo, TamperedFileIsRefused)
{
    const TDemoRun run = Run({QStringLiteral("--tampered")});
    ASSERT_EQ(run.ExitCode, GetParam().RefusedExitCode) << run.Output.toStdString();
    for (const QString text : {"final status:     Atualização finalizada com erros, feche os aplicativos e tente denovo.",
                               "tampered file:    Keldarin.dll refused, not installed; the local copy is as it was"})
        EXPECT_TRUE(run.Output.contains(text)) << text.toStdString() << '\n' << run.Output.toStdString();

    EXPECT_EQ(ReadBytes(Installed("Keldarin.dll")), QByteArray("Keldarin.dll 2026.1\n").repeated(200000));
    EXPECT_EQ(ReadBytes(Installed("Relatorios.rpt")), ReadBytes(Served("Relatorios.rpt")));
    EXPECT_EQ(ReadBytes(Installed("Quendarive.exe")), QByteArray("Quendarive.exe 2026.1\r\n"));
    EXPECT_EQ(Installation().keys(),
              QStringList({"Ajuda.chm", "Keldarin.dll", "LEIAME.TXT", "Quendarive.exe", "Quendarive.rar", "Relatorios.rpt",
                           "Tabelas.dat", "Tolvenra.INI", "atualiza.cfg", "zembo-instalacao.id", "zembo-release.aceito",
                           // the replacement stays due until a run without errors carries it out
                           "zembo-substituicao.pendente", "zembo-update.lock", "zembo-update.log"}));
    // recorded before the first file was installed, so no older release follows
    EXPECT_EQ(ReadBytes(Installed("zembo-release.aceito")), ReadBytes(Served("zembo-release.txt")));
    EXPECT_EQ(Customer("select versao from versao"), "0003");
    EXPECT_TRUE(ReadBytes(Installed("zembo-update.log")).contains("fim: Atualização finalizada com erros"));
    EXPECT_TRUE(run.Output.contains(QRegularExpression(QStringLiteral("KELDARIN_DEMO  .* erros .* falhando"))))
        << run.Output.toStdString();
}

// The same release served by nginx over TLS (--https): every file that
// differs in size or SHA-256 is fetched (the copy of the same minute too:
// time stamps do not decide), then a second run fetches nothing.
class DemoOverHttps : public Demo {};

TEST_P(DemoOverHttps, FetchesWhatDiffersThenNothing)
{
    const TDemoRun first = Run({QStringLiteral("--https")});
    ASSERT_EQ(first.ExitCode, 0) << first.Output.toStdString();
    for (const QString& text : {Success, Verified, QStringLiteral("source:           https://127.0.0.1:")})
        EXPECT_TRUE(first.Output.contains(text)) << text.toStdString() << '\n' << first.Output.toStdString();
    for (const QString name : {"Keldarin.dll", "Tabelas.dat", "Quendarive.rar"}) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(ReadBytes(Installed(name)), ReadBytes(Served(name)));
        EXPECT_EQ(QFileInfo(Installed(name)).lastModified(), QFileInfo(Served(name)).lastModified());
    }
    EXPECT_EQ(Customer("select versao from versao"), "0006");
    const TDemoRun again = Run({QStringLiteral("--https"), QStringLiteral("--again")});
    ASSERT_EQ(again.ExitCode, 0) << again.Output.toStdString();
    EXPECT_TRUE(again.Output.contains(QStringLiteral("files fetched:    none"))) << again.Output.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Faces, DemoOverHttps, ::testing::Values(TFace{"Unattended", "--unattended", 1}),
                         [](const ::testing::TestParamInfo<TFace>& face) { return std::string(face.param.Name); });

INSTANTIATE_TEST_SUITE_P(Faces, Demo,
                         ::testing::Values(TFace{"Window", "--headless", 0}, TFace{"Unattended", "--unattended", 1}),
                         [](const ::testing::TestParamInfo<TFace>& face) { return std::string(face.param.Name); });

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
