// A scripted FTP server on 127.0.0.1 for what real servers do not do on
// demand. Each accepted control connection runs the script in the server's
// thread; the commands it read are kept for the test to check.
#pragma once

#include <QByteArray>
#include <QStringList>
#include <functional>
#include <memory>
#include <cstdint>

class TFakeSession {
public:
    virtual ~TFakeSession() = default;
    virtual void Send(const QByteArray& bytes) = 0;  // raw bytes
    void Reply(const QByteArray& text) { Send(text + "\r\n"); }
    virtual QByteArray Command() = 0;  // reads one command line (kept)
    // Reads one command and answers it.
    void Answer(const QByteArray& reply)
    {
        Command();
        Reply(reply);
    }
    // Answers the commands of a default login (HOST, USER, PASS, FEAT, TYPE,
    // SYST, TYPE); FEAT with the features given, one per line.
    void Login(const QList<QByteArray>& features = {});
    // Opens a data listener and answers the next command (PASV) with its address.
    virtual void Pasv() = 0;
    // Accepts the data connection opened by the client, sends, closes.
    virtual void SendData(const QByteArray& bytes, bool close = true) = 0;
    virtual void Close() = 0;
    virtual void Pause(int ms) = 0;
};

class TFakeFtpServer {
public:
    using TScript = std::function<void(TFakeSession& session, int connection)>;
    explicit TFakeFtpServer(TScript script, int connections = 1);
    ~TFakeFtpServer();
    std::uint16_t Port() const;
    // Waits for the script to finish; the commands read, without CR LF.
    QStringList Commands();

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};
