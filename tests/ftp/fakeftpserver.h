// A scripted FTP server on 127.0.0.1 for what real servers do not do on
// demand. Each accepted control connection runs the script in the server's
// thread: it sends the greeting and sets the answers by command verb; the
// server then answers each command by its verb until the client closes. A
// command the script gave no answer for gets "500", and the test sees which
// commands came.
#pragma once

#include <QByteArray>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>

class TFakeSession {
public:
    // Runs when a command of its verb arrives; receives the command's argument.
    using THandler = std::function<void(TFakeSession& session, const QByteArray& argument)>;

    virtual ~TFakeSession() = default;
    virtual void Send(const QByteArray& bytes) = 0; // raw bytes
    void Reply(const QByteArray& text) { Send(text + "\r\n"); }

    // The answer to the next command of the verb; answers given for one verb
    // are used in the order given.
    void On(const QByteArray& verb, const QByteArray& reply);
    void On(const QByteArray& verb, THandler handler);
    // The answer to every command of the verb that finds no answer given by On.
    void Always(const QByteArray& verb, const QByteArray& reply);
    // Standing answers for a login (HOST, USER, PASS, FEAT, SYST, TYPE; FEAT
    // with the features given, one per line).
    void Login(const QList<QByteArray>& features = {});
    // The next PASV opens a data listener and names it in the reply made from
    // the template ("%1" and "%2": the port's two numbers).
    void OnPasv(const QByteArray& replyTemplate = "227 Entering Passive Mode (127,0,0,1,%1,%2)");
    // Data connection: accepted after PASV, or opened to the address of the
    // last PORT from the local address `from`; sends the bytes and closes
    // unless told otherwise.
    virtual void SendData(const QByteArray& bytes, bool close = true, const char* from = "127.0.0.1") = 0;
    virtual void Close() = 0;
    virtual void Pause(int ms) = 0;

    // The server's loop: answers commands by verb until the connection ends.
    void Serve();

protected:
    // One command line without CR LF; false once the connection has ended.
    virtual bool ReadCommand(QByteArray& line) = 0;
    virtual void OpenPasv(const QByteArray& replyTemplate) = 0;
    virtual void SetPort(const QByteArray& argument) = 0;
    virtual void Unexpected(const QByteArray& line) = 0;

private:
    struct TAnswers;
    std::shared_ptr<TAnswers> FAnswers;
    TAnswers& Answers();
};

class TFakeFtpServer {
public:
    using TScript = std::function<void(TFakeSession& session, int connection)>;
    explicit TFakeFtpServer(TScript script, int connections = 1);
    ~TFakeFtpServer();
    std::uint16_t Port() const;
    // Waits for the sessions to end; the commands read, without CR LF.
    QStringList Commands();
    // Of those, the commands that got "500" because the script had no answer.
    QStringList Unexpected();

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};
