#include "ftp/otp.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QStringList>
#include <array>

extern const char* const OtpWords[2048];

namespace {

using TFolded = std::array<unsigned char, 8>;

TFolded Fold(TOtpHash hash, const QByteArray& data)
{
    TFolded out{};
    if (hash == TOtpHash::ohSha1) {
        const QByteArray d = QCryptographicHash::hash(data, QCryptographicHash::Sha1);
        auto word = [&](int i) {
            const auto* p = reinterpret_cast<const unsigned char*>(d.constData()) + 4 * i;
            return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
        };
        const std::uint32_t w[2] = {word(0) ^ word(2) ^ word(4), word(1) ^ word(3)};
        // The standard's reference code stores the folded words low byte first.
        for (int i = 0; i < 2; ++i)
            for (int b = 0; b < 4; ++b)
                out[4 * i + b] = static_cast<unsigned char>(w[i] >> (8 * b));
        return out;
    }
    const QByteArray d = QCryptographicHash::hash(
        data, hash == TOtpHash::ohMd4 ? QCryptographicHash::Md4 : QCryptographicHash::Md5);
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<unsigned char>(d[i] ^ d[i + 8]);
    return out;
}

} // namespace

std::optional<TOtpChallenge> FindOtpChallenge(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("otp-(md4|md5|sha1) +(\\d+) +([A-Za-z0-9]+)"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    bool ok = false;
    const int count = m.captured(2).toInt(&ok);
    if (!ok)
        return std::nullopt;
    const QString name = m.captured(1);
    const TOtpHash hash = name == QLatin1String("md4")   ? TOtpHash::ohMd4
                          : name == QLatin1String("md5") ? TOtpHash::ohMd5
                                                         : TOtpHash::ohSha1;
    return TOtpChallenge{hash, count, m.captured(3)};
}

std::uint64_t OtpValue(TOtpHash hash, int count, const QString& seed, const QString& passPhrase)
{
    TFolded v = Fold(hash, seed.toLower().toLatin1() + passPhrase.toLatin1());
    for (int i = 0; i < count; ++i)
        v = Fold(hash, QByteArray(reinterpret_cast<const char*>(v.data()), int(v.size())));
    std::uint64_t value = 0;
    for (unsigned char b : v)
        value = value << 8 | b;
    return value;
}

QString OtpSixWords(std::uint64_t value)
{
    unsigned parity = 0;
    for (int i = 0; i < 64; i += 2)
        parity += (value >> i) & 3;
    QStringList words;
    // 66 bits: the value followed by the two check bits, taken 11 at a time
    // from the top; the last word holds the check bits.
    for (int i = 0; i < 5; ++i)
        words << QString::fromLatin1(OtpWords[(value >> (53 - 11 * i)) & 0x7FF]);
    words << QString::fromLatin1(OtpWords[((value << 2) | (parity & 3)) & 0x7FF]);
    return words.join(QLatin1Char(' '));
}

QString OtpPassword(const TOtpChallenge& challenge, const QString& passPhrase)
{
    return OtpSixWords(OtpValue(challenge.Hash, challenge.Count, challenge.Seed, passPhrase));
}
