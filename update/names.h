// The names of the installation's files and of the server's folder, as
// the update reads and writes them in the installation folder.
#pragma once

#include <QString>

inline const QString MainExecutable = QStringLiteral("Quendarive.exe");
inline const QString MainBackup = QStringLiteral("Quendarive.old");
inline const QString MainArchive = QStringLiteral("Quendarive.rar");
inline const QString SettingsFile = QStringLiteral("Tolvenra.INI");
inline const QString ConnectionFile = QStringLiteral("atualiza.cfg");
inline const QString ServerFolder = QStringLiteral("keldarin");
inline const QString DllsEntry = QStringLiteral("Arquivos_dlls");
// Where the archiver unpacks before the new program is moved into place: in
// the installation folder, so the move is a rename on one file system.
inline const QString StagingFolder = QStringLiteral("zembo-extracao.tmp");
// Written before a run begins what ends in the replacement of the main
// executable, removed once the new program is in place: a run killed in
// between leaves it, and the next run replaces even with nothing to fetch.
inline const QString PendingReplacementFile = QStringLiteral("zembo-substituicao.pendente");
constexpr int ArchiverTimeoutMs = 120000;
// The database backups taken before an upgrade, in the installation folder.
inline const QString BackupFolder = QStringLiteral("backup");
