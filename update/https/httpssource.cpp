#include "update/https/httpssource.h"

#include "platform/datetime.h"
#include "platform/files.h"
#include "release/release.h"
#include "settings.h"
#include "update/partial.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <curl/curl.h>
#include <deque>
#include <map>

namespace {

constexpr long ConnectTimeoutMs = 30000;
// A server that sends fewer than this many bytes a second for a minute is dropped.
constexpr long LowSpeedBytes = 64;
constexpr long LowSpeedSeconds = 60;
constexpr long MaxRedirects = 5;
// Transfers under way at once, over the one connection where HTTP/2 allows.
constexpr std::size_t MaxParallel = 64;
// A file this large gets its resume record as its first byte arrives; a
// smaller one only when its transfer is cut (starting it over costs little,
// and the record's write to disk would cost each small file more).
constexpr std::int64_t RecordAtStartSize = 1024 * 1024;
constexpr int WaitSliceMs = 50;

// Every call into libcurl goes through here: its status, named, before any clean-up.
void Check(CURLcode code, const char* what)
{
    if (code != CURLE_OK)
        throw Exception(QStringLiteral("libcurl (%1): %2").arg(QLatin1String(what), QString::fromUtf8(curl_easy_strerror(code))));
}

void CheckMulti(CURLMcode code, const char* what)
{
    if (code != CURLM_OK)
        throw Exception(QStringLiteral("libcurl (%1): %2").arg(QLatin1String(what), QString::fromUtf8(curl_multi_strerror(code))));
}

void InitCurl()
{
    static const CURLcode code = curl_global_init(CURL_GLOBAL_DEFAULT);
    Check(code, "curl_global_init");
}

// An address as the log and the operator see it: no user or password.
QString SemSenha(const QString& address)
{
    return QUrl(address).toString(QUrl::RemoveUserInfo);
}

// The proxy libcurl takes from the environment for an https address, without its password.
QString ProxyDoAmbiente()
{
    for (const char* name : {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        if (const QString value = qEnvironmentVariable(name); !value.isEmpty())
            return SemSenha(value);
    return {};
}

QByteArray Sha256Hex(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// What the run remembers of the manifest it accepted: where it came from,
// its validators, its hash and its signature.
struct TState {
    QByteArray Url, ETag, LastModified, ManifestSha256, Signature;
};

TState LeEstado()
{
    TState state;
    if (!FileExists(QLatin1String(HttpsStateName)) || IsLink(QLatin1String(HttpsStateName)))
        return state;
    QByteArray text;
    try {
        text = ReadFileBytes(QLatin1String(HttpsStateName));
    } catch (const EInOutError&) {
        return state; // unreadable: the manifest comes whole
    }
    const std::pair<const char*, QByteArray*> fields[] = {{"url", &state.Url},
                                                          {"etag", &state.ETag},
                                                          {"last-modified", &state.LastModified},
                                                          {"sha256", &state.ManifestSha256},
                                                          {"signature", &state.Signature}};
    for (const QByteArray& line : text.split('\n'))
        for (const auto& [key, value] : fields)
            if (line.startsWith(QByteArray(key) + '='))
                *value = line.mid(qsizetype(qstrlen(key)) + 1);
    state.Signature = QByteArray::fromBase64(state.Signature);
    return state;
}

void GravaEstado(const TState& state)
{
    WriteFileBytes(QLatin1String(HttpsStateName), "url=" + state.Url + "\netag=" + state.ETag + "\nlast-modified=" +
                                                      state.LastModified + "\nsha256=" + state.ManifestSha256 +
                                                      "\nsignature=" + state.Signature.toBase64() + "\n");
}

// One request: its easy handle, where the body goes (memory or a partial
// file), what the last response's headers said, and how it ended.
struct TTransfer {
    TTransfer() = default;
    TTransfer(const TTransfer&) = delete;
    TTransfer& operator=(const TTransfer&) = delete;
    ~TTransfer()
    {
        if (Multi)
            curl_multi_remove_handle(Multi, Easy);
        if (Easy)
            curl_easy_cleanup(Easy);
        curl_slist_free_all(Headers);
    }

    CURL* Easy = nullptr;
    CURLM* Multi = nullptr; // while it is under way
    curl_slist* Headers = nullptr;
    QString Name;              // the server's name of the file, for messages
    std::int64_t Limit = 0;    // the most bytes the whole body may hold
    QByteArray Memory;         // the body, without a file
    std::unique_ptr<QFile> File; // the partial file, when the body goes there
    std::int64_t Offset = 0;   // bytes the partial file held when the transfer began (resumed)
    std::int64_t Received = 0;
    bool Started = false;      // the first byte of the file arrived
    bool TooLong = false;
    QString WriteError;
    QByteArray ETag, LastModified;
    std::int64_t RangeStart = -1; // Content-Range's first byte
    std::function<void(TTransfer&)> OnStart; // the file's first byte: its record is written
    bool SentAuth = false; // the request carried the account
    bool Done = false;
    CURLcode Result = CURLE_OK;
    char Error[CURL_ERROR_SIZE] = {};

    long Status() const
    {
        long code = 0;
        curl_easy_getinfo(Easy, CURLINFO_RESPONSE_CODE, &code);
        return code;
    }
    std::int64_t Total() const { return Offset + Received; }
    // Where the body starts: a 206 continues the partial file at its end, a 200 replaces it.
    bool Begin(long status)
    {
        Started = true;
        if (!File)
            return true;
        if (status != 206 || RangeStart != Offset)
            Offset = 0;
        if (!File->resize(Offset) || !File->seek(Offset)) {
            WriteError = File->errorString();
            return false;
        }
        if (OnStart)
            OnStart(*this);
        return true;
    }
    void Reset()
    {
        Memory.clear();
        Received = 0;
        Started = TooLong = Done = false;
        WriteError.clear();
        Result = CURLE_OK;
        Error[0] = 0;
    }
};

size_t OnHeader(char* data, size_t size, size_t count, void* user)
{
    auto& transfer = *static_cast<TTransfer*>(user);
    const QByteArray line = QByteArray(data, qsizetype(size * count)).trimmed();
    const auto value = [&](const char* name) { return line.mid(qsizetype(qstrlen(name))).trimmed(); };
    if (line.startsWith("HTTP/")) { // a new response (after a redirect or a 401)
        transfer.ETag.clear();
        transfer.LastModified.clear();
        transfer.RangeStart = -1;
    } else if (line.toLower().startsWith("etag:")) {
        transfer.ETag = value("etag:");
    } else if (line.toLower().startsWith("last-modified:")) {
        transfer.LastModified = value("last-modified:");
    } else if (line.toLower().startsWith("content-range:")) {
        const QByteArray range = value("content-range:"); // bytes FIRST-LAST/TOTAL
        if (range.startsWith("bytes "))
            transfer.RangeStart = range.mid(6).split('-').value(0).toLongLong();
    }
    return size * count;
}

size_t OnBody(char* data, size_t size, size_t count, void* user)
{
    auto& transfer = *static_cast<TTransfer*>(user);
    const auto bytes = std::int64_t(size * count);
    const long status = transfer.Status();
    if (status != 200 && status != 206)
        return size_t(bytes); // an error page: not the file
    if (!transfer.Started && !transfer.Begin(status))
        return 0;
    if (transfer.Total() + bytes > transfer.Limit) {
        transfer.TooLong = true;
        return 0;
    }
    if (transfer.File) {
        if (transfer.File->write(data, bytes) != bytes) {
            transfer.WriteError = transfer.File->errorString();
            return 0;
        }
    } else {
        transfer.Memory.append(data, qsizetype(bytes));
    }
    transfer.Received += bytes;
    return size_t(bytes);
}

class THttpsSource : public TReleaseSource {
public:
    explicit THttpsSource(const std::atomic<bool>& stop) : FStop(stop)
    {
        InitCurl();
        FMulti = curl_multi_init();
        if (!FMulti)
            throw Exception(QStringLiteral("libcurl: curl_multi_init falhou"));
        CheckMulti(curl_multi_setopt(FMulti, CURLMOPT_PIPELINING, long(CURLPIPE_MULTIPLEX)), "CURLMOPT_PIPELINING");
        CheckMulti(curl_multi_setopt(FMulti, CURLMOPT_MAX_HOST_CONNECTIONS, 1L), "CURLMOPT_MAX_HOST_CONNECTIONS");
    }
    ~THttpsSource() override
    {
        Desconecta();
        curl_multi_cleanup(FMulti);
    }

    void Conecta(const TConfiguracao& settings, const QString& password) override;
    bool ExigeAssinatura() const override { return true; }
    TReleaseFiles LeVersao(const QByteArray& accepted) override;
    void VersaoAceita() override
    {
        if (FNewState)
            GravaEstado(*FNewState);
        FNewState.reset();
    }
    TUpdatePlan Planeja(const TManifest* manifest, QStringList& lines) override
    {
        if (!manifest)
            throw EReleaseError(QStringLiteral("Atualização pela web sem manifesto assinado."));
        TUpdatePlan plan = PlanejaPeloManifesto(*manifest);
        for (const TPlanItem& item : plan.Items)
            lines << item.Line;
        return plan;
    }
    void Antecipa(const QList<TFetchItem>& files) override
    {
        FQueue.assign(files.begin(), files.end());
    }
    std::int64_t Tamanho(const QString&) override { return -1; }
    void Baixa(const TPlanItem& item, std::int64_t size, const TFetchedFileCheck& check) override;
    void Fetch(const QString& serverName, const QString& localFile, std::int64_t maxBytes) override;
    void Desconecta() override
    {
        // Transfers cut here keep their partial files, recorded for the next run.
        for (const auto& [name, transfer] : FActive) {
            try {
                if (transfer->Started && !transfer->OnStart && !transfer->Done)
                    Registra(*transfer);
            } catch (const std::exception&) {
                // without its record the next run starts the file over
            }
        }
        FActive.clear();
        FQueue.clear();
    }
    QString Descricao(const TConfiguracao& settings) const override
    {
        const QString proxy = ProxyDoAmbiente();
        return SemSenha(settings.Endereco) + QStringLiteral(", HTTPS") +
               (proxy.isEmpty() ? QString() : QStringLiteral(", proxy ") + proxy);
    }

private:
    std::unique_ptr<TTransfer> Novo(const QString& serverName, std::int64_t limit);
    void Inicia(TTransfer& transfer);
    void Espera(TTransfer& transfer, bool progress);
    void Executa(TTransfer& transfer, bool progress = false);
    QString Motivo(const TTransfer& transfer) const;
    [[noreturn]] void SemConexao(const TTransfer& transfer) const;
    std::unique_ptr<TTransfer> ArquivoParcial(const QString& name, std::int64_t size);
    void Registra(const TTransfer& transfer);
    void Completa(std::size_t parallel);
    void Instala(TTransfer& transfer, const QString& destination, std::int64_t size, const TFetchedFileCheck& check);

    const std::atomic<bool>& FStop;
    CURLM* FMulti = nullptr;
    QByteArray FBase; // the folder's address, ending in "/"
    QByteArray FUser, FPassword;
    bool FAuth = false; // the server asked for the account (401): every later request carries it
    std::optional<TState> FNewState;
    std::deque<TFetchItem> FQueue;                          // announced, not started
    std::map<QString, std::unique_ptr<TTransfer>> FActive; // started, not yet installed
};

void THttpsSource::Conecta(const TConfiguracao& settings, const QString& password)
{
    const QUrl url(settings.Endereco, QUrl::StrictMode);
    if (url.scheme().compare(QStringLiteral("https"), Qt::CaseInsensitive) != 0)
        throw Exception(QStringLiteral("O endereço ") + SemSenha(settings.Endereco) +
                        QStringLiteral(" do atualiza.cfg não usa https: a atualização pela web só é feita com TLS "
                                       "(https://), nunca em texto aberto."));
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment())
        throw Exception(QStringLiteral("O endereço ") + SemSenha(settings.Endereco) +
                        QStringLiteral(" do atualiza.cfg não é um endereço https://SERVIDOR[:PORTA]/PASTA/ válido."));
    FBase = url.toEncoded();
    if (!FBase.endsWith('/'))
        FBase += '/';
    FUser = QByteArray(Settings::FtpUser);
    FPassword = password.toUtf8();
    FAuth = false;
}

std::unique_ptr<TTransfer> THttpsSource::Novo(const QString& serverName, std::int64_t limit)
{
    auto transfer = std::make_unique<TTransfer>();
    transfer->Name = serverName;
    transfer->Limit = limit;
    transfer->Easy = curl_easy_init();
    if (!transfer->Easy)
        throw Exception(QStringLiteral("libcurl: curl_easy_init falhou"));
    CURL* easy = transfer->Easy;
    const QByteArray address = FBase + QUrl::toPercentEncoding(serverName, "/");
    Check(curl_easy_setopt(easy, CURLOPT_URL, address.constData()), "CURLOPT_URL");
    Check(curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https"), "CURLOPT_PROTOCOLS_STR");
    Check(curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "https"), "CURLOPT_REDIR_PROTOCOLS_STR");
    Check(curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L), "CURLOPT_FOLLOWLOCATION");
    Check(curl_easy_setopt(easy, CURLOPT_MAXREDIRS, MaxRedirects), "CURLOPT_MAXREDIRS");
    Check(curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, ConnectTimeoutMs), "CURLOPT_CONNECTTIMEOUT_MS");
    Check(curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, LowSpeedBytes), "CURLOPT_LOW_SPEED_LIMIT");
    Check(curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, LowSpeedSeconds), "CURLOPT_LOW_SPEED_TIME");
    Check(curl_easy_setopt(easy, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2)), "CURLOPT_SSLVERSION");
    Check(curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L), "CURLOPT_SSL_VERIFYPEER");
    Check(curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L), "CURLOPT_SSL_VERIFYHOST");
    Check(curl_easy_setopt(easy, CURLOPT_PROXY_SSL_VERIFYPEER, 1L), "CURLOPT_PROXY_SSL_VERIFYPEER");
    Check(curl_easy_setopt(easy, CURLOPT_PROXY_SSL_VERIFYHOST, 2L), "CURLOPT_PROXY_SSL_VERIFYHOST");
    if (const QByteArray ca = qgetenv("ZEMBO_FTP_CA"); !ca.isEmpty()) { // that file alone
        Check(curl_easy_setopt(easy, CURLOPT_CAINFO, ca.constData()), "CURLOPT_CAINFO");
        Check(curl_easy_setopt(easy, CURLOPT_CAPATH, static_cast<char*>(nullptr)), "CURLOPT_CAPATH");
    }
    Check(curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_2TLS)), "CURLOPT_HTTP_VERSION");
    Check(curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L), "CURLOPT_PIPEWAIT");
    Check(curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L), "CURLOPT_NOSIGNAL");
    Check(curl_easy_setopt(easy, CURLOPT_FILETIME, 1L), "CURLOPT_FILETIME");
    Check(curl_easy_setopt(easy, CURLOPT_USERAGENT, "ZemboUpdate"), "CURLOPT_USERAGENT");
    Check(curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer->Error), "CURLOPT_ERRORBUFFER");
    Check(curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader), "CURLOPT_HEADERFUNCTION");
    Check(curl_easy_setopt(easy, CURLOPT_HEADERDATA, transfer.get()), "CURLOPT_HEADERDATA");
    Check(curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody), "CURLOPT_WRITEFUNCTION");
    Check(curl_easy_setopt(easy, CURLOPT_WRITEDATA, transfer.get()), "CURLOPT_WRITEDATA");
    Check(curl_easy_setopt(easy, CURLOPT_PRIVATE, transfer.get()), "CURLOPT_PRIVATE");
    return transfer;
}

