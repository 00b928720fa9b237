// One download through the update window's own client and display: every
// block reaches the window's progress handlers as in a run. Prints the
// seconds it took. Usage: bench_window_get PORT NAME DEST (on 127.0.0.1, the
// account from $ZEMBO_VSFTPD_USER and $ZEMBO_VSFTPD_PASSWORD)
#include "app/formkit.h"
#include "app/updatewindow.h"

#include <QElapsedTimer>
#include <QFileInfo>
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
    window.closeTimer->stop(); // shown without the confirmation: it would close itself
    TIdFTP& ftp = window.ftp;
    ftp.Host = QStringLiteral("127.0.0.1");
    ftp.Port = std::uint16_t(QByteArray(argv[1]).toUInt());
    ftp.Username = qEnvironmentVariable("ZEMBO_VSFTPD_USER");
    ftp.Password = qEnvironmentVariable("ZEMBO_VSFTPD_PASSWORD");
    QElapsedTimer clock;
    try {
        ftp.Connect();
        ftp.SetTransferType(ftBinary);
        const QString name = QString::fromLocal8Bit(argv[2]);
        const std::int64_t size = ftp.Size(name);
        TSessionObserver& display = window; // as the run reports to it
        display.SizeKnown(std::uint32_t(size));
        display.FileStarted(0, name);
        clock.start();
        ftp.Get(name, QString::fromLocal8Bit(argv[3]), true, false, size);
        const double seconds = clock.nsecsElapsed() / 1e9;
        ftp.Disconnect();
        std::printf("%.3f\n", seconds);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "failed: %s\n", error.what());
        return 1;
    }
    return 0;
}
