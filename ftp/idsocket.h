// The socket layer under the FTP client: blocking TCP/IPv4 connections whose
// waits can be bounded. Internal to the FTP library.
#pragma once

#ifndef ASIO_STANDALONE
#define ASIO_STANDALONE
#endif
#include <asio.hpp>
#include <asio/ssl.hpp>

#include "ftp/idcomponent.h"
#include "ftp/iderrors.h"

#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <system_error>

[[noreturn]] void RaiseSocketError(const std::error_code& error);

// Dotted IPv4 text as is; a name is resolved to its first IPv4 address
// (international names in their ASCII form).
bool IsDottedIPv4(const QString& host);
asio::ip::address_v4 ResolveHost(const QString& host);

// The end of a wait given in milliseconds from now, 0 meaning no limit.
class TDeadline {
public:
    explicit TDeadline(int timeoutMs);
    // Milliseconds left (0: no limit), -1 once the wait has run out.
    int Remaining() const;

private:
    std::chrono::steady_clock::time_point FEnd;
};

// What a socket does while it waits: Idle runs about every WaitSliceMs (a
// single-threaded caller keeps its window alive there), and once Aborted
// answers true the wait ends at once with EIdFTPAborted.
struct TIdWaitControl {
    std::function<void()> Idle;
    std::function<bool()> Aborted;
};
constexpr int WaitSliceMs = 50;

// Starts an asynchronous operation on the context and runs it until it ends
// or the wait (milliseconds, 0 no limit) runs out, when `cancel` stops it
// (its own error ignored). The wait goes in slices, between which the
// control's Idle runs and its abort is looked at: an abort cancels the
// operation and raises EIdFTPAborted. False when the wait ran out; `ec`
// holds the operation's result otherwise.
template <class TStart, class TCancel>
inline bool RunLimited(asio::io_context& context, const TIdWaitControl* control, int timeoutMs, std::error_code& ec,
                TStart start, TCancel cancel)
{
    bool done = false;
    start([&](const std::error_code& e) {
        done = true;
        ec = e;
    });
    const TDeadline deadline(timeoutMs);
    bool aborted = false;
    context.restart();
    for (;;) {
        const int left = deadline.Remaining();
        if (left < 0)
            break;
        context.run_for(std::chrono::milliseconds(left == 0 ? WaitSliceMs : std::min(left, WaitSliceMs)));
        if (done)
            return true;
        if (control && control->Idle)
            control->Idle();
        if (control && control->Aborted && control->Aborted()) {
            aborted = true;
            break;
        }
        context.restart();
    }
    std::error_code ignored;
    cancel(ignored);
    // Let the cancelled operation's handler run before its state goes.
    context.restart();
    context.run();
    if (aborted)
        throw EIdFTPAborted();
    return false;
}

// The TLS side of one FTP session: the trust store (the CA file named by
// $ZEMBO_FTP_CA, else the system's) and the server's name or address that
// its certificate must carry. Raises EIdTLSError when the CA file cannot be read.
class TIdTlsContext {
public:
    explicit TIdTlsContext(const QString& host);
    asio::ssl::context& Context() { return FContext; }
    const QString& Host() const { return FHost; }

private:
    asio::ssl::context FContext;
    QString FHost;
};

// A TLS session that a data connection resumes (the control connection's).
using TIdTlsSession = std::shared_ptr<SSL_SESSION>;

// One TCP connection, plain or, after StartTls, encrypted. Waits take
// milliseconds, 0 meaning no limit; a wait that runs out raises
// EIdReadTimeout with the text given.
class TIdSocket : public TIdBaseComponent {
public:
    explicit TIdSocket(const TIdWaitControl* control = nullptr);
    ~TIdSocket() override;

    // Raises EIdSocketError, or EIdConnectTimeout when the wait runs out.
    void Connect(const asio::ip::address_v4& address, std::uint16_t port, int timeoutMs);

    // Bytes received (at most max), 0 when the peer has closed.
    std::size_t Receive(char* buffer, std::size_t max, int timeoutMs, const QString& timeoutText);
    // Without waiting: the bytes that have arrived, 0 when the peer has
    // closed, -1 when nothing is there.
    std::ptrdiff_t ReceiveNow(char* buffer, std::size_t max);
    void Send(const char* data, std::size_t size, int timeoutMs, const QString& timeoutText);
    // True when data or the peer's close is there within the wait.
    bool WaitReadable(int timeoutMs);

    bool IsOpen() const { return FSocket.is_open(); }
    void Close();

    // The TLS handshake as client over the open connection, resuming
    // `resume` when given; the server's certificate is verified against the
    // context's trust store and host. Fails with EIdTLSError naming the
    // reason, EIdReadTimeout ("TLS handshake timed out.") or EIdFTPAborted.
    void StartTls(TIdTlsContext& tls, const TIdTlsSession& resume, int timeoutMs);
    bool IsTls() const { return FTls != nullptr; }
    // The session in force now (with the tickets received so far).
    TIdTlsSession TlsSession() const;
    bool TlsSessionReused() const;
    // Sends the TLS close and awaits the server's within the wait at most;
    // failures are ignored, the connection is closed afterwards in any case.
    void ShutdownTls(int timeoutMs);

    asio::ip::address_v4 LocalAddress() const;
    asio::ip::address_v4 RemoteAddress() const;

private:
    friend class TIdListener;
    // False when the wait ran out.
    bool Wait(asio::socket_base::wait_type what, int timeoutMs);
    std::size_t ReceiveTls(char* buffer, std::size_t max, int timeoutMs, const QString& timeoutText);
    std::ptrdiff_t ReceiveTlsNow(char* buffer, std::size_t max);
    void SendTls(const char* data, std::size_t size, int timeoutMs, const QString& timeoutText);

    using TTlsStream = asio::ssl::stream<asio::ip::tcp::socket&>;
    asio::io_context FContext;
    asio::ip::tcp::socket FSocket;
    const TIdWaitControl* FControl;
    std::unique_ptr<TTlsStream> FTls;
};

// A listening socket for one incoming connection (active mode).
class TIdListener {
public:
    TIdListener(const asio::ip::address_v4& address, std::uint16_t port, const TIdWaitControl* control = nullptr);
    ~TIdListener();
    asio::ip::address_v4 LocalAddress() const;
    std::uint16_t LocalPort() const;
    // Nothing when no connection arrived within the wait.
    std::unique_ptr<TIdSocket> Accept(int timeoutMs);

private:
    asio::io_context FContext;
    asio::ip::tcp::acceptor FAcceptor;
    const TIdWaitControl* FControl;
};