// Into the multi handle, with the account once the server asked for it
// (Basic, over TLS only, never to another host after a redirect).
void THttpsSource::Inicia(TTransfer& transfer)
{
    transfer.SentAuth = FAuth;
    if (FAuth) {
        Check(curl_easy_setopt(transfer.Easy, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC)), "CURLOPT_HTTPAUTH");
        Check(curl_easy_setopt(transfer.Easy, CURLOPT_USERNAME, FUser.constData()), "CURLOPT_USERNAME");
        Check(curl_easy_setopt(transfer.Easy, CURLOPT_PASSWORD, FPassword.constData()), "CURLOPT_PASSWORD");
    }
    Check(curl_easy_setopt(transfer.Easy, CURLOPT_HTTPHEADER, transfer.Headers), "CURLOPT_HTTPHEADER");
    CheckMulti(curl_multi_add_handle(FMulti, transfer.Easy), "curl_multi_add_handle");
    transfer.Multi = FMulti;
}

// Drives every transfer under way until this one ended, in slices of 50 ms
// that hear the stop request and keep the caller's window answering.
void THttpsSource::Espera(TTransfer& transfer, bool progress)
{
    while (!transfer.Done) {
        int running = 0;
        CheckMulti(curl_multi_perform(FMulti, &running), "curl_multi_perform");
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(FMulti, &left)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            TTransfer* done = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &done);
            done->Done = true;
            done->Result = message->data.result;
            done->Multi = nullptr;
            curl_multi_remove_handle(FMulti, message->easy_handle);
        }
        if (transfer.Done)
            break;
        if (FStop)
            throw EUpdateCancelled();
        if (OnWait)
            OnWait();
        if (progress && OnWork)
            OnWork(transfer.Total());
        CheckMulti(curl_multi_poll(FMulti, nullptr, 0, WaitSliceMs, nullptr), "curl_multi_poll");
    }
}

