// The update session on a worker thread of its own, for a window. The
// thread makes the session, so its FTP client and both database connections
// are created and used there only. Every report of the session is posted to
// the face on the window's thread; a report that shows a box blocks the
// worker, never the window, until the face has returned. The window's thread
// never waits on the network, a database or a process.
#pragma once

#include "update/session.h"

#include <QObject>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>

// Posts every report to the face on the context's thread, in the order the
// session makes them. The transfer's progress is coalesced: while one report
// of it waits to be shown, later counts only replace its figure, so a fast
// line cannot flood the window's queue. The reports that show a box wait
// until the face has returned, or until closing is set.
class TPostingObserver : public TSessionObserver {
public:
    TPostingObserver(TSessionObserver& face, QObject* context, const std::atomic<bool>& closing);

    void Listed(const QStringList& lines) override;
    void Planned(const TUpdatePlan& plan) override;
    void FileStarted(int index, const QString& name) override;
    void SizeKnown(std::uint32_t bytes) override;
    void StateChanged(int index, TNodeState state) override;
    void Stage(const QString& stage) override;
    void Status(TIdStatus status, const QString& text) override;
    void TransferBegin() override;
    void TransferProgress(std::int64_t count) override;
    void TransferEnd(TWorkMode mode) override;
    void Replaced(const QString& file) override;
    void UpgradeBegin() override;
    void UpgradeEnd() override;
    void UpgradeProgress(int position) override;
    void ScriptDone(const QString& entry, const QString& versao, bool ok) override;
    void FileFailed(int index, const QString& message) override;
    void ReplacementFailed(const QString& message) override;
    void Error(const QString& text) override;
    void ScriptSaved(const QString& errorFile) override;
    void UpgradeFailed(const QString& text) override;

private:
    void Post(std::function<void()> report);
    void Ask(std::function<void()> report);

    TSessionObserver& FFace;
    QObject* FContext;
    const std::atomic<bool>& FClosing;
    std::atomic<std::int64_t> FCount = 0;
    std::atomic<bool> FProgressPosted = false;
};

class TSessionThread {
public:
    // face: told every report, on the thread of context (the window that is
    // the face), which must outlive this object or be this object's owner.
    TSessionThread(TSessionObserver& face, QObject* context, const QString& logFile = RunLogName);
    // Asks a job under way to stop, gives up waiting for answers, and waits
    // for the worker to end its job and close the session.
    ~TSessionThread();
    TSessionThread(const TSessionThread&) = delete;
    TSessionThread& operator=(const TSessionThread&) = delete;

    // Runs job with the session on the worker, then done with its result on
    // the context's thread. Jobs run one after another, in order. An error
    // that escapes a job is shown in the default error box, and done is not
    // called.
    template <class TResult>
    void Run(std::function<TResult(TUpdateSession&)> job, std::function<void(const TResult&)> done)
    {
        ++FJobs;
        Post([this, job = std::move(job), done = std::move(done)]() mutable {
            try {
                TResult result = job(*FSession);
                Deliver([done = std::move(done), result = std::move(result)] { done(result); });
            } catch (const std::exception& error) {
                Escaped(error);
            }
        });
    }
    // The session's stop request; safe from any thread.
    void Cancela();
    // A job is queued or running (its result not yet delivered).
    bool Ocupado() const { return FJobs > 0; }

private:
    // Runs work on the worker thread.
    void Post(std::function<void()> work);
    // Counts the job as done on the context's thread, then runs deliver there.
    void Deliver(std::function<void()> deliver);
    void Escaped(const std::exception& error);

    QThread FThread;
    QObject* FWorker; // lives in FThread; the jobs are posted to it
    QObject* FContext;
    std::unique_ptr<TPostingObserver> FPosting;
    std::unique_ptr<TUpdateSession> FSession; // made, used and destroyed on FThread
    std::atomic<int> FJobs = 0;
    std::atomic<bool> FClosing = false; // queued jobs are dropped, answers no longer awaited
};
