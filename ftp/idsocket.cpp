#include "ftp/idsocket.h"

#include "ftp/iderrors.h"

#include <QUrl>
#include <chrono>

namespace {

struct TSocketErrorText {
    int Number;
    const char* Text;
};

// Operators read socket errors with the numbers and words of Windows sockets.
TSocketErrorText WindowsSocketError(const std::error_code& e)
{
    namespace err = asio::error;
    if (e == err::connection_refused) return {10061, "Connection refused."};
    if (e == err::timed_out) return {10060, "Connection timed out."};
    if (e == err::connection_reset) return {10054, "Connection reset by peer."};
    if (e == err::connection_aborted) return {10053, "Software caused connection abort."};
    if (e == err::host_unreachable) return {10065, "No route to host."};
    if (e == err::network_unreachable) return {10051, "Network is unreachable."};
    if (e == err::network_down) return {10050, "Network is down."};
    if (e == err::address_in_use) return {10048, "Address already in use."};
    if (e == err::not_connected) return {10057, "Socket is not connected."};
    if (e == err::broken_pipe || e == err::shut_down) return {10058, "Cannot send after socket shutdown."};
    if (e == err::host_not_found) return {11001, "Host not found."};
    if (e == err::host_not_found_try_again) return {11002, "Non-authoritative host not found."};
    if (e == err::no_data) return {11004, "Valid name, no data record of requested type."};
    if (e == err::no_recovery) return {11003, "This is a non-recoverable error."};
    return {e.value(), nullptr};
}

} // namespace

EIdSocketError::EIdSocketError(int lastError, const QString& text)
    : EIdException(QStringLiteral("Socket Error # %1\r\n%2").arg(lastError).arg(text)), FLastError(lastError)
{
}

void RaiseSocketError(const std::error_code& error)
{
    const TSocketErrorText known = WindowsSocketError(error);
    throw EIdSocketError(known.Number, known.Text ? QString::fromLatin1(known.Text)
                                                  : QString::fromStdString(error.message()));
}

bool IsDottedIPv4(const QString& host)
{
    const QStringList parts = host.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString& p : parts) {
        bool ok = false;
        const int v = p.toInt(&ok);
        if (!ok || p.isEmpty() || p.size() > 3 || v < 0 || v > 255 || !p.at(0).isDigit())
            return false;
    }
    return true;
}

asio::ip::address_v4 ResolveHost(const QString& host)
{
    if (IsDottedIPv4(host))
        return asio::ip::make_address_v4(host.toStdString());
    const QByteArray ascii = QUrl::toAce(host);
    asio::io_context context;
    asio::ip::tcp::resolver resolver(context);
    std::error_code ec;
    const auto results = resolver.resolve(asio::ip::tcp::v4(), ascii.isEmpty() ? host.toStdString() : ascii.toStdString(),
                                          std::string(), ec);
    if (ec)
        RaiseSocketError(ec);
    for (const auto& entry : results)
        if (entry.endpoint().address().is_v4())
            return entry.endpoint().address().to_v4();
    RaiseSocketError(asio::error::host_not_found);
}

TDeadline::TDeadline(int timeoutMs)
    : FEnd(timeoutMs > 0 ? std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs)
                         : std::chrono::steady_clock::time_point::max())
{
}

int TDeadline::Remaining() const
{
    if (FEnd == std::chrono::steady_clock::time_point::max())
        return 0;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(FEnd - std::chrono::steady_clock::now()).count();
    return left > 0 ? int(left) : -1;
}

TIdSocket::TIdSocket(const TIdWaitControl* control) : FSocket(FContext), FControl(control) {}

TIdSocket::~TIdSocket() { Close(); }

bool TIdSocket::Wait(asio::socket_base::wait_type what, int timeoutMs)
{
    // The socket is in non-blocking mode, where a synchronous wait returns
    // at once: wait through the context instead.
    std::error_code ec;
    const bool done = RunLimited(
        FContext, FControl, timeoutMs, ec, [&](auto handler) { FSocket.async_wait(what, handler); },
        [&](std::error_code& ignored) { FSocket.cancel(ignored); });
    if (!done)
        return false;
    if (ec)
        RaiseSocketError(ec);
    return true;
}

void TIdSocket::Connect(const asio::ip::address_v4& address, std::uint16_t port, int timeoutMs)
{
    const asio::ip::tcp::endpoint peer(address, port);
    std::error_code ec;
    const bool done = RunLimited(
        FContext, FControl, timeoutMs, ec, [&](auto handler) { FSocket.async_connect(peer, handler); },
        [&](std::error_code& ignored) { FSocket.close(ignored); });
    if (!done)
        throw EIdConnectTimeout();
    if (ec) {
        std::error_code ignored;
        FSocket.close(ignored);
        RaiseSocketError(ec);
    }
    FSocket.non_blocking(true, ec);
    FSocket.set_option(asio::ip::tcp::no_delay(true), ec);
}