// One request to its end; a 401 to a request without the account asks
// again once, with it.
void THttpsSource::Executa(TTransfer& transfer, bool progress)
{
    Espera(transfer, progress);
    if (transfer.Result == CURLE_OK && transfer.Status() == 401 && !transfer.SentAuth && !FUser.isEmpty()) {
        FAuth = true;
        transfer.Reset();
        Inicia(transfer);
        Espera(transfer, progress);
    }
}

// Why the request failed, in the operator's words, the proxy named.
QString THttpsSource::Motivo(const TTransfer& transfer) const
{
    long proxyStatus = 0;
    curl_easy_getinfo(transfer.Easy, CURLINFO_HTTP_CONNECTCODE, &proxyStatus);
    const QString proxy = ProxyDoAmbiente();
    if (proxyStatus >= 300)
        return QStringLiteral("o proxy %1 recusou a conexão (HTTP %2)").arg(proxy).arg(proxyStatus);
    QString text = transfer.Error[0] ? QString::fromUtf8(transfer.Error) : QString::fromUtf8(curl_easy_strerror(transfer.Result));
    if (!proxy.isEmpty())
        text += QStringLiteral(" (pelo proxy ") + proxy + u')';
    return text;
}

void THttpsSource::SemConexao(const TTransfer& transfer) const
{
    const QString why = transfer.Result != CURLE_OK ? Motivo(transfer)
                                                    : QStringLiteral("o servidor respondeu HTTP %1 a %2")
                                                          .arg(transfer.Status())
                                                          .arg(transfer.Name);
    throw EUpdateConnectError(QStringLiteral("Não foi possível estabelecer conexão https com ") +
                              SemSenha(QString::fromUtf8(FBase)) + QStringLiteral(".\r\rTENTE MAIS TARDE.\r") + why);
}

