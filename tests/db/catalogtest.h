// A central catalogue of the test's own on the test services' MariaDB: a
// database with the tables the program reads, dropped at the end.
#pragma once

#include <QByteArray>
#include <QString>

class TCatalogTestDatabase {
public:
    // Drops and creates the database, with empty tables scripts and principal.
    explicit TCatalogTestDatabase(const QString& name);
    ~TCatalogTestDatabase();
    TCatalogTestDatabase(const TCatalogTestDatabase&) = delete;
    TCatalogTestDatabase& operator=(const TCatalogTestDatabase&) = delete;

    QString Name() const { return FName; }
    // Runs a statement in the database; a failure fails the test.
    void Exec(const QString& sql);
    // A row of scripts; the text is stored as the catalogue holds it, bytes.
    void AddScript(const QString& programa, const QString& versao, const QString& liberado, const QByteArray& texto);
    // The alias section that reaches this database as "Check".
    QByteArray CheckAlias() const;

private:
    QString FName;
    QString FConnection;
};

// A password as the catalogue keeps it: digit-shift scrambled with shift k.
QString Scrambled(const QString& plain, int k);
