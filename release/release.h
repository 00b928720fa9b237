// Signed releases: the manifest that names every file of a release with its
// size and SHA-256, its minisign signature, the keys trusted to sign it, and
// the last release an installation accepted.
#pragma once

#include "platform/errors.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// A release, signature or key that cannot be trusted; the message says why.
class EReleaseError : public Exception {
public:
    using Exception::Exception;
};

// The manifest and its signature sit beside the files they name, unlisted.
inline constexpr const char* ReleaseManifestName = "zembo-release.txt";
inline constexpr const char* ReleaseSignatureName = "zembo-release.txt.minisig";
// The last accepted manifest, kept in the installation folder.
inline constexpr const char* AcceptedReleaseName = "zembo-release.aceito";
// The most a manifest or a signature may hold.
inline constexpr qint64 MaxReleaseFileSize = 1024 * 1024;

struct TManifestEntry {
    QString Name;
    qint64 Size = 0;
    QByteArray Sha256; // 32 raw bytes
};

struct TManifest {
    qint64 Serial = 0;            // grows with every release
    QString Date;                 // YYYY-MM-DD
    QList<TManifestEntry> Files;  // sorted by name
    QString Expires;              // YYYY-MM-DD, refused from that day on; empty: never
    const TManifestEntry* Find(const QString& name) const;
};

// Every regular file of the folder (not recursing, the manifest and its
// signature left out), dated today and, with expiresInDays, expiring that
// many days later. Raises EReleaseError for a name the manifest cannot hold,
// EInOutError for an unreadable file.
TManifest MakeManifest(const QString& folder, qint64 serial, int expiresInDays = 0);
QByteArray FormatManifest(const TManifest& manifest);
// Raises EReleaseError naming the first malformed line. Header lines after
// the date whose key is not known are skipped.
TManifest ParseManifest(const QByteArray& utf8);

// Days from today (the program's clock) to the manifest's expiry, 0 or less
// once expired; nothing when it never expires.
std::optional<qint64> DaysUntilExpiry(const TManifest& manifest);
// The expiry date as the operator reads it (DD/MM/YYYY).
QString ExpiryText(const TManifest& manifest);
// Raises EReleaseError for a manifest past its expiry.
void CheckNotExpired(const TManifest& manifest);

// Raises EInOutError when the file cannot be read.
QByteArray Sha256OfFile(const QString& path);

enum TDifferenceKind { dkMissing, dkSize, dkSha256, dkUnlisted };
struct TFileDifference {
    QString Name;
    TDifferenceKind Kind;
};
// How the file differs from the manifest's entry, or nothing when it matches.
std::optional<TDifferenceKind> FileDifference(const TManifestEntry& entry, const QString& path);
// The files the manifest names that are missing or differ, in its order; with
// withUnlisted, then the regular files of the folder it does not name.
QList<TFileDifference> DifferingFiles(const TManifest& manifest, const QString& folder, bool withUnlisted = false);

struct TPublicKey {
    QByteArray KeyId; // 8 raw bytes, as in the key
    QByteArray Key;   // 32 raw bytes, Ed25519
};
// Key lines of minisign public key files, concatenated: blank lines, lines
// starting with "#" and "untrusted comment:" lines are skipped. Raises
// EReleaseError on any other line that is not a key.
QList<TPublicKey> ParsePublicKeys(const QByteArray& text);
// The keys compiled in (key lines separated by blanks or ';') plus those of
// ReleaseKeysFile() (a missing file adds none). Raises EReleaseError for a
// key file that anyone but root may change (or a folder above it), or an
// unreadable key.
QList<TPublicKey> TrustedKeys(const QByteArray& compiledIn);
// $ZEMBO_RELEASE_KEYS, else /etc/zemboupdate/release-keys.pub.
QString ReleaseKeysFile();

struct TSignedRelease {
    TManifest Manifest;
    QString KeyId;          // as minisign prints it: upper-case hex, no leading zeros
    QString TrustedComment;
};
// Checks the minisign signature (legacy or prehashed) and its trusted comment
// with the trusted keys, then parses the manifest and checks that it has not
// expired. Raises EReleaseError.
TSignedRelease VerifyRelease(const QByteArray& manifest, const QByteArray& signature,
                             const QList<TPublicKey>& trusted);

// The release last accepted in the installation folder, if any; raises
// EReleaseError when its record is unreadable.
std::optional<TManifest> LastAcceptedManifest(const QString& folder);
qint64 LastAcceptedSerial(const QString& folder); // 0 when none
// Raises EReleaseError when the manifest cannot follow the last accepted
// one: a lower serial, the same serial with other bytes, or no expiry where
// the accepted one had one.
void CheckAgainstAccepted(const QString& folder, const QByteArray& manifest);
// Raises EReleaseError when no key is trusted (keys empty) in a folder that
// accepted a signed release: a key file gone must not turn verification off.
void CheckVerifiable(const QString& folder, const QList<TPublicKey>& keys);
// Records the manifest (its exact bytes) as the last accepted, after the
// same check; written aside and renamed, and not written again when it is
// the one recorded.
void AcceptRelease(const QString& folder, const QByteArray& manifest);

// The delta index: patches that rebuild files of a release from earlier
// builds, in the folder "deltas" beside the release's files, signed like
// the manifest and of the same serial.
inline constexpr const char* DeltaFolder = "deltas";
inline constexpr const char* DeltaIndexName = "zembo-deltas.txt";
inline constexpr const char* DeltaSignatureName = "zembo-deltas.txt.minisig";

struct TDeltaEntry {
    QByteArray OldSha256; // 32 raw bytes: the build the patch starts from
    QByteArray NewSha256; // 32 raw bytes: the file it gives
    qint64 NewSize = 0;
    qint64 PatchSize = 0;
    QString Name;         // the file the patch rebuilds
    // The patch's file name in the delta folder: NAME.OLDHASH16.zst.
    QString PatchName() const;
};

struct TDeltaIndex {
    qint64 Serial = 0;
    QList<TDeltaEntry> Entries;
    // The patch that rebuilds name with newSha256 from a build whose hash is oldSha256.
    const TDeltaEntry* Find(const QString& name, const QByteArray& oldSha256, const QByteArray& newSha256) const;
    // The hash every patch of name gives, when any patch rebuilds it.
    std::optional<QByteArray> NewHashOf(const QString& name) const;
};

QByteArray FormatDeltaIndex(const TDeltaIndex& index);
// Raises EReleaseError naming the first malformed line.
TDeltaIndex ParseDeltaIndex(const QByteArray& utf8);
// Checks the index's minisign signature with the trusted keys, then parses
// it. Raises EReleaseError.
TDeltaIndex VerifyDeltaIndex(const QByteArray& index, const QByteArray& signature, const QList<TPublicKey>& trusted);
