// Each test service answers with the credentials scripts/services exports.
#include "tests/support/testenv.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <asio.hpp>
#include <gtest/gtest.h>

namespace {

QCoreApplication& App()
{
    static int argc = 1;
    static char name[] = "test_services";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

TEST(ServicesTest, CatalogueAnswersThroughQMYSQL)
{
    App();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), QStringLiteral("smoke"));
        db.setHostName(ServiceEnv("ZEMBO_MYSQL_HOST"));
        db.setPort(ServiceEnv("ZEMBO_MYSQL_PORT").toInt());
        db.setUserName(ServiceEnv("ZEMBO_MYSQL_USER"));
        db.setPassword(ServiceEnv("ZEMBO_MYSQL_PASSWORD"));
        db.setDatabaseName(QStringLiteral("Sistema_my"));
        ASSERT_TRUE(db.open()) << db.lastError().text().toStdString();
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral("select database(), current_user()")))
            << q.lastError().text().toStdString();
        ASSERT_TRUE(q.next());
        EXPECT_EQ(q.value(0).toString(), QStringLiteral("Sistema_my"));
        EXPECT_TRUE(q.value(1).toString().startsWith(ServiceEnv("ZEMBO_MYSQL_USER") + '@'));
        // The tests build their own catalogue tables.
        EXPECT_TRUE(q.exec(QStringLiteral("create temporary table smoke (n int)")))
            << q.lastError().text().toStdString();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("smoke"));
}

TEST(ServicesTest, FirebirdServerCreatesAndAttachesAsRoot)
{
    const QString path = ServiceEnv("ZEMBO_FB_DATA") + QStringLiteral("/smoke-%1.fdb").arg(QCoreApplication::applicationPid());
    const QString script = QStringLiteral(
        "SET SQL DIALECT 1;\n"
        "CREATE DATABASE '127.0.0.1:%1' USER '%2' PASSWORD '%3' DEFAULT CHARACTER SET NONE;\n"
        "SELECT 'dialect=' || MON$SQL_DIALECT, 'user=' || CURRENT_USER FROM MON$DATABASE;\n"
        "DROP DATABASE;\n")
        .arg(path, ServiceEnv("ZEMBO_FB_USER"), ServiceEnv("ZEMBO_FB_PASSWORD"));
    QProcess isql;
    isql.setProcessChannelMode(QProcess::MergedChannels);
    isql.start(QStringLiteral("isql-fb"), {QStringLiteral("-q"), QStringLiteral("-bail")});
    ASSERT_TRUE(isql.waitForStarted());
    isql.write(script.toUtf8());
    isql.closeWriteChannel();
    ASSERT_TRUE(isql.waitForFinished(30000));
    const QString out = QString::fromLocal8Bit(isql.readAll());
    EXPECT_EQ(isql.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("dialect=1"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("user=ROOT"))) << out.toStdString();
}

// A bare control connection: the reply code of each command.
class TControl {
public:
    explicit TControl(int port)
    {
        asio::connect(FSocket, asio::ip::tcp::resolver(FIo).resolve("127.0.0.1", std::to_string(port)));
    }
    int Reply()
    {
        // A multi-line reply ends with the line that has a blank after the code.
        for (;;) {
            const std::size_t n = asio::read_until(FSocket, asio::dynamic_buffer(FBuffer), "\r\n");
            const std::string line = FBuffer.substr(0, n);
            FBuffer.erase(0, n);
            if (line.size() >= 4 && line[3] == ' ')
                return std::stoi(line.substr(0, 3));
        }
    }
    int Command(const std::string& text)
    {
        asio::write(FSocket, asio::buffer(text + "\r\n"));
        return Reply();
    }

private:
    asio::io_context FIo;
    asio::ip::tcp::socket FSocket{FIo};
    std::string FBuffer;
};

void ExpectLogin(const char* portVar, const char* userVar, const char* passwordVar)
{
    TControl c(ServiceEnv(portVar).toInt());
    EXPECT_EQ(c.Reply(), 220);
    EXPECT_EQ(c.Command("USER " + ServiceEnv(userVar).toStdString()), 331);
    EXPECT_EQ(c.Command("PASS " + ServiceEnv(passwordVar).toStdString()), 230);
    EXPECT_EQ(c.Command("QUIT"), 221);
}

TEST(ServicesTest, PyftpdlibGreetsAndLogsIn)
{
    ExpectLogin("ZEMBO_PYFTPD_PORT", "ZEMBO_FTP_USER", "ZEMBO_FTP_PASSWORD");
}

TEST(ServicesTest, VsftpdGreetsAndLogsInWithItsAccountOnly)
{
    ExpectLogin("ZEMBO_VSFTPD_PORT", "ZEMBO_VSFTPD_USER", "ZEMBO_VSFTPD_PASSWORD");
    TControl c(ServiceEnv("ZEMBO_VSFTPD_PORT").toInt());
    EXPECT_EQ(c.Reply(), 220);
    EXPECT_EQ(c.Command("USER " + ServiceEnv("ZEMBO_VSFTPD_USER").toStdString()), 331);
    EXPECT_EQ(c.Command("PASS not-the-password"), 530);
}

} // namespace
