#include "tests/ftp/fakeftpserver.h"

#ifndef ASIO_STANDALONE
#define ASIO_STANDALONE
#endif
#include <asio.hpp>

#include <chrono>
#include <mutex>
#include <thread>

void TFakeSession::Login(const QList<QByteArray>& features)
{
    Answer("220 ok");  // HOST
    Answer("331 password please");
    Answer("230 welcome");
    QByteArray feat = "211-Features:\r\n";
    for (const QByteArray& f : features)
        feat += " " + f + "\r\n";
    Answer(feat + "211 End");
    Answer("200 type set");
    Answer("215 UNIX Type: L8");
    Answer("200 type set");
}

struct TFakeFtpServer::TImpl {
    asio::io_context Context;
    asio::ip::tcp::acceptor Acceptor{Context, asio::ip::tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0)};
    std::thread Thread;
    std::mutex Lock;
    QStringList Commands;
    bool Joined = false;
};

namespace {

class TSession : public TFakeSession {
public:
    TSession(asio::ip::tcp::socket& socket, std::mutex& lock, QStringList& commands)
        : FSocket(socket), FLock(lock), FCommands(commands) {}
    void Send(const QByteArray& bytes) override
    {
        std::error_code ec;
        asio::write(FSocket, asio::buffer(bytes.constData(), size_t(bytes.size())), ec);
    }
    QByteArray Command() override
    {
        std::error_code ec;
        const size_t n = asio::read_until(FSocket, asio::dynamic_buffer(FBuffer), '\n', ec);
        QByteArray line = ec ? QByteArray() : QByteArray::fromStdString(FBuffer.substr(0, n));
        if (!ec)
            FBuffer.erase(0, n);
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        std::lock_guard g(FLock);
        FCommands << QString::fromLatin1(line);
        return line;
    }
    void Pasv() override
    {
        FData = std::make_unique<asio::ip::tcp::acceptor>(
            FSocket.get_executor(), asio::ip::tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0));
        const unsigned port = FData->local_endpoint().port();
        Answer(QByteArray("227 Entering Passive Mode (127,0,0,1,") + QByteArray::number(port / 256) + ","
               + QByteArray::number(port % 256) + ")");
    }
    void SendData(const QByteArray& bytes, bool close) override
    {
        FDataSocket = std::make_unique<asio::ip::tcp::socket>(FSocket.get_executor());
        std::error_code ec;
        FData->accept(*FDataSocket, ec);
        asio::write(*FDataSocket, asio::buffer(bytes.constData(), size_t(bytes.size())), ec);
        if (close)
            FDataSocket.reset();
    }
    void Close() override
    {
        std::error_code ec;
        FSocket.shutdown(asio::socket_base::shutdown_both, ec);
        FSocket.close(ec);
    }
    void Pause(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

private:
    asio::ip::tcp::socket& FSocket;
    std::mutex& FLock;
    QStringList& FCommands;
    std::string FBuffer;
    std::unique_ptr<asio::ip::tcp::acceptor> FData;
    std::unique_ptr<asio::ip::tcp::socket> FDataSocket;
};

} // namespace

TFakeFtpServer::TFakeFtpServer(TScript script, int connections) : FImpl(std::make_unique<TImpl>())
{
    FImpl->Thread = std::thread([this, script, connections] {
        for (int i = 0; i < connections; ++i) {
            asio::ip::tcp::socket socket(FImpl->Context);
            std::error_code ec;
            FImpl->Acceptor.accept(socket, ec);
            if (ec)
                return;
            TSession session(socket, FImpl->Lock, FImpl->Commands);
            script(session, i);
            // Let the client read what was sent before the connection goes.
            socket.shutdown(asio::socket_base::shutdown_send, ec);
            char sink[512];
            while (!ec)
                socket.read_some(asio::buffer(sink), ec);
        }
    });
}

TFakeFtpServer::~TFakeFtpServer()
{
    std::error_code ec;
    FImpl->Acceptor.close(ec);
    if (FImpl->Thread.joinable())
        FImpl->Thread.join();
}

std::uint16_t TFakeFtpServer::Port() const { return FImpl->Acceptor.local_endpoint().port(); }

QStringList TFakeFtpServer::Commands()
{
    if (FImpl->Thread.joinable())
        FImpl->Thread.join();
    std::lock_guard g(FImpl->Lock);
    return FImpl->Commands;
}
