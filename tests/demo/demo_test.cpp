// scripts/demo as a newcomer runs it, headless, in a folder of the test's
// own: a first run does the whole job, a second one (--again) finds nothing
// to fetch and no script to run.
#include "settings.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFileInfo>
#include <QCoreApplication>
#include <QImage>
#include <QMap>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

struct TDemoRun {
    int ExitCode = -1;
    QString Output;
};

class Demo : public ::testing::Test {
protected:
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
        demo.start(QStringLiteral("/bin/bash"), QStringList{SourceDir() + QStringLiteral("/scripts/demo")} + options);
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

const QString Success = QStringLiteral("[final status] Atualização finalizada com sucesso.");

TEST_F(Demo, FirstRunDoesTheWholeJobAndTheSecondFindsNothingToDo)
{
    const TDemoRun first = Run({QStringLiteral("--headless")});
    ASSERT_EQ(first.ExitCode, 0) << first.Output.toStdString();
    EXPECT_TRUE(first.Output.contains(Success)) << first.Output.toStdString();

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

    for (const char* stage : {"01-confirmacao", "02-confirmado", "03-verificado", "04-transferindo", "05-scripts", "06-final"}) {
        const QImage shot(Dir() + QStringLiteral("/shots/%1.png").arg(stage));
        EXPECT_FALSE(shot.isNull()) << stage;
    }

    const QMap<QString, QString> installed = Installation();
    const TDemoRun again = Run({QStringLiteral("--headless"), QStringLiteral("--again")});
    ASSERT_EQ(again.ExitCode, 0) << again.Output.toStdString();
    EXPECT_TRUE(again.Output.contains(Success)) << again.Output.toStdString();
    EXPECT_TRUE(again.Output.contains(QStringLiteral("files fetched:    none"))) << again.Output.toStdString();
    QMap<QString, QString> now = Installation();
    QMap<QString, QString> expected = installed;
    // atualiza.cfg names the new server port; the run log has grown by a run
    for (const QString name : {"atualiza.cfg", "zembo-update.log"}) {
        now.remove(name);
        expected.remove(name);
    }
    EXPECT_EQ(now, expected);
    EXPECT_EQ(ReadBytes(Installed("zembo-update.log")).count("fim: Atualização finalizada com sucesso."), 2);
    EXPECT_EQ(Customer("select versao from versao"), "0006");
    EXPECT_TRUE(ErrorFiles().isEmpty());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
