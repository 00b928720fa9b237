// The update window (window "frmzemboupdate"), the program's main window:
// once the operator has confirmed, its show handler has the session run the
// environment checks; "&Atualizar agora" has it run the update
// (update/session.h). The session runs on a worker thread (app/sessionthread.h);
// this window shows what it reports and never waits for it.
#pragma once

#include "app/sessionthread.h"
#include "ftp/idftp.h"
#include "platform/datetime.h"
#include "update/progress.h"
#include "update/session.h"

#include <QElapsedTimer>
#include <QIcon>
#include <QList>
#include <QPixmap>
#include <QString>
#include <QWidget>

class QLabel;
class QListWidget;
class QPushButton;
class QStatusBar;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class TGauge;
class TUpgradeWindow;

class TUpdateWindow : public QWidget, public TSessionObserver {

public:
    explicit TUpdateWindow(QWidget* owner = nullptr);
    ~TUpdateWindow() override;

    // The operator's answer to the confirmation window; without it the
    // window checks and changes nothing and closes again.
    void SetConfirmed(bool confirmed) { FConfirmed = confirmed; }
    bool Confirmed() const { return FConfirmed; }

    void ftpWorkBegin();
    void ftpWork(std::int64_t AWorkCount);
    void ftpWorkEnd(TWorkMode AWorkMode);
    void ftpStatus(TIdStatus AStatus, const QString& AStatusText);

    // The tree node's state picture, -1 without one.
    int NodeState(int index) const;
    // The checks or a run are under way on the session's thread.
    bool Running() const { return FSession.Ocupado(); }
    // The FTP connection is open, as the session last reported.
    bool FtpConnected() const { return FFtpConnected; }
    // The Program Files folder the checks found.
    const QString& ProgramFiles() const { return PROGR; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    TDateTime STime;
    quint32 BytesToTransfer = 0;
    QString PROGR;

    QWidget* headerPanel;
    QLabel* iconImage;
    QLabel* titleLabel;
    QLabel* subtitleLabel;
    QWidget* bodyPanel;
    QLabel* backgroundImage;
    QLabel* mainExecutableCaption;
    QLabel* mainExecutableLabel;
    QTreeWidget* filesTree;
    QLabel* databaseCaption;
    // The aliases to process; the database upgrade runs the ticked ones.
    QListWidget* aliasList;
    TGauge* gauge;
    QPushButton* updateButton;
    QLabel* statusLabel;
    QLabel* counterLabel;
    QLabel* currentFileLabel;
    QPushButton* exitButton;
    QStatusBar* statusBar;
    QLabel* statusPanel; // the status bar's one panel
    QTimer* closeTimer;
    QList<QPixmap> stateBalls;

    void FormShow();
    void closeTimerTimeout();
    void exitButtonClick();
    void updateButtonClick();
    void AtualizaArquivos();

    struct TChecks;
    void Verificado(const TChecks& checks);
    void Atualizado(const TUpdateOutcome& outcome);
    void Falha(const TCheckFailure& failure);
    void SetNodeState(int index, int state);
    void SetNodeState(QTreeWidgetItem* node, int state);
    void ResetDisplay();
    void PlaceFileName();

    void Planned(const TUpdatePlan& plan) override;
    void FileStarted(int index, const QString& name) override;
    void SizeKnown(std::uint32_t bytesToTransfer) override;
    void StateChanged(int index, TNodeState state) override;
    void FileFailed(int index, const QString& message) override;
    void ReplacementFailed(const QString& message) override;
    void Status(TIdStatus status, const QString& text) override;
    void TransferBegin() override;
    void TransferProgress(std::int64_t count) override;
    void TransferEnd(TWorkMode mode) override;
    void Error(const QString& text) override;
    void UpgradeBegin() override;
    void UpgradeEnd() override;
    void UpgradeProgress(int position) override;
    void ScriptSaved(const QString& errorFile) override;
    void UpgradeFailed(const QString& text) override;

    TTransferProgress FProgress;
    static constexpr int ProgressIntervalMs = 50;
    QElapsedTimer FProgressShown;
    std::int64_t FPendingCount = -1;
    QList<QIcon> FStateIcons; // the state balls as icons, made once
    bool FConfirmed = false;
    bool FCloseRequested = false;
    bool FFtpConnected = false;
    TUpgradeWindow* FUpgradeWindow = nullptr; // while the upgrade runs
    // Last, so it goes first: the session's thread ends before the controls
    // its reports are shown on.
    TSessionThread FSession;
};
