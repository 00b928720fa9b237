// One download whose every block reaches the update window as a run's
// reports do: the client on a worker thread, its progress posted to the
// window on the main thread, which paints while the bytes arrive. Prints the
// seconds it took. Usage: bench_window_get PORT NAME DEST (on 127.0.0.1, the
// account from $ZEMBO_VSFTPD_USER and $ZEMBO_VSFTPD_PASSWORD)
#include "app/formkit.h"
#include "app/sessionthread.h"
#include "app/updatewindow.h"
#include "tests/support/controls.h"

#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv)
{
    TApplication application(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_window_get PORT NAME DEST\n");
        return 2;
    }
    TUpdateWindow window;
    window.show();
    Control<QTimer>(window, "Timer2")->stop(); // shown without the confirmation: it would close itself
    const std::atomic<bool> closing = false;
    TPostingObserver display(window, &window, closing);
    const QString name = QString::fromLocal8Bit(argv[2]);
    const QString destination = QString::fromLocal8Bit(argv[3]);
    double seconds = -1;
    QThread* worker = QThread::create([&] {
        TIdFTP ftp;
        AjustaFtp(ftp);
        ftp.OnWorkBegin = [&](TIdBaseComponent*, TWorkMode, std::int64_t) { display.TransferBegin(); };
        ftp.OnWork = [&](TIdBaseComponent*, TWorkMode, std::int64_t count) { display.TransferProgress(count); };
        ftp.OnWorkEnd = [&](TIdBaseComponent*, TWorkMode mode) { display.TransferEnd(mode); };
        ftp.Host = QStringLiteral("127.0.0.1");
        ftp.Port = std::uint16_t(QByteArray(argv[1]).toUInt());
        ftp.Username = qEnvironmentVariable("ZEMBO_VSFTPD_USER");
        ftp.Password = qEnvironmentVariable("ZEMBO_VSFTPD_PASSWORD");
        try {
            ftp.Connect();
            ftp.SetTransferType(ftBinary);
            const std::int64_t size = ftp.Size(name);
            display.SizeKnown(std::uint32_t(size));
            display.FileStarted(0, name);
            QElapsedTimer clock;
            clock.start();
            ftp.Get(name, destination, true, false, size);
            seconds = clock.nsecsElapsed() / 1e9;
            ftp.Disconnect();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "failed: %s\n", error.what());
        }
    });
    QObject::connect(worker, &QThread::finished, &application, &QCoreApplication::quit);
    worker->start();
    application.exec();
    worker->wait();
    delete worker;
    if (seconds < 0)
        return 1;
    std::printf("%.3f\n", seconds);
    return 0;
}
