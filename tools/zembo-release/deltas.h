// The maker's delta index: patches from the files of earlier release folders
// (and from earlier main executables) to the release's, and their check.
#pragma once

#include "release/release.h"

#include <QString>
#include <QStringList>

struct TDeltaSources {
    QStringList OldFolders;     // earlier release folders
    QString Executable;         // the new main executable, the one inside the archive
    QStringList OldExecutables; // earlier builds of it
    bool Any() const { return !OldFolders.isEmpty() || !Executable.isEmpty(); }
};

// A file the release needs, bounded as the updater bounds it; empty when missing.
QByteArray ReadReleaseFile(const QString& path);

// Writes FOLDER/deltas afresh: a patch per changed file of the manifest
// from its namesake in each old folder, and per old executable to the new
// one, each kept only when under 60 % of the file, then the index of the
// manifest's serial. Prints a line per patch. Raises Exception.
TDeltaIndex MakeDeltas(const QString& folder, const TManifest& manifest, const TDeltaSources& sources);

// The folder's signed delta index against the manifest, and every patch
// whose old build is among sources applied to it: a line per difference
// ("delta ausente", "delta tamanho", "delta manifesto", "delta sha256", a
// tab, the patch's name). Nothing when the folder has no index. Raises
// EReleaseError for an index that is unsigned, badly signed or of another
// serial.
QStringList VerifyDeltas(const QString& folder, const TManifest& manifest, const QList<TPublicKey>& keys,
                         const TDeltaSources& sources);
