// The system ANSI code page: every text that crosses into a file or a
// database goes through these two calls.
#pragma once

#include <QByteArray>
#include <QString>

// Name of the code page in use: $ZEMBO_ANSI_CODEPAGE, else windows-1252.
QString AnsiCodePageName();

// Characters the code page cannot hold become '?'.
QByteArray ToAnsi(const QString& text);
QString FromAnsi(const QByteArray& bytes);
