// The synchronisation run without a window: it connects, lists the server's
// folder, fetches and stamps what the plan says, refuses the unsafe names,
// and replaces the main executable when the plan's rule says so, reporting
// each step through TUpdateObserver. Everything works on the current working
// folder, the installation folder.
#pragma once

#include "platform/errors.h"
#include "update/configuration.h"
#include "update/delta.h"
#include "update/names.h"
#include "update/plan.h"
#include "update/replacement.h"
#include "update/source.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

struct TManifest;
class TIdFTP;

// What the run reports, in the order it happens.
class TUpdateObserver {
public:
    virtual ~TUpdateObserver() = default;
    // Runs about every 50 ms while the run waits (the network, the
    // archiver, a pause), on the run's thread.
    virtual void Waiting() {}
    virtual void Listed(const QStringList& lines) { (void)lines; }
    virtual void Planned(const TUpdatePlan& plan) { (void)plan; }
    virtual void FileStarted(int index, const QString& name) { (void)index, (void)name; }
    virtual void SizeKnown(std::uint32_t bytesToTransfer) { (void)bytesToTransfer; }
    virtual void StateChanged(int index, TNodeState state) { (void)index, (void)state; }
    // A file arrived whole and took the server's time.
    virtual void FileFetched(int index) { (void)index; }
    // A file that could not be fetched or was refused: shown, the run goes on.
    virtual void FileFailed(int index, const QString& message) { (void)index, (void)message; }
    // With a signed release and files to fetch: the delta index was read
    // (problem empty) or why no patch serves this run.
    virtual void DeltasRead(const QString& problem) { (void)problem; }
    // The file was rebuilt from a patch of patchSize bytes instead of
    // fetched whole (fileSize bytes); FileFetched follows.
    virtual void FetchedByDelta(int index, std::int64_t patchSize, std::int64_t fileSize)
    {
        (void)index, (void)patchSize, (void)fileSize;
    }
    // The file's patch failed: the whole file is fetched instead.
    virtual void DeltaFailed(int index, const QString& reason) { (void)index, (void)reason; }
    // The main executable was replaced from its archive.
    virtual void Replaced(const QString& mainExecutable) { (void)mainExecutable; }
    // The replacement could not remove the main executable.
    virtual void ReplacementFailed(const QString& message) { (void)message; }
};

class TUpdateRun {
public:
    // stop: the caller's stop request, which may be set from any thread:
    // whatever the run waits for stops at once (a transfer at its next
    // block), nothing further is fetched or replaced, and a replacement
    // under way puts the previous program back.
    TUpdateRun(TReleaseSource& source, TUpdateObserver& observer, QString progr, const std::atomic<bool>& stop);
    // Over the FTP client alone.
    TUpdateRun(TIdFTP& ftp, TUpdateObserver& observer, QString progr, const std::atomic<bool>& stop);
    ~TUpdateRun();
    TUpdateRun(const TUpdateRun&) = delete;
    TUpdateRun& operator=(const TUpdateRun&) = delete;

    // The source's connection (for FTP: settings, login, binary,
    // "keldarin"). A failed connection raises EUpdateConnectError; other
    // errors pass through.
    void Conecta(const TConfiguracao& settings, const QString& password);
    // From now on every file is held to the signed release's manifest
    // (which must outlive the run): unlisted files are refused, fetched
    // ones and the archive checked before they are used. With keys, the
    // release's delta index is read too, and a file a patch serves is
    // rebuilt from it (the whole file when that fails).
    void UsaManifesto(const TManifest* manifest, const QList<TPublicKey>& keys = {})
    {
        FManifest = manifest;
        FKeys = keys;
    }
    // Lists the server's folder (or reads the manifest) and judges every line against the local files;
    // changes nothing (what a check tool shows).
    const TUpdatePlan& Planeja();
    // Records the replacement as pending when the plan expects it, fetches
    // and stamps what the plan says, refuses the unsafe names, then replaces
    // the main executable when SubstituicaoNecessaria says so.
    void Executa(const QString& mainExecutable);
    // Planeja, then Executa: the window's run.
    void Sincroniza(const QString& mainExecutable);
    // Orderly goodbye (QUIT); errors of a session already lost are ignored.
    void Desconecta();

    bool Cancelado() const { return FStop; }

private:
    void Antecipa();
    void Baixa(int index);
    void LimpaParciais() const;
    // The archive is the one the manifest names, also when an earlier run fetched it.
    bool ArquivoConfere();
    void CheckCancelled() const;
    // The file from its patch; false (the failure reported) when it must be fetched whole.
    bool BaixaDelta(int index);
    // The server's release folder as the deltas reach it.
    TServerFetch Servidor();

    std::unique_ptr<TReleaseSource> FOwnSource; // when made over a client alone
    TReleaseSource& FSource;
    TUpdateObserver& FObserver;
    QString FProgr;
    TUpdatePlan FPlan;
    const TManifest* FManifest = nullptr;
    QList<TPublicKey> FKeys;
    TDeltas FDeltas;
    bool FBuiltExecutable = false; // rebuilt from a patch, waiting for the replacement
    bool FError = false;
    bool FDownloaded = false;
    const std::atomic<bool>& FStop;
};

// The status text at the end of a run.
QString TextoFinal(bool failed, bool scriptFailed);
