// The TLS side of the socket layer: explicit FTP over TLS with asio's SSL
// stream over OpenSSL. Every step runs as an asynchronous operation through
// RunLimited, so TLS waits are bounded and abortable like the plain ones.
#include "ftp/idsocket.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace {

// Why a TLS step failed, in OpenSSL's words: the certificate check's verdict
// when there is one ("certificate has expired", "Hostname mismatch"), else
// the error of the step.
QString TlsReason(SSL* ssl, const std::error_code& ec)
{
    const long verdict = ssl ? SSL_get_verify_result(ssl) : X509_V_OK;
    if (verdict != X509_V_OK)
        return QStringLiteral("the server's certificate was refused: %1.")
            .arg(QString::fromLatin1(X509_verify_cert_error_string(verdict)));
    if (ec == asio::error::eof || ec == asio::ssl::error::stream_truncated)
        return QStringLiteral("the server closed the connection during the TLS handshake.");
    return QStringLiteral("the TLS handshake failed: %1.").arg(QString::fromStdString(ec.message()));
}

// The name or address the certificate must carry, and the name sent for
// the server to pick its certificate (host names only).
void SetExpectedHost(SSL* ssl, const QString& host)
{
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    const QByteArray ascii = host.toLatin1();
    if (IsDottedIPv4(host)) {
        if (X509_VERIFY_PARAM_set1_ip_asc(param, ascii.constData()) != 1)
            throw EIdTLSError(QStringLiteral("cannot check the server's address %1.").arg(host));
        return;
    }
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (X509_VERIFY_PARAM_set1_host(param, ascii.constData(), 0) != 1
        || SSL_set_tlsext_host_name(ssl, ascii.constData()) != 1)
        throw EIdTLSError(QStringLiteral("cannot check the server's name %1.").arg(host));
}

} // namespace

TIdTlsContext::TIdTlsContext(const QString& host) : FContext(asio::ssl::context::tls_client), FHost(host)
{
    std::error_code ec;
    SSL_CTX_set_min_proto_version(FContext.native_handle(), TLS1_2_VERSION);
    const QString caFile = qEnvironmentVariable("ZEMBO_FTP_CA");
    if (!caFile.isEmpty()) {
        FContext.load_verify_file(caFile.toStdString(), ec);
        if (ec)
            throw EIdTLSError(QStringLiteral("cannot read the CA file %1 ($ZEMBO_FTP_CA): %2.")
                                  .arg(caFile, QString::fromStdString(ec.message())));
    } else {
        FContext.set_default_verify_paths(ec);
        if (ec)
            throw EIdTLSError(QStringLiteral("cannot read the system's CA store: %1.")
                                  .arg(QString::fromStdString(ec.message())));
    }
    FContext.set_verify_mode(asio::ssl::verify_peer);
}

void TIdSocket::StartTls(TIdTlsContext& tls, const TIdTlsSession& resume, int timeoutMs)
{
    FTls = std::make_unique<TTlsStream>(FSocket, tls.Context());
    SSL* ssl = FTls->native_handle();
    SetExpectedHost(ssl, tls.Host());
    if (resume && SSL_set_session(ssl, resume.get()) != 1)
        throw EIdTLSError(QStringLiteral("cannot reuse the control connection's TLS session."));
    std::error_code ec;
    const bool done = RunLimited(
        FContext, FControl, timeoutMs, ec,
        [&](auto handler) { FTls->async_handshake(asio::ssl::stream_base::client, handler); },
        [&](std::error_code& ignored) { FSocket.cancel(ignored); });
    if (!done)
        throw EIdReadTimeout(QStringLiteral("TLS handshake timed out."));
    if (ec)
        throw EIdTLSError(TlsReason(ssl, ec));
}

TIdTlsSession TIdSocket::TlsSession() const
{
    if (!FTls)
        return nullptr;
    return TIdTlsSession(SSL_get1_session(FTls->native_handle()), SSL_SESSION_free);
}

bool TIdSocket::TlsSessionReused() const { return FTls && SSL_session_reused(FTls->native_handle()) == 1; }

std::size_t TIdSocket::ReceiveTls(char* buffer, std::size_t max, int timeoutMs, const QString& timeoutText)
{
    std::error_code ec;
    std::size_t got = 0;
    const bool done = RunLimited(
        FContext, FControl, timeoutMs, ec,
        [&](auto handler) {
            FTls->async_read_some(asio::buffer(buffer, max), [&got, handler](const std::error_code& e, std::size_t n) {
                got = n;
                handler(e);
            });
        },
        [&](std::error_code& ignored) { FSocket.cancel(ignored); });
    if (!done)
        throw EIdReadTimeout(timeoutText);
    // The server's TLS close ends the stream; a TCP close without it too, and
    // a cut-off file is then caught by its length.
    if (ec == asio::error::eof || ec == asio::ssl::error::stream_truncated)
        return 0;
    if (ec)
        RaiseSocketError(ec);
    return got;
}

std::ptrdiff_t TIdSocket::ReceiveTlsNow(char* buffer, std::size_t max)
{
    std::error_code ec;
    std::size_t got = 0;
    bool done = false;
    FTls->async_read_some(asio::buffer(buffer, max), [&](const std::error_code& e, std::size_t n) {
        done = true;
        ec = e;
        got = n;
    });
    FContext.restart();
    FContext.poll();
    if (!done) {
        std::error_code ignored;
        FSocket.cancel(ignored);
        FContext.restart();
        FContext.run();
    }
    if (ec == asio::error::operation_aborted)
        return -1;
    if (ec == asio::error::eof || ec == asio::ssl::error::stream_truncated)
        return 0;
    if (ec)
        RaiseSocketError(ec);
    return static_cast<std::ptrdiff_t>(got);
}

void TIdSocket::SendTls(const char* data, std::size_t size, int timeoutMs, const QString& timeoutText)
{
    std::error_code ec;
    const bool done = RunLimited(
        FContext, FControl, timeoutMs, ec,
        [&](auto handler) {
            asio::async_write(*FTls, asio::buffer(data, size),
                              [handler](const std::error_code& e, std::size_t) { handler(e); });
        },
        [&](std::error_code& ignored) { FSocket.cancel(ignored); });
    if (!done)
        throw EIdReadTimeout(timeoutText);
    if (ec)
        RaiseSocketError(ec);
}

void TIdSocket::ShutdownTls(int timeoutMs)
{
    if (!FTls || !FSocket.is_open())
        return;
    std::error_code ec;
    try {
        RunLimited(
            FContext, FControl, timeoutMs, ec, [&](auto handler) { FTls->async_shutdown(handler); },
            [&](std::error_code& ignored) { FSocket.cancel(ignored); });
    } catch (const EIdFTPAborted&) {
        // The connection is closed right after either way.
    }
}
