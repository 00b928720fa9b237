#include "tests/db/catalogtest.h"

#include "tests/support/testenv.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <gtest/gtest.h>

TCatalogTestDatabase::TCatalogTestDatabase(const QString& name)
    : FName(name), FConnection(QStringLiteral("catalog-admin-") + name)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), FConnection);
    db.setHostName(ServiceEnv("ZEMBO_MYSQL_HOST"));
    db.setPort(ServiceEnv("ZEMBO_MYSQL_PORT").toInt());
    db.setUserName(ServiceEnv("ZEMBO_MYSQL_USER"));
    db.setPassword(ServiceEnv("ZEMBO_MYSQL_PASSWORD"));
    if (!db.open())
        ADD_FAILURE() << "MariaDB: " << db.lastError().text().toStdString();
    Exec(QStringLiteral("DROP DATABASE IF EXISTS ") + FName);
    Exec(QStringLiteral("CREATE DATABASE ") + FName);
    Exec(QStringLiteral("USE ") + FName);
    Exec(QStringLiteral("CREATE TABLE scripts (programa VARCHAR(20) NOT NULL, versao VARCHAR(10) NOT NULL, "
                        "texto LONGBLOB NOT NULL, liberado CHAR(1), data DATETIME, PRIMARY KEY (programa, versao))"));
    Exec(QStringLiteral("CREATE TABLE principal (senha_ftp VARCHAR(60))"));
}

TCatalogTestDatabase::~TCatalogTestDatabase()
{
    {
        QSqlDatabase db = QSqlDatabase::database(FConnection, false);
        if (db.isOpen())
            QSqlQuery(db).exec(QStringLiteral("DROP DATABASE IF EXISTS ") + FName);
        db.close();
    }
    QSqlDatabase::removeDatabase(FConnection);
}

void TCatalogTestDatabase::Exec(const QString& sql)
{
    QSqlQuery q(QSqlDatabase::database(FConnection, false));
    if (!q.exec(sql))
        ADD_FAILURE() << sql.toStdString() << ": " << q.lastError().text().toStdString();
}

void TCatalogTestDatabase::AddScript(const QString& programa, const QString& versao, const QString& liberado,
                                     const QByteArray& texto)
{
    QSqlQuery q(QSqlDatabase::database(FConnection, false));
    q.prepare(QStringLiteral("INSERT INTO scripts (programa, versao, texto, liberado) VALUES (?, ?, ?, ?)"));
    q.addBindValue(programa);
    q.addBindValue(versao);
    q.addBindValue(texto);
    q.addBindValue(liberado);
    if (!q.exec())
        ADD_FAILURE() << "script " << versao.toStdString() << ": " << q.lastError().text().toStdString();
}

QByteArray TCatalogTestDatabase::CheckAlias() const
{
    return "[Check]\nTYPE=MYSQL\nHOST=127.0.0.1\nPORT=" + ServiceEnv("ZEMBO_MYSQL_PORT").toUtf8() +
           "\nDATABASE NAME=" + FName.toUtf8() + "\n";
}

QString Scrambled(const QString& plain, int k)
{
    QString s = QString::number(k);
    for (QChar c : plain)
        s += QChar(char16_t(c.unicode() + 3 * k));
    return s;
}
