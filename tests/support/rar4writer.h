// Writes RAR 4.x archives with stored (uncompressed) entries, the kind of
// archive the archiver stand-in must read. No RAR writer is packaged for
// Debian, and the format's stored method is simple enough to write here.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

struct TRar4Entry {
    QString Name;           // folders separated by "\" or "/"; ANSI code page
    QByteArray Data;
    QDateTime Modified;     // local time, kept at the two-second DOS precision
    bool IsFolder = false;
};

QByteArray Rar4Archive(const QList<TRar4Entry>& entries);
void WriteRar4(const QString& path, const QList<TRar4Entry>& entries);
