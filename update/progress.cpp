#include "update/progress.h"

#include "platform/locale.h"

namespace {

QString Kb(std::int64_t bytes)
{
    return FormatThousands(bytes / 1024);
}

// "%2d": right-aligned in two places, padded with a blank.
QString TwoPlaces(int value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QChar(u' '));
}

} // namespace

QString FormatThousands(std::int64_t value)
{
    const QString digits = QString::number(value < 0 ? -value : value);
    QString out;
    for (qsizetype i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ThousandSeparator();
        out += digits.at(i);
    }
    return value < 0 ? u'-' + out : out;
}

TProgressTexts TTransferProgress::Work(std::int64_t count, std::uint32_t bytesToTransfer, TDateTime start,
                                       TDateTime now)
{
    TProgressTexts texts;
    const TTimeParts elapsed = DecodeTime(TDateTime(now - start));
    // The second count is a 16-bit word: past 65 535 s it starts again.
    const std::uint16_t total = std::uint16_t(elapsed.Hour * 3600 + elapsed.Min * 60 + elapsed.Sec);
    const double seconds = elapsed.MSec / 1000.0 + total;

    texts.Contador = QStringLiteral("Transferidos: ") + Kb(count) + QStringLiteral(" Kb de ") +
                     FormatThousands(bytesToTransfer >> 10) + QStringLiteral(" Kb");
    QString time;
    if (seconds > 0) {
        FRate = double(count) / 1024 / seconds;
        time = QStringLiteral("Tempo de download ") + TwoPlaces(total / 3600) + u':' + TwoPlaces(total / 60 % 60) +
               u':' + TwoPlaces(total % 60);
    }
    QString rate = QString::number(FRate, 'f', 2);
    rate.replace(u'.', DecimalSeparator());
    texts.Status = QStringLiteral("Taxa de Transferencia: ") + rate + QStringLiteral(" KB/s; ") + time;
    if (bytesToTransfer != 0) {
        const double percentage = 100.0 / bytesToTransfer * double(count);
        texts.Gauge = percentage < 0 ? 0 : percentage > 100 ? 100 : int(percentage);
    }
    return texts;
}

QString WorkEndStatus(TWorkMode mode)
{
    return mode == wmRead ? QStringLiteral("Download!!") : QStringLiteral("Upload!!");
}

QString WorkEndContador(std::uint32_t bytesToTransfer)
{
    return QStringLiteral("Transferidos: ") + FormatThousands(bytesToTransfer >> 10) + QStringLiteral(" Kb");
}

QString StatusBarText(TIdStatus status, const QString& statusText)
{
    switch (status) {
    case hsResolving:
        return QStringLiteral("Resolvendo..");
    case hsConnecting:
        return QStringLiteral("Conectando..");
    case hsConnected:
        return QStringLiteral("Conectado ao Servidor FTP! Aguarde..");
    case hsDisconnecting:
        return QStringLiteral("Desconectando..");
    case hsDisconnected:
        return QStringLiteral("Desconectado!");
    case ftpTransfer:
        return QStringLiteral("Transferindo..");
    case ftpReady:
        return QStringLiteral("Lendo...");
    case ftpAborted:
        return QStringLiteral("Abortado!");
    case hsStatusText:
        break;
    }
    return statusText;
}
