#include "app/sessionthread.h"

#include "platform/errors.h"

#include <QSemaphore>

namespace {

// How often a worker waiting for the face looks whether it should give up.
constexpr int AnswerSliceMs = 50;

} // namespace

TPostingObserver::TPostingObserver(TSessionObserver& face, QObject* context, const std::atomic<bool>& closing)
    : FFace(face), FContext(context), FClosing(closing)
{
}

void TPostingObserver::Post(std::function<void()> report)
{
    QMetaObject::invokeMethod(FContext, std::move(report), Qt::QueuedConnection);
}

void TPostingObserver::Ask(std::function<void()> report)
{
    auto answered = std::make_shared<QSemaphore>();
    Post([report = std::move(report), answered] {
        report();
        answered->release();
    });
    while (!answered->tryAcquire(1, AnswerSliceMs))
        if (FClosing)
            return;
}

void TPostingObserver::Listed(const QStringList& lines) { Post([=, this] { FFace.Listed(lines); }); }
void TPostingObserver::Planned(const TUpdatePlan& plan) { Post([=, this] { FFace.Planned(plan); }); }
void TPostingObserver::FileStarted(int index, const QString& name) { Post([=, this] { FFace.FileStarted(index, name); }); }
void TPostingObserver::SizeKnown(std::uint32_t bytes) { Post([=, this] { FFace.SizeKnown(bytes); }); }
void TPostingObserver::StateChanged(int index, TNodeState state) { Post([=, this] { FFace.StateChanged(index, state); }); }
void TPostingObserver::Stage(const QString& stage) { Post([=, this] { FFace.Stage(stage); }); }
void TPostingObserver::Status(TIdStatus status, const QString& text) { Post([=, this] { FFace.Status(status, text); }); }
void TPostingObserver::TransferBegin() { Post([this] { FFace.TransferBegin(); }); }

void TPostingObserver::TransferProgress(std::int64_t count)
{
    FCount = count;
    if (!FProgressPosted.exchange(true))
        Post([this] {
            FProgressPosted = false;
            FFace.TransferProgress(FCount);
        });
}

void TPostingObserver::TransferEnd(TWorkMode mode) { Post([=, this] { FFace.TransferEnd(mode); }); }
void TPostingObserver::Replaced(const QString& file) { Post([=, this] { FFace.Replaced(file); }); }
void TPostingObserver::UpgradeBegin() { Post([this] { FFace.UpgradeBegin(); }); }
void TPostingObserver::UpgradeEnd() { Post([this] { FFace.UpgradeEnd(); }); }
void TPostingObserver::UpgradeProgress(int position) { Post([=, this] { FFace.UpgradeProgress(position); }); }

void TPostingObserver::ScriptDone(const QString& entry, const QString& versao, bool ok)
{
    Post([=, this] { FFace.ScriptDone(entry, versao, ok); });
}

// These show a box: the run goes on once the operator has answered it.
void TPostingObserver::FileFailed(int index, const QString& message) { Ask([=, this] { FFace.FileFailed(index, message); }); }
void TPostingObserver::ReplacementFailed(const QString& message) { Ask([=, this] { FFace.ReplacementFailed(message); }); }
void TPostingObserver::Error(const QString& text) { Ask([=, this] { FFace.Error(text); }); }
void TPostingObserver::ScriptSaved(const QString& errorFile) { Ask([=, this] { FFace.ScriptSaved(errorFile); }); }
void TPostingObserver::UpgradeFailed(const QString& text) { Ask([=, this] { FFace.UpgradeFailed(text); }); }

TSessionThread::TSessionThread(TSessionObserver& face, QObject* context, const QString& logFile)
    : FWorker(new QObject), FContext(context),
      FPosting(std::make_unique<TPostingObserver>(face, context, FClosing))
{
    FThread.setObjectName(QStringLiteral("zembo-session"));
    FWorker->moveToThread(&FThread);
    QObject::connect(&FThread, &QThread::finished, FWorker, &QObject::deleteLater);
    FThread.start();
    // The session is made on the worker; the window waits for that alone
    // (it opens nothing), so Cancela finds it from the start.
    QSemaphore made;
    Post([&] {
        FSession = std::make_unique<TUpdateSession>(*FPosting, logFile);
        made.release();
    });
    made.acquire();
}

TSessionThread::~TSessionThread()
{
    FClosing = true;
    Cancela();
    // Queued behind the job under way, which ends within a second of the stop.
    QMetaObject::invokeMethod(
        FWorker,
        [this] {
            FSession.reset();
            FThread.quit();
        },
        Qt::QueuedConnection);
    FThread.wait();
}

void TSessionThread::Cancela()
{
    FSession->Cancela();
}

void TSessionThread::Post(std::function<void()> work)
{
    QMetaObject::invokeMethod(
        FWorker,
        [this, work = std::move(work)] {
            if (!FClosing)
                work();
        },
        Qt::QueuedConnection);
}

void TSessionThread::Deliver(std::function<void()> deliver)
{
    QMetaObject::invokeMethod(
        FContext,
        [this, deliver = std::move(deliver)] {
            --FJobs;
            deliver();
        },
        Qt::QueuedConnection);
}

void TSessionThread::Escaped(const std::exception& error)
{
    FPosting->Error(ErrorText(error));
    Deliver([] {});
}
