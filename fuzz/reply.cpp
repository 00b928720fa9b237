// The FTP reply parser: a reply's lines as the client reads them, the end of
// a multi-line reply, the message of a refusal, and the passive-mode address
// of a 227 reply.
#include "fuzz/fuzzentry.h"

#include "ftp/idreply.h"
#include "platform/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QStringList lines;
    for (const QString& line : FuzzText(data, size).split(u'\n'))
        if (!TrimControl(line).isEmpty())
            lines.append(line.endsWith(u'\r') ? line.chopped(1) : line);
    if (lines.isEmpty())
        return 0;
    TIdReplyFTP reply;
    try {
        ParseReply(lines, reply);
    } catch (const Exception&) {
        return 0;
    }
    for (const QString& line : lines)
        EndsMultiLineReply(line, reply.Code);
    ReplyMessage(reply);
    reply.NumericCode();
    try {
        ParsePASVReply(reply);
    } catch (const Exception&) {
    }
    return 0;
}
