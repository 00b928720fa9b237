// Small routines of the update run: the password's and the catalogue
// credentials' descrambling, the archiver's place under Program Files and the
// registry value it is read from, and two text routines.
#pragma once

#include "db/aliases.h" // PegaBDEdados, with the alias registry it reads
#include "platform/registry.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

// Digit-shift descrambling: the first character is the shift digit k (any
// other character means 0); every later code unit is lowered by 3*k, with
// wrap-around in 16 bits (UTF-16) or 8 bits (ANSI bytes).
QString DecodificaTexto(const QString& scrambled);
QByteArray DecodificaTextoAnsi(const QByteArray& scrambled);

// The Program Files folder under which the archiver lies at winrar/winrar.exe.
// Errors of the registry reader propagate.
QString program_files();

// A registry value as text (also binary values) or 32-bit integer; raises
// EOSError with the system's message when the key or value cannot be read.
QVariant LeRegistro(THKey root, const QString& keyPath, const QString& valueName);

// The archiver under a Program Files folder.
QString ArchiverPath(const QString& folder);

// The last blank-separated word of a trimmed line, at most 1000 characters.
QString UltimaPalavra(const QString& line);

// Every occurrence of the one-character text find replaced by replacement.
QString TrocaCaractere(const QString& text, const QString& find, const QString& replacement);
