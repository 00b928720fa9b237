// One-time passwords of RFC 2289 (S/KEY style), answered to an "otp-" challenge.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

enum class TOtpHash { ohMd4, ohMd5, ohSha1 };

struct TOtpChallenge {
    TOtpHash Hash;
    int Count;
    QString Seed;
};

// Finds "otp-md4|md5|sha1 COUNT SEED" in a reply text.
std::optional<TOtpChallenge> FindOtpChallenge(const QString& text);

// The 64-bit value after Count further rounds of the hash over seed + pass phrase.
std::uint64_t OtpValue(TOtpHash hash, int count, const QString& seed, const QString& passPhrase);
// The six words of the standard dictionary for the value (with its two check bits).
QString OtpSixWords(std::uint64_t value);
QString OtpPassword(const TOtpChallenge& challenge, const QString& passPhrase);
