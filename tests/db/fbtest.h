// Test databases on the real Firebird: a dialect-1, character set NONE
// database in the test services' data folder, reached embedded (plain path)
// or through the server (127.0.0.1:path). One file is never opened both ways.
#pragma once

#include "tests/support/testenv.h"
#include "db/ibdatabase.h"

#include <QString>
#include <memory>
#include <ostream>

// Readable failure output for texts.
enum TFbAccess { fbEmbedded, fbServer };

class TFbTestDatabase {
public:
    // Creates a fresh database file named after the test, in the services'
    // data folder or (embedded only) in the folder given.
    TFbTestDatabase(const QString& name, TFbAccess access, const QString& folder = {});
    ~TFbTestDatabase();

    QString Path() const { return FPath; }
    QString ConnectionName() const;
    QStringList ProgramParams() const;   // user_name=..., password=...
    // A connection configured as the program configures its own, with a
    // default transaction.
    TIBDatabase& Database() { return *FDatabase; }
    TIBTransaction& Transaction() { return *FTransaction; }

    // Runs each statement in a transaction of its own and commits it.
    void Exec(const QStringList& statements);
    // The first column of the first row of a select, as text; "<null>" for null.
    QString Scalar(const QString& select);
    // The same select answered by Firebird's own isql-fb, for results that
    // must not rest on this access layer alone: the output without headings,
    // trimmed ("<null>" for null).
    QString IsqlScalar(const QString& select) const;

private:
    QString FPath;
    TFbAccess FAccess;
    std::unique_ptr<TIBDatabase> FDatabase;
    std::unique_ptr<TIBTransaction> FTransaction;
};

QString FbUser();
QString FbPassword();

// Runs Firebird's isql-fb with the test login on a database: the input goes
// to its standard input, the arguments before the database name. Returns
// standard output and error together.
QString IsqlFb(const QString& database, const QString& input, const QStringList& args = {}, int* exitCode = nullptr);