// The manifest asked for "changed since?" when the folder's state belongs
// to the manifest accepted here: 304 gives back that manifest and its
// signature, which the session verifies again, with no further request.
TReleaseFiles THttpsSource::LeVersao(const QByteArray& accepted)
{
    const TState state = LeEstado();
    const bool conditional = !accepted.isEmpty() && state.Url == FBase && state.ManifestSha256 == Sha256Hex(accepted) &&
                             !state.Signature.isEmpty() && !(state.ETag.isEmpty() && state.LastModified.isEmpty());
    auto manifest = Novo(QLatin1String(ReleaseManifestName), MaxReleaseFileSize);
    if (conditional && !state.ETag.isEmpty())
        manifest->Headers = curl_slist_append(manifest->Headers, ("If-None-Match: " + state.ETag).constData());
    if (conditional && !state.LastModified.isEmpty())
        manifest->Headers = curl_slist_append(manifest->Headers, ("If-Modified-Since: " + state.LastModified).constData());
    Inicia(*manifest);
    // Without validators a new manifest is likely: its signature goes alongside.
    std::unique_ptr<TTransfer> signature;
    if (!conditional) {
        signature = Novo(QLatin1String(ReleaseSignatureName), MaxReleaseFileSize);
        Inicia(*signature);
    }
    Executa(*manifest);
    if (manifest->Result != CURLE_OK && !manifest->TooLong)
        SemConexao(*manifest);
    const long status = manifest->Status();
    if (status == 304 && conditional)
        return {accepted, state.Signature};
    if (status == 404)
        return {};
    if (status != 200)
        SemConexao(*manifest);
    if (manifest->TooLong)
        throw EReleaseError(QStringLiteral("O manifesto da versão tem mais de %1 bytes.").arg(MaxReleaseFileSize));
    TReleaseFiles files{manifest->Memory, {}};
    if (!signature) {
        signature = Novo(QLatin1String(ReleaseSignatureName), MaxReleaseFileSize);
        Inicia(*signature);
    }
    Executa(*signature);
    if (signature->Result != CURLE_OK && !signature->TooLong)
        SemConexao(*signature);
    if (signature->Status() == 200 && !signature->TooLong)
        files.Signature = signature->Memory;
    FNewState = TState{FBase, manifest->ETag, manifest->LastModified, Sha256Hex(files.Manifest), files.Signature};
    return files;
}

