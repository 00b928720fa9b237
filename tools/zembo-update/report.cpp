#include "tools/zembo-update/report.h"

#include "platform/text.h"

#include <algorithm>
#include <cstdio>

namespace {

QString Kb(std::int64_t bytes)
{
    return QString::number(bytes / 1024) + QStringLiteral(" KB");
}

QString Clock(qint64 seconds)
{
    return QString::asprintf("%02lld:%02lld", seconds / 60, seconds % 60);
}

} // namespace

TUpdateReport::TUpdateReport(bool terminal) : FTerminal(terminal) {}

// One line per event: names from the server may hold any character, and a
// terminal must print them, never obey them.
void TUpdateReport::Print(const QString& line)
{
    const QByteArray bytes = (EscapeControls(line, u" / ") + u'\n').toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

// The window's messages break lines with CR alone, which a terminal would
// print over each other.
void TUpdateReport::PrintError(const QString& message)
{
    const QByteArray bytes = (EscapeControls(message, u"\n") + u'\n').toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

void TUpdateReport::EndProgressLine()
{
    if (FProgressShown)
        std::fputs("\n", stdout);
    FProgressShown = false;
}

void TUpdateReport::Stage(const QString& stage)
{
    EndProgressLine();
    if (FFull > 0) { // the downloads are over
        Print(TransferText(FMoved, FFull));
        FMoved = FFull = 0;
    }
    Print(QStringLiteral("== ") + stage);
}

void TUpdateReport::Planned(const TUpdatePlan& plan)
{
    FPlan = plan;
    for (const TPlanItem& item : plan.Items)
        if (item.Decision == fdAtualizado || item.Decision == fdNuncaBaixado || item.Decision == fdPasta)
            Print(QStringLiteral("em dia     ") + item.Name);
}

void TUpdateReport::FileStarted(int, const QString& name)
{
    FFile = name;
}

void TUpdateReport::SizeKnown(std::uint32_t bytesToTransfer)
{
    FSize = bytesToTransfer == 0xFFFFFFFFu ? -1 : std::int64_t(bytesToTransfer);
}

void TUpdateReport::StateChanged(int index, TNodeState state)
{
    if (state != nsGreen)
        return;
    EndProgressLine();
    const qint64 ms = FClock.isValid() ? FClock.elapsed() : 0;
    const QString size = FFullSize >= 0 ? QStringLiteral("delta %1 bytes de %2, ").arg(FSize).arg(FFullSize)
                         : FSize >= 0   ? QString::number(FSize) + QStringLiteral(" bytes, ")
                                        : QString();
    Print(QStringLiteral("baixado    ") + FPlan.Items.value(index).Name + QStringLiteral(" (") + size +
          QString::number(ms) + QStringLiteral(" ms)"));
    FMoved += std::max<std::int64_t>(FSize, 0);
    FFull += FFullSize >= 0 ? FFullSize : std::max<std::int64_t>(FSize, 0);
    FFullSize = -1;
}

void TUpdateReport::FileFailed(int index, const QString& message)
{
    EndProgressLine();
    Print(QStringLiteral("recusado   ") + FPlan.Items.value(index).Name + QStringLiteral(": ") + message);
}

void TUpdateReport::ReplacementFailed(const QString& message)
{
    EndProgressLine();
    Print(QStringLiteral("substituição falhou: ") + message);
}

void TUpdateReport::Replaced(const QString& mainExecutable)
{
    Print(QStringLiteral("substituído ") + mainExecutable + QStringLiteral(" (de ") + MainArchive + u')');
}

void TUpdateReport::DeltasRead(const QString& problem)
{
    if (!problem.isEmpty())
        Print(QStringLiteral("deltas não usados: ") + problem);
}

void TUpdateReport::FetchedByDelta(int, std::int64_t, std::int64_t fileSize)
{
    FFullSize = fileSize;
}

void TUpdateReport::DeltaFailed(int index, const QString& reason)
{
    EndProgressLine();
    Print(QStringLiteral("delta falhou ") + FPlan.Items.value(index).Name + QStringLiteral(": ") + reason +
          QStringLiteral("; baixando o arquivo inteiro"));
}

void TUpdateReport::TransferBegin()
{
    FClock.start();
    FLastShown = -1;
}

// At most a few times a second, and only on a terminal: a log file gets the
// file's line at its end, not a line per block.
void TUpdateReport::TransferProgress(std::int64_t count)
{
    if (!FTerminal || FSize <= 0)
        return;
    const qint64 ms = FClock.elapsed();
    if (FLastShown >= 0 && ms - FLastShown < 200 && count < FSize)
        return;
    FLastShown = ms;
    const double rate = ms > 0 ? double(count) / 1024.0 / (double(ms) / 1000.0) : 0;
    const qint64 left = rate > 0 ? qint64(double(FSize - count) / 1024.0 / rate) : 0;
    const QString line = QStringLiteral("\r  %1  %2 de %3  %4 KB/s  restam %5")
                             .arg(EscapeControls(FFile), Kb(count), Kb(FSize))
                             .arg(rate, 0, 'f', 0)
                             .arg(Clock(left));
    std::fputs(line.toUtf8().constData(), stdout);
    std::fflush(stdout);
    FProgressShown = true;
}

void TUpdateReport::Error(const QString& text)
{
    EndProgressLine();
    PrintError(QStringLiteral("erro: ") + text);
}

void TUpdateReport::ScriptDone(const QString& entry, const QString& versao, bool ok)
{
    Print((ok ? QStringLiteral("script     ") : QStringLiteral("script com erro ")) + versao + QStringLiteral(" em ") + entry);
}

void TUpdateReport::ScriptSaved(const QString& errorFile)
{
    Print(QStringLiteral("SCRIPT EM EXECUÇÃO SALVO: ") + errorFile);
}

void TUpdateReport::UpgradeFailed(const QString& text)
{
    PrintError(QStringLiteral("atualização da base interrompida: ") + text);
}
