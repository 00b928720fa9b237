// One reply of an FTP server: its code and its text lines.
#pragma once

#include <QString>
#include <QStringList>

class TIdReplyFTP {
public:
    QString Code;
    QStringList Text;
    int NumericCode() const;
    // The reply's lines as they were received.
    QStringList FormattedReply;
};
