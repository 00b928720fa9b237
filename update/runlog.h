// The run log of an installation: one line per event of an update, local
// date and time first (ISO 8601), appended to zembo-update.log in the
// installation folder or to a file the caller names. An event's line breaks
// become " / " and its other control characters escapes. It stays bounded: past
// 2 MiB it is cut to its last MiB, at a line's start.
#pragma once

#include <QString>

inline const QString RunLogName = QStringLiteral("zembo-update.log");

class TRunLog {
public:
    // An empty path keeps no log.
    explicit TRunLog(QString path);
    // Appends the event; a log that cannot be written never stops an update.
    void Line(const QString& event);
    const QString& Path() const { return FPath; }

    static constexpr qint64 MaxSize = 2 * 1024 * 1024;
    static constexpr qint64 KeptSize = 1024 * 1024;

private:
    void Trim();
    QString FPath;
};
