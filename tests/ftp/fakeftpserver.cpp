#include "tests/ftp/fakeftpserver.h"

#ifndef ASIO_STANDALONE
#define ASIO_STANDALONE
#endif
#include <asio.hpp>

#include <QMap>
#include <QString>
#include <chrono>
#include <atomic>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

struct TFakeSession::TAnswers {
    QMap<QByteArray, std::deque<THandler>> Queued;
    QMap<QByteArray, QByteArray> Standing{{"QUIT", "221 Goodbye."}};
};

TFakeSession::TAnswers& TFakeSession::Answers()
{
    if (!FAnswers)
        FAnswers = std::make_shared<TAnswers>();
    return *FAnswers;
}

void TFakeSession::On(const QByteArray& verb, const QByteArray& reply)
{
    On(verb, [reply](TFakeSession& s, const QByteArray&) { s.Reply(reply); });
}

void TFakeSession::On(const QByteArray& verb, THandler handler)
{
    Answers().Queued[verb.toUpper()].push_back(std::move(handler));
}

void TFakeSession::Always(const QByteArray& verb, const QByteArray& reply)
{
    Answers().Standing[verb.toUpper()] = reply;
}

void TFakeSession::Login(const QList<QByteArray>& features)
{
    Always("HOST", "220 ok");
    Always("USER", "331 password please");
    Always("PASS", "230 welcome");
    QByteArray feat = "211-Features:\r\n";
    for (const QByteArray& f : features)
        feat += " " + f + "\r\n";
    Always("FEAT", feat + "211 End");
    Always("SYST", "215 UNIX Type: L8");
    Always("TYPE", "200 type set");
}

void TFakeSession::OnPasv(const QByteArray& replyTemplate)
{
    On("PASV", [replyTemplate](TFakeSession& s, const QByteArray&) { s.OpenPasv(replyTemplate); });
}

void TFakeSession::Serve()
{
    TAnswers& answers = Answers();
    QByteArray line;
    while (ReadCommand(line)) {
        const qsizetype blank = line.indexOf(' ');
        const QByteArray verb = (blank < 0 ? line : line.left(blank)).toUpper();
        const QByteArray argument = blank < 0 ? QByteArray() : line.mid(blank + 1);
        if (verb == "PORT")
            SetPort(argument);
        auto queued = answers.Queued.find(verb);
        if (queued != answers.Queued.end() && !queued->empty()) {
            const THandler handler = std::move(queued->front());
            queued->pop_front();
            handler(*this, argument);
        } else if (answers.Standing.contains(verb)) {
            Reply(answers.Standing.value(verb));
        } else {
            Unexpected(line);
            Reply("500 Unknown command.");
        }
    }
}

