// The environment checks before an update: the Program Files folder, the
// archiver, the main executable, Tolvenra.INI, the alias and both databases.
// Each gives the operator's message, exactly as shown, when it fails.
#pragma once

#include "platform/registry.h"

#include <QString>
#include <QVariant>
#include <optional>

class TDatabase;
class TIBDatabase;

enum TCheckKind {
    ckRegistry,          // the Program Files folder cannot be read
    ckArchiver,          // the archiver is missing: the download page opens
    ckMainExecutable,    // neither Quendarive.exe nor Quendarive.old
    ckSettingsFile,      // no Tolvenra.INI
    ckSettingsUnreadable,
    ckAlias,             // alias unknown or without SERVER NAME
    ckCatalogue,         // the central catalogue does not open
    ckCustomerDatabase,  // the customer database does not open
};

struct TCheckFailure {
    TCheckKind Kind;
    QString Message; // the operator's message, exactly as shown
    // The update button is disabled by the two file checks.
    bool DisablesButton() const { return Kind == ckMainExecutable || Kind == ckSettingsFile; }
    bool OpensDownloadPage() const { return Kind == ckArchiver; }
};

// The archiver's download page on the maker's site (ArchiverPath: helpers).
QString ArchiverDownloadPage();

// The Program Files folder (program_files); a registry failure is a failed check.
std::optional<TCheckFailure> VerificaProgramFiles(QString& progr);
// The archiver, the main executable (or its backup) and Tolvenra.INI, in
// that order; on success alias holds columns 15 to 44 of its first line.
std::optional<TCheckFailure> VerificaArquivos(const QString& progr, QString& alias);
// The alias's database file, then the central catalogue (left open on
// success) and the customer database (opened and closed again).
std::optional<TCheckFailure> VerificaBases(const QString& alias, TDatabase& catalogue, TIBDatabase& customer);

// Columns 15 to 44 of the first line, trimmed; raises EInOutError.
QString AliasDoIni(const QString& path);

// The Program Files folder under which the archiver lies at winrar/winrar.exe.
// Errors of the registry reader propagate.
QString program_files();
// A registry value as text (also binary values) or 32-bit integer; raises
// EOSError with the system's message when the key or value cannot be read.
QVariant LeRegistro(THKey root, const QString& keyPath, const QString& valueName);
// The archiver under a Program Files folder.
QString ArchiverPath(const QString& folder);
