#include "tests/update/installation.h"

#include "platform/files.h"
#include "platform/shell.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <cmath>

QString TestName()
{
    return QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()).toLower();
}

TDateTime ServerTime()
{
    return TDateTime(std::floor(Now().Value()) - 2) + EncodeTime(10, 37, 0, 0).Value();
}

QString ToTheMinute(const QString& path)
{
    return QFileInfo(path).lastModified().toString("dd/MM/yyyy HH:mm");
}

TInstallationTest::TInstallationTest(const QString& catalogPrefix) : FCatalog(catalogPrefix + TestName().left(40)) {}

void TInstallationTest::SetUp()
{
    FOldDir = QDir::currentPath();
    QDir::setCurrent(FWork.Path());
    ASSERT_EQ(QProcess::execute(SourceDir() + "/scripts/install-winrar",
                                {FPrograms.Path(), FPrograms.File("registry.ini")}), 0);
    qputenv("ZEMBO_REGISTRY", FPrograms.File("registry.ini").toLocal8Bit());
    // The pid keeps a death test's child off its parent's database file.
    FCustomer = std::make_unique<TFbTestDatabase>(
        TestName().left(20) + "-" + QString::number(QCoreApplication::applicationPid()), fbEmbedded,
        QDir::tempPath());
    Aliases(FCustomer->Path());
    WriteBytes(FWork.File("Tolvenra.INI"), "Banco de dadosDADOS                         \r\n[outros]\r\n");
    WriteBytes(FWork.File("Quendarive.exe"), "programa antigo");
    FileSetDate("Quendarive.exe", ServerTime() + (-30));
    FCatalog.Exec("ALTER TABLE principal ADD senha_ftp2 VARCHAR(60)");
    const QString password = ServiceEnv("ZEMBO_FTP_PASSWORD");
    // Only the first column logs in; a test that selects the second swaps them.
    FCatalog.Exec("INSERT INTO principal VALUES ('" + Scrambled(password, 1) + "', '" + Scrambled("errada", 2) + "')");
    for (const char* root : {"ZEMBO_PYFTPD_ROOT", "ZEMBO_VSFTPD_ROOT"}) {
        QDir(ServiceEnv(root) + "/keldarin").removeRecursively();
        QDir().mkpath(ServiceEnv(root) + "/keldarin");
    }
}

void TInstallationTest::TearDown()
{
    SetProcessStartFunction({});
    QDir::setCurrent(FOldDir);
    qunsetenv("ZEMBO_REGISTRY");
    qunsetenv("ZEMBO_ALIASES");
}

void TInstallationTest::Aliases(const QString& customerPath)
{
    WriteBytes(FPrograms.File("aliases.ini"),
               FCatalog.CheckAlias() + "[DADOS]\nTYPE=INTRBASE\nSERVER NAME=" + customerPath.toUtf8() + "\n");
    qputenv("ZEMBO_ALIASES", FPrograms.File("aliases.ini").toLocal8Bit());
}

QString TInstallationTest::Root(TServer server)
{
    return ServiceEnv(server == svPyftpd ? "ZEMBO_PYFTPD_ROOT" : "ZEMBO_VSFTPD_ROOT") + "/keldarin/";
}

void TInstallationTest::Serve(TServer server, const QString& name, const QByteArray& bytes)
{
    WriteBytes(Root(server) + name, bytes);
    ASSERT_TRUE(FileSetDate(Root(server) + name, ServerTime()));
}

void TInstallationTest::Config(TServer server, bool fourLines, const QString& port)
{
    const QString p = port.isEmpty() ? ServiceEnv(server == svPyftpd ? "ZEMBO_PYFTPD_PORT" : "ZEMBO_VSFTPD_PORT")
                                     : port;
    WriteBytes(FWork.File("atualiza.cfg"), ("127.0.0.1\r\n" + p + (fourLines ? "\r\nFalse\r\nx\r\n" : "\r\n")).toUtf8());
}
