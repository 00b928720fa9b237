// The socket layer under the FTP client: blocking TCP/IPv4 connections whose
// waits can be bounded. Internal to the FTP library.
#pragma once

#ifndef ASIO_STANDALONE
#define ASIO_STANDALONE
#endif
#include <asio.hpp>

#include "ftp/idcomponent.h"

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
// single-threaded caller keeps its window alive there), and once *Abort is
// true the wait ends at once with EIdFTPAborted.
struct TIdWaitControl {
    std::function<void()> Idle;
    const bool* Abort = nullptr;
};
constexpr int WaitSliceMs = 50;

// One TCP connection. Waits take milliseconds, 0 meaning no limit; a wait
// that runs out raises EIdReadTimeout with the text given.
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

    asio::ip::address_v4 LocalAddress() const;
    asio::ip::address_v4 RemoteAddress() const;

private:
    friend class TIdListener;
    // False when the wait ran out.
    bool Wait(asio::socket_base::wait_type what, int timeoutMs);

    asio::io_context FContext;
    asio::ip::tcp::socket FSocket;
    const TIdWaitControl* FControl;
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
