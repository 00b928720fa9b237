// What the manifest's and the delta index's parsers share; private to release/.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

// Why a name may not be a file of the release (and of the installation
// folder), or empty when it may.
QString NameFault(const QString& name);
// A non-negative decimal number of at most 18 digits, without sign or blanks.
std::optional<qint64> Decimal(const QString& text);
// 64 hexadecimal digits as 32 raw bytes.
std::optional<QByteArray> Sha256Hex(const QString& hex);
// The lines of a release text: UTF-8, LF line ends, at most
// MaxReleaseFileSize bytes, ending in a line end. Raises EReleaseError,
// its message beginning with invalid.
QStringList ReleaseTextLines(const QByteArray& utf8, const QString& invalid);
