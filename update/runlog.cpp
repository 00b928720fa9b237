#include "update/runlog.h"

#include "platform/datetime.h"
#include "platform/files.h"
#include "platform/text.h"

#include <QDateTime>
#include <QFile>

TRunLog::TRunLog(QString path) : FPath(std::move(path)) {}

void TRunLog::Line(const QString& event)
{
    if (FPath.isEmpty())
        return;
    // one line per event, and nothing a terminal showing the log would obey
    const QString text = EscapeControls(event, u" / ");
    QFile file;
    if (!OpenNoFollow(file, FPath, QIODevice::WriteOnly | QIODevice::Append).isEmpty())
        return; // also a link in the log's place: never written through
    file.write((Now().ToQDateTime().toString(Qt::ISODate) + u' ' + text + u'\n').toUtf8());
    const qint64 size = file.size();
    file.close();
    if (size > MaxSize)
        Trim();
}

// The last KeptSize bytes from the first whole line on, written aside and
// renamed, so a reader never sees half a log.
void TRunLog::Trim()
{
    try {
        const QByteArray all = ReadFileBytes(FPath);
        QByteArray tail = all.right(KeptSize);
        const qsizetype lineStart = tail.indexOf('\n');
        if (lineStart >= 0 && all.size() > KeptSize)
            tail = tail.mid(lineStart + 1);
        WriteFileBytes(FPath, tail);
    } catch (const std::exception&) {
        // an untrimmed log is no reason to stop
    }
}