// The transfer of a file into its partial file, resumed with Range and
// If-Range when an earlier run's record names the same address, size and a
// validator of the entity it began: a file that changed meanwhile comes whole.
std::unique_ptr<TTransfer> THttpsSource::ArquivoParcial(const QString& name, std::int64_t size)
{
    auto transfer = Novo(name, size);
    TPartialDownload partial(name);
    const QString url = QString::fromUtf8(FBase) + name;
    const QFileInfo info(partial.PartialFile());
    const bool resumable = partial.Load() && partial.Record().Size == size && partial.Record().Line == url &&
                           !partial.Record().Stamp.isEmpty() && info.isFile() && !info.isSymLink() &&
                           info.size() > 0 && info.size() < size;
    if (!resumable)
        partial.Discard();
    transfer->File = std::make_unique<QFile>();
    if (const QString why = OpenNoFollow(*transfer->File, partial.PartialFile(), QIODevice::ReadWrite); !why.isEmpty())
        throw EInOutError(QStringLiteral("Não foi possível gravar ") + partial.PartialFile() + QStringLiteral(": ") + why);
    if (resumable) {
        transfer->Offset = info.size();
        const QByteArray range = QByteArray::number(qlonglong(transfer->Offset)) + '-';
        Check(curl_easy_setopt(transfer->Easy, CURLOPT_RANGE, range.constData()), "CURLOPT_RANGE");
        transfer->Headers = curl_slist_append(transfer->Headers, ("If-Range: " + partial.Record().Stamp.toUtf8()).constData());
    }
    if (size >= RecordAtStartSize)
        transfer->OnStart = [this](TTransfer& t) { Registra(t); };
    return transfer;
}