namespace {

// What the sessions read, shared with the test's thread.
struct TLog {
    std::mutex Lock;
    QStringList Commands;
    QStringList Unexpected;
};

class TSession : public TFakeSession {
public:
    TSession(asio::ip::tcp::socket& socket, TLog& server) : FSocket(socket), FServer(server) {}
    void Send(const QByteArray& bytes) override
    {
        std::error_code ec;
        asio::write(FSocket, asio::buffer(bytes.constData(), size_t(bytes.size())), ec);
    }
    void SendData(const QByteArray& bytes, bool close, const char* from) override
    {
        FDataSocket = std::make_unique<asio::ip::tcp::socket>(FSocket.get_executor());
        std::error_code ec;
        if (FPort.port() != 0) {
            FDataSocket->open(asio::ip::tcp::v4(), ec);
            FDataSocket->bind(asio::ip::tcp::endpoint(asio::ip::make_address_v4(from), 0), ec);
            FDataSocket->connect(FPort, ec);
        } else if (FData) {
            FData->accept(*FDataSocket, ec);
        }
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

protected:
    bool ReadCommand(QByteArray& line) override
    {
        std::error_code ec;
        const size_t n = asio::read_until(FSocket, asio::dynamic_buffer(FBuffer), '\n', ec);
        if (ec)
            return false;
        line = QByteArray::fromStdString(FBuffer.substr(0, n));
        FBuffer.erase(0, n);
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        std::lock_guard g(FServer.Lock);
        FServer.Commands << QString::fromLatin1(line);
        return true;
    }
    void OpenPasv(const QByteArray& replyTemplate) override
    {
        FPort = {};
        FData = std::make_unique<asio::ip::tcp::acceptor>(
            FSocket.get_executor(), asio::ip::tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0));
        const unsigned port = FData->local_endpoint().port();
        Reply(QString::fromLatin1(replyTemplate).arg(port / 256).arg(port % 256).toLatin1());
    }
    void SetPort(const QByteArray& argument) override
    {
        const QList<QByteArray> n = argument.split(',');
        if (n.size() != 6)
            return;
        const QByteArray address = n[0] + '.' + n[1] + '.' + n[2] + '.' + n[3];
        std::error_code ec;
        const auto ip = asio::ip::make_address_v4(address.toStdString(), ec);
        if (!ec)
            FPort = asio::ip::tcp::endpoint(ip, static_cast<unsigned short>(n[4].toInt() * 256 + n[5].toInt()));
    }
    void Unexpected(const QByteArray& line) override
    {
        std::lock_guard g(FServer.Lock);
        FServer.Unexpected << QString::fromLatin1(line);
    }

private:
    asio::ip::tcp::socket& FSocket;
    TLog& FServer;
    std::string FBuffer;
    std::unique_ptr<asio::ip::tcp::acceptor> FData;
    asio::ip::tcp::endpoint FPort;
    std::unique_ptr<asio::ip::tcp::socket> FDataSocket;
};

} // namespace

struct TFakeFtpServer::TImpl {
    asio::io_context Context;
    asio::ip::tcp::acceptor Acceptor{Context, asio::ip::tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0)};
    std::thread Thread;
    std::promise<void> Done;
    std::shared_future<void> Finished{Done.get_future().share()};
    std::atomic<bool> Stopping{false};
    TLog Log;
};

TFakeFtpServer::TFakeFtpServer(TScript script, int connections) : FImpl(std::make_unique<TImpl>())
{
    FImpl->Thread = std::thread([this, script, connections] {
        for (int i = 0; i < connections; ++i) {
            asio::ip::tcp::socket socket(FImpl->Context);
            std::error_code ec;
            FImpl->Acceptor.accept(socket, ec);
            if (ec || FImpl->Stopping)
                break;
            TSession session(socket, FImpl->Log);
            script(session, i);
            session.Serve();
            socket.shutdown(asio::socket_base::shutdown_both, ec);
        }
        FImpl->Done.set_value();
    });
}

TFakeFtpServer::~TFakeFtpServer()
{
    FImpl->Stopping = true;
    std::error_code ec;
    // A blocking accept does not return when its socket is closed: a
    // connection of our own ends the wait for a client that never came.
    if (FImpl->Finished.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        asio::ip::tcp::socket wake(FImpl->Context);
        wake.connect(FImpl->Acceptor.local_endpoint(ec), ec);
    }
    if (FImpl->Thread.joinable())
        FImpl->Thread.join();
    FImpl->Acceptor.close(ec);
}

std::uint16_t TFakeFtpServer::Port() const { return FImpl->Acceptor.local_endpoint().port(); }

QStringList TFakeFtpServer::Commands()
{
    // A client that fails its test may never come or never leave: the
    // commands so far, after a while.
    FImpl->Finished.wait_for(std::chrono::seconds(10));
    std::lock_guard g(FImpl->Log.Lock);
    return FImpl->Log.Commands;
}

QStringList TFakeFtpServer::Unexpected()
{
    Commands();
    std::lock_guard g(FImpl->Log.Lock);
    return FImpl->Log.Unexpected;
}
