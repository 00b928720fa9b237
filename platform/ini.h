// A small reader for the INI files that hold the registry and the alias
// registry. Unlike QSettings it keeps the lines of a section in file
// order, duplicates included, exactly as written after the first "=".
#pragma once

#include <QList>
#include <QString>

struct TIniLine {
    QString Name;  // trimmed text before the first "="
    QString Value; // text after the first "=", as written
};

struct TIniSection {
    QString Name;
    QList<TIniLine> Lines;
};

// Lines are read as UTF-8; ";" and "#" start comment lines. Raises
// EInOutError when the file cannot be read.
QList<TIniSection> ReadIniFile(const QString& path);

// Section names compare case-insensitively, as registry keys and alias names do.
const TIniSection* FindIniSection(const QList<TIniSection>& sections, const QString& name);
