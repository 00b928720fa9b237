// Where a run's release comes from: the FTP folder "keldarin" (the account
// of atualiza.cfg) or a folder on a web server over HTTPS. The run asks the
// same things of either: connect, the release's manifest and signature, the
// plan of what to fetch, each file into place (written aside, resumed, held
// to its size and judged before it replaces the local copy), and goodbye.
#pragma once

#include "platform/errors.h"
#include "update/configuration.h"
#include "update/plan.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

struct TManifest;
class TIdFTP;

// Runs on a fetched file before it replaces the local copy; raises to refuse it.
using TFetchedFileCheck = std::function<void(const QString& fetchedFile)>;

// The connection to the server failed: the message of the window, with the error's text.
class EUpdateConnectError : public Exception {
public:
    using Exception::Exception;
};

// The run stopped on a close request.
class EUpdateCancelled : public Exception {
public:
    EUpdateCancelled() : Exception(QStringLiteral("Atualização interrompida.")) {}
};

// The signed release as the server holds it; an empty field: not published.
struct TReleaseFiles {
    QByteArray Manifest;
    QByteArray Signature;
};

// A file the run is about to fetch, and the size it is held to.
struct TFetchItem {
    QString Name;
    std::int64_t Size = -1;
};

class TReleaseSource {
public:
    virtual ~TReleaseSource() = default;

    // Runs about every 50 ms while the source waits on the network.
    std::function<void()> OnWait;
    // The file being waited for: its transfer began, bytes so far, its end.
    std::function<void()> OnWorkBegin;
    std::function<void(std::int64_t count)> OnWork;
    std::function<void()> OnWorkEnd;

    // A failed connection raises EUpdateConnectError; a setting the source
    // refuses raises before anything goes out.
    virtual void Conecta(const TConfiguracao& settings, const QString& password) = 0;
    // The run may not go on unverified (no trusted key) with this source.
    virtual bool ExigeAssinatura() const = 0;
    // The manifest and its signature; accepted: the manifest this folder
    // accepted last (empty: none), which lets a source skip a transfer when
    // the server still holds it.
    virtual TReleaseFiles LeVersao(const QByteArray& accepted) = 0;
    // The manifest just read was accepted: what the source learned of it may be kept.
    virtual void VersaoAceita() {}
    // The plan: every entry judged against the local files; lines receives
    // what the operator sees of the server's folder (the tree's lines).
    virtual TUpdatePlan Planeja(const TManifest* manifest, QStringList& lines) = 0;
    // The files the run will fetch, in order: a source may start several at once.
    virtual void Antecipa(const QList<TFetchItem>& files) { (void)files; }
    // The size of a file the plan gave none for; -1 when unknown.
    virtual std::int64_t Tamanho(const QString& name) = 0;
    // Fetches the plan's file over its local copy, which survives any
    // failure; a length other than size (when known, >= 0) fails. A cut
    // transfer is kept aside for the next run. check judges the whole file
    // before it replaces the local copy. Then stamps it with the server's time.
    virtual void Baixa(const TPlanItem& item, std::int64_t size, const TFetchedFileCheck& check) = 0;
    // Any file of the server's folder (serverName relative to it, such as
    // "deltas/Foo.dll.zst") into localFile, at most maxBytes; more fails,
    // and a failure leaves no localFile.
    virtual void Fetch(const QString& serverName, const QString& localFile, std::int64_t maxBytes) = 0;
    // Goodbye; errors of a session already lost are ignored.
    virtual void Desconecta() = 0;
    // How the run log names the server (never a password).
    virtual QString Descricao(const TConfiguracao& settings) const = 0;
};

// The FTP folder "keldarin" through the client (which must outlive the source).
std::unique_ptr<TReleaseSource> CriaFonteFtp(TIdFTP& ftp);
// The source atualiza.cfg's first line names: a web address for HTTPS, else FTP.
std::unique_ptr<TReleaseSource> CriaFonte(const TConfiguracao& settings, TIdFTP& ftp, const std::atomic<bool>& stop);
