// What an unattended update prints: a line per stage, per listed file and
// per script, the boxes a window would show, and on a terminal a progress
// line for each transfer (bytes, rate, time left) that rewrites itself.
#pragma once

#include "update/session.h"

#include <QElapsedTimer>

class TUpdateReport : public TSessionObserver {
public:
    explicit TUpdateReport(bool terminal);

    void Stage(const QString& stage) override;
    void Planned(const TUpdatePlan& plan) override;
    void FileStarted(int index, const QString& name) override;
    void SizeKnown(std::uint32_t bytesToTransfer) override;
    void StateChanged(int index, TNodeState state) override;
    void FileFailed(int index, const QString& message) override;
    void ReplacementFailed(const QString& message) override;
    void Replaced(const QString& mainExecutable) override;
    void DeltasRead(const QString& problem) override;
    void FetchedByDelta(int index, std::int64_t patchSize, std::int64_t fileSize) override;
    void DeltaFailed(int index, const QString& reason) override;
    void TransferBegin() override;
    void TransferProgress(std::int64_t count) override;
    void Error(const QString& text) override;
    void ScriptDone(const QString& entry, const QString& versao, bool ok) override;
    void ScriptSaved(const QString& errorFile) override;
    void UpgradeFailed(const QString& text) override;

    // A line on standard output: its line breaks as " / ", every other
    // control character escaped.
    static void Print(const QString& line);
    // A message on standard error: its line breaks (the window's CR among
    // them) as line feeds, every other control character escaped.
    static void PrintError(const QString& message);

private:
    void EndProgressLine();

    bool FTerminal;
    TUpdatePlan FPlan;
    QString FFile;
    std::int64_t FSize = -1;
    std::int64_t FFullSize = -1; // the whole file's, when a patch rebuilt it
    std::int64_t FMoved = 0;     // the bytes of the files fetched so far,
    std::int64_t FFull = 0;      // and what they would have cost whole
    QElapsedTimer FClock;
    qint64 FLastShown = -1;
    bool FProgressShown = false;
};