std::size_t TIdSocket::Receive(char* buffer, std::size_t max, int timeoutMs, const QString& timeoutText)
{
    if (FTls)
        return ReceiveTls(buffer, max, timeoutMs, timeoutText);
    for (;;) {
        std::error_code ec;
        const std::size_t n = FSocket.read_some(asio::buffer(buffer, max), ec);
        if (!ec)
            return n;
        if (ec == asio::error::eof)
            return 0;
        if (ec != asio::error::would_block && ec != asio::error::try_again && ec != asio::error::interrupted)
            RaiseSocketError(ec);
        if (!Wait(asio::socket_base::wait_read, timeoutMs))
            throw EIdReadTimeout(timeoutText);
    }
}

bool TIdSocket::WaitReadable(int timeoutMs)
{
    return Wait(asio::socket_base::wait_read, timeoutMs);
}

std::ptrdiff_t TIdSocket::ReceiveNow(char* buffer, std::size_t max)
{
    if (FTls)
        return ReceiveTlsNow(buffer, max);
    std::error_code ec;
    const std::size_t n = FSocket.read_some(asio::buffer(buffer, max), ec);
    if (!ec)
        return static_cast<std::ptrdiff_t>(n);
    if (ec == asio::error::eof)
        return 0;
    if (ec == asio::error::would_block || ec == asio::error::try_again || ec == asio::error::interrupted)
        return -1;
    RaiseSocketError(ec);
}

void TIdSocket::Send(const char* data, std::size_t size, int timeoutMs, const QString& timeoutText)
{
    if (FTls)
        return SendTls(data, size, timeoutMs, timeoutText);
    while (size > 0) {
        std::error_code ec;
        const std::size_t n = FSocket.write_some(asio::buffer(data, size), ec);
        if (!ec) {
            data += n;
            size -= n;
            continue;
        }
        if (ec != asio::error::would_block && ec != asio::error::try_again && ec != asio::error::interrupted)
            RaiseSocketError(ec);
        if (!Wait(asio::socket_base::wait_write, timeoutMs))
            throw EIdReadTimeout(timeoutText);
    }
}

void TIdSocket::Close()
{
    std::error_code ec;
    if (FSocket.is_open()) {
        FSocket.shutdown(asio::socket_base::shutdown_both, ec);
        FSocket.close(ec);
    }
    FTls.reset();
}

asio::ip::address_v4 TIdSocket::LocalAddress() const
{
    std::error_code ec;
    const auto ep = FSocket.local_endpoint(ec);
    return ec ? asio::ip::address_v4() : ep.address().to_v4();
}

asio::ip::address_v4 TIdSocket::RemoteAddress() const
{
    std::error_code ec;
    const auto ep = FSocket.remote_endpoint(ec);
    return ec ? asio::ip::address_v4() : ep.address().to_v4();
}

TIdListener::TIdListener(const asio::ip::address_v4& address, std::uint16_t port, const TIdWaitControl* control)
    : FAcceptor(FContext), FControl(control)
{
    std::error_code ec;
    const asio::ip::tcp::endpoint local(address, port);
    FAcceptor.open(local.protocol(), ec);
    if (!ec)
        FAcceptor.bind(local, ec);
    if (!ec)
        FAcceptor.listen(1, ec);
    if (ec)
        RaiseSocketError(ec);
}

TIdListener::~TIdListener()
{
    std::error_code ec;
    FAcceptor.close(ec);
}

asio::ip::address_v4 TIdListener::LocalAddress() const
{
    std::error_code ec;
    return FAcceptor.local_endpoint(ec).address().to_v4();
}

std::uint16_t TIdListener::LocalPort() const
{
    std::error_code ec;
    return FAcceptor.local_endpoint(ec).port();
}

std::unique_ptr<TIdSocket> TIdListener::Accept(int timeoutMs)
{
    auto peer = std::make_unique<TIdSocket>(FControl);
    std::error_code ec;
    const bool done = RunLimited(
        FContext, FControl, timeoutMs, ec, [&](auto handler) { FAcceptor.async_accept(peer->FSocket, handler); },
        [&](std::error_code& ignored) { FAcceptor.cancel(ignored); });
    if (!done)
        return nullptr;
    if (ec)
        RaiseSocketError(ec);
    peer->FSocket.non_blocking(true, ec);
    return peer;
}
