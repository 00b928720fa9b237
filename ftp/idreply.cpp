#include "ftp/idreply.h"

#include "ftp/iderrors.h"

#include <QRegularExpression>

QString TrimControl(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 32)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 32)
        --end;
    return text.mid(begin, end - begin);
}

namespace {

bool IsThreeDigits(const QString& s)
{
    return s.size() == 3 && s.at(0).isDigit() && s.at(1).isDigit() && s.at(2).isDigit()
           && s.at(0).unicode() < 128 && s.at(1).unicode() < 128 && s.at(2).unicode() < 128;
}

QString TrimLeftBlanks(const QString& s)
{
    qsizetype i = 0;
    while (i < s.size() && s.at(i) == QLatin1Char(' '))
        ++i;
    return s.mid(i);
}

// StrToInt's syntax: optional blanks and sign, decimal digits.
bool ToInteger(const QString& text, int& value)
{
    bool ok = false;
    value = TrimLeftBlanks(text).toInt(&ok, 10);
    return ok;
}

} // namespace

bool EndsMultiLineReply(const QString& line, const QString& code)
{
    return line.size() >= 3 && IsThreeDigits(line.left(3)) && line.left(3) == code
           && (line.size() == 3 || line.at(3) == QLatin1Char(' '));
}

void ParseReply(const QStringList& lines, TIdReplyFTP& reply)
{
    reply = TIdReplyFTP();
    reply.FormattedReply = lines;
    if (lines.isEmpty())
        return;
    const QString& first = lines.first();
    QString code = TrimControl(first.left(4));
    if (code.size() == 4 && code.at(3) == QLatin1Char('-'))
        code.truncate(3);
    if (!code.isEmpty()) {
        int value = 0;
        if (!ToInteger(code, value) || value < 100 || value > 999)
            throw EIdException(QStringLiteral("Reply Code is not valid: %1").arg(code));
    }
    reply.Code = code;
    reply.Text << first.mid(code.size() + 1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString& line = lines.at(i);
        if (!code.isEmpty() && line.startsWith(code))
            reply.Text << line.mid(code.size() + 1);
        else
            reply.Text << TrimLeftBlanks(line);
    }
}

int TIdReplyFTP::NumericCode() const
{
    int value = 0;
    return ToInteger(TrimControl(Code), value) ? value : 0;
}

QString ReplyMessage(const TIdReplyFTP& reply)
{
    QString message;
    for (const QString& line : reply.Text)
        message += line + QStringLiteral("\r\n");
    return message;
}

namespace {

// The six numbers of a PASV reply's text. RFC 1123 lets them stand anywhere
// in it: between parentheses when there are any, else the first run of six
// comma-separated numbers (or, lacking one, what follows the last blank).
QString PassiveNumbers(const QString& line)
{
    const qsizetype open = line.indexOf(QLatin1Char('('));
    if (open >= 0) {
        QString numbers = line.mid(open + 1);
        const qsizetype close = numbers.indexOf(QLatin1Char(')'));
        if (close >= 0)
            numbers.truncate(close);
        return numbers;
    }
    static const QRegularExpression six(QStringLiteral("[0-9]+(?:,[0-9]+){5}"));
    const QRegularExpressionMatch match = six.match(line);
    return match.hasMatch() ? match.captured() : line.mid(line.lastIndexOf(QLatin1Char(' ')) + 1);
}

} // namespace

TIdPassiveAddress ParsePASVReply(const TIdReplyFTP& reply)
{
    const QStringList parts = PassiveNumbers(TrimControl(reply.Text.value(0))).split(QLatin1Char(','));
    int values[6] = {};
    for (int i = 0; i < 6; ++i) {
        const QString part = parts.value(i);
        if (!ToInteger(part, values[i]))
            throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(part));
        if (values[i] < 0 || values[i] > 255)
            throw EIdReplyRFCError(reply.NumericCode(), QStringLiteral("Invalid passive address: ") + ReplyMessage(reply));
    }
    TIdPassiveAddress result;
    result.Address = QStringLiteral("%1.%2.%3.%4").arg(values[0]).arg(values[1]).arg(values[2]).arg(values[3]);
    result.Port = static_cast<std::uint16_t>(values[4] * 256 + values[5]);
    if (result.Port == 0)
        throw EIdReplyRFCError(reply.NumericCode(), QStringLiteral("Invalid passive address: ") + ReplyMessage(reply));
    return result;
}

std::int64_t AnnouncedTransferSize(const TIdReplyFTP& reply)
{
    static const QRegularExpression size(QStringLiteral("\\(([0-9]+) bytes\\)"),
                                         QRegularExpression::CaseInsensitiveOption);
    std::int64_t result = -1;
    for (const QString& line : reply.Text) {
        auto matches = size.globalMatch(line);
        while (matches.hasNext()) {
            bool ok = false;
            const qlonglong value = matches.next().captured(1).toLongLong(&ok);
            if (ok)
                result = value;
        }
    }
    return result;
}

QString XAutCredentials(const QString& username, const QString& password, std::uint32_t challenge)
{
    // The program's own key; only servers announcing "WS_FTP Server" see it.
    static const unsigned char key[4] = {0x5A, 0x45, 0x4D, 0x42};
    const QString plain = username + QLatin1Char(':') + password;
    QString out;
    for (qsizetype i = 0; i < plain.size(); ++i) {
        const char16_t c = plain.at(i).unicode();
        unsigned char b = c > 127 ? '?' : static_cast<unsigned char>(c);
        b ^= key[i % 4];
        b ^= static_cast<unsigned char>(challenge >> (8 * (i % 4)));
        out += QChar(53 + (b >> 4));
        out += QChar(49 + (b & 0x0F));
    }
    return out;
}
