// Reply texts and data addresses of the FTP protocol: the parsing that needs
// no connection. Internal to the FTP library (and its tests).
#pragma once

#include "ftp/idreplyftp.h"
#include "platform/text.h" // TrimControl, which the reply texts use

#include <QString>
#include <QStringList>
#include <cstdint>

// Builds the reply from the lines read (empty lines already skipped). Raises
// EIdException "Reply Code is not valid: %s" for a code that is neither
// empty nor 100 to 999.
void ParseReply(const QStringList& lines, TIdReplyFTP& reply);
// True when `line` ends a multi-line reply with the code.
bool EndsMultiLineReply(const QString& line, const QString& code);

// The reply's text lines, each followed by CR LF: the message of a refusal.
QString ReplyMessage(const TIdReplyFTP& reply);

struct TIdPassiveAddress {
    QString Address;
    std::uint16_t Port;
};
// From the first text line of a 227 reply. Each of the six numbers must be
// 0 to 255 and the port not 0, else EIdReplyRFCError with the reply's text;
// a part that is no integer raises EConvertError.
TIdPassiveAddress ParsePASVReply(const TIdReplyFTP& reply);

// The "(N bytes)" a 150 reply names for the transfer, -1 when none.
std::int64_t AnnouncedTransferSize(const TIdReplyFTP& reply);

// The argument of the XAUT single-command login.
QString XAutCredentials(const QString& username, const QString& password, std::uint32_t challenge);
