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
    const TManifestEntry* Find(const QString& name) const;
};

// Every regular file of the folder (not recursing, the manifest and its
// signature left out), dated today. Raises EReleaseError for a name the
// manifest cannot hold, EInOutError for an unreadable file.
TManifest MakeManifest(const QString& folder, qint64 serial);
QByteArray FormatManifest(const TManifest& manifest);
// Raises EReleaseError naming the first malformed line.
TManifest ParseManifest(const QByteArray& utf8);

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
// the file $ZEMBO_RELEASE_KEYS, else /etc/zemboupdate/release-keys.pub (a
// missing file adds none). Raises EReleaseError for a key file anyone but
// root may write, or an unreadable key.
QList<TPublicKey> TrustedKeys(const QByteArray& compiledIn);

struct TSignedRelease {
    TManifest Manifest;
    QString KeyId;          // as minisign prints it: upper-case hex, no leading zeros
    QString TrustedComment;
};
// Checks the minisign signature (legacy or prehashed) and its trusted comment
// with the trusted keys, then parses the manifest. Raises EReleaseError.
TSignedRelease VerifyRelease(const QByteArray& manifest, const QByteArray& signature,
                             const QList<TPublicKey>& trusted);

// The release last accepted in the installation folder, if any; raises
// EReleaseError when its record is unreadable.
std::optional<TManifest> LastAcceptedManifest(const QString& folder);
qint64 LastAcceptedSerial(const QString& folder); // 0 when none
// Raises EReleaseError when the manifest is older than the last accepted one.
void CheckNotOlder(const QString& folder, const TManifest& manifest);
// Records the manifest (its exact bytes) as the last accepted, after the same
// check; written aside and renamed.
void AcceptRelease(const QString& folder, const QByteArray& manifest);