// What the next run needs to resume the file: its address, size and the
// validator of the entity it began (a weak ETag cannot tie a range to its
// entity; the date can).
void THttpsSource::Registra(const TTransfer& transfer)
{
    const QByteArray stamp =
        !transfer.ETag.isEmpty() && !transfer.ETag.startsWith("W/") ? transfer.ETag : transfer.LastModified;
    TPartialDownload(transfer.Name).Save({TDateTime(), transfer.Limit, QString::fromUtf8(FBase) + transfer.Name,
                                          QString::fromUtf8(stamp)});
}

// Starts the announced files until `parallel` are under way.
void THttpsSource::Completa(std::size_t parallel)
{
    while (FActive.size() < parallel && !FQueue.empty()) {
        const TFetchItem next = FQueue.front();
        FQueue.pop_front();
        if (FActive.count(next.Name) || next.Size < 0)
            continue;
        auto transfer = ArquivoParcial(next.Name, next.Size);
        Inicia(*transfer);
        FActive.emplace(next.Name, std::move(transfer));
    }
}

void THttpsSource::Baixa(const TPlanItem& item, std::int64_t size, const TFetchedFileCheck& check)
{
    if (size < 0)
        throw Exception(QStringLiteral("O manifesto não informa o tamanho de ") + item.Name + u'.');
    auto found = FActive.find(item.Name);
    if (found != FActive.end() && found->second->Limit != size) {
        FActive.erase(found);
        found = FActive.end();
    }
    if (found == FActive.end()) {
        auto transfer = ArquivoParcial(item.Name, size);
        Inicia(*transfer);
        found = FActive.emplace(item.Name, std::move(transfer)).first;
    }
    Completa(MaxParallel);
    std::unique_ptr<TTransfer> transfer = std::move(found->second);
    FActive.erase(found);
    if (OnWorkBegin)
        OnWorkBegin();
    Executa(*transfer, true);
    if (OnWork)
        OnWork(transfer->Total());
    if (OnWorkEnd)
        OnWorkEnd();
    Instala(*transfer, item.Name, size, check);
}

