// A prepared installation against the test services, for the tests that run
// a whole update (the window's, the session's, zembo-update's): a scratch
// installation folder made the working folder (Quendarive.exe, Tolvenra.INI
// naming the alias DADOS), a scratch Program Files folder with the archiver
// stand-in and the registry file, the private MariaDB catalogue holding the
// FTP passwords, an embedded Firebird customer database, and the emptied
// "keldarin" folders of pyftpdlib and vsftpd. Those folders are shared: the
// tests using them never run side by side (RESOURCE_LOCK keldarin).
#pragma once

#include "platform/datetime.h"
#include "tests/db/catalogtest.h"
#include "tests/db/fbtest.h"
#include "tests/support/testenv.h"

#include <QString>
#include <gtest/gtest.h>
#include <memory>

// The running test's name, lower case.
QString TestName();
// Two days ago at 10:37: recent enough for the listings to show the minute.
TDateTime ServerTime();
// A file's time as the plan compares it.
QString ToTheMinute(const QString& path);

enum TServer { svPyftpd, svVsftpd };

class TInstallationTest : public ::testing::Test {
protected:
    // catalogPrefix: the catalogue database's name before the test's name.
    explicit TInstallationTest(const QString& catalogPrefix);
    void SetUp() override;
    void TearDown() override;

    // aliases.ini: the catalogue as Check, DADOS at this database file.
    void Aliases(const QString& customerPath);
    // The server's "keldarin" folder, with a trailing separator.
    static QString Root(TServer server);
    // A served file, dated ServerTime().
    void Serve(TServer server, const QString& name, const QByteArray& bytes);
    // atualiza.cfg: two lines (passive, senha_ftp) or four (active, senha_ftp2).
    void Config(TServer server, bool fourLines, const QString& port = {});

    TScratchDir FWork;
    TScratchDir FPrograms;
    QString FOldDir;
    TCatalogTestDatabase FCatalog;
    std::unique_ptr<TFbTestDatabase> FCustomer;
};