// A whole file, checked, renamed into place and given the server's time;
// else the reason. A transfer the line cut keeps its partial file for the
// next run; anything the server got wrong, or the disk, keeps nothing.
void THttpsSource::Instala(TTransfer& transfer, const QString& destination, std::int64_t size, const TFetchedFileCheck& check)
{
    TPartialDownload partial(destination);
    transfer.File->close();
    const long status = transfer.Status();
    const auto refuse = [&](const QString& why) {
        partial.Discard();
        throw Exception(QStringLiteral("Arquivo ") + destination + QStringLiteral(" não baixado: ") + why + u'.');
    };
    if (transfer.TooLong)
        refuse(QStringLiteral("o servidor enviou mais de %1 bytes, o tamanho do manifesto").arg(size));
    if (!transfer.WriteError.isEmpty())
        refuse((DiskFull(partial.PartialFile()) ? QStringLiteral("disco cheio, ") : QString()) + partial.PartialFile() +
               QStringLiteral(": ") + transfer.WriteError);
    if (transfer.Result != CURLE_OK) {
        if (!transfer.Started)
            partial.Discard();
        else if (!transfer.OnStart)
            Registra(transfer);
        throw Exception(QStringLiteral("Arquivo ") + destination + QStringLiteral(" não baixado: ") + Motivo(transfer) + u'.');
    }
    if (status != 200 && status != 206)
        refuse(QStringLiteral("o servidor respondeu HTTP %1").arg(status));
    if (transfer.Total() != size)
        refuse(QStringLiteral("recebidos %1 bytes, o manifesto diz %2").arg(transfer.Total()).arg(size));
    if (check) {
        try {
            check(partial.PartialFile());
        } catch (...) {
            partial.Discard();
            throw;
        }
    }
    if (const QString why = ReplaceFile(partial.PartialFile(), destination); !why.isEmpty())
        refuse(why);
    QFile::remove(partial.RecordFile());
    curl_off_t time = -1;
    curl_easy_getinfo(transfer.Easy, CURLINFO_FILETIME_T, &time);
    if (time >= 0) // the server's Last-Modified, so that an FTP run judges the file up to date
        FileSetDate(destination, TDateTime::FromQDateTime(QDateTime::fromSecsSinceEpoch(time)));
}

void THttpsSource::Fetch(const QString& serverName, const QString& localFile, std::int64_t maxBytes)
{
    auto transfer = Novo(serverName, maxBytes);
    Inicia(*transfer);
    Executa(*transfer);
    if (transfer->Result != CURLE_OK && !transfer->TooLong)
        throw Exception(serverName + QStringLiteral(": ") + Motivo(*transfer));
    if (transfer->TooLong)
        throw Exception(serverName + QStringLiteral(": mais de %1 bytes").arg(maxBytes));
    if (transfer->Status() != 200)
        throw Exception(serverName + QStringLiteral(": o servidor respondeu HTTP %1").arg(transfer->Status()));
    WriteFileBytes(localFile, transfer->Memory);
}

} // namespace

std::unique_ptr<TReleaseSource> CriaFonteHttps(const std::atomic<bool>& stop)
{
    return std::make_unique<THttpsSource>(stop);
}
