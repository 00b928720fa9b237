// The update window, the program's main window: its show handler runs the
// environment checks, "&Atualizar agora" runs the update (update/updaterun.h)
// and this window shows what the run reports.
#pragma once

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
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class TGauge;
class TUpgradeWindow;

class Tfrmzemboupdate : public QWidget, public TSessionObserver {
    // First, so the members below may refer to its parts.
    TUpdateSession FSession;

public:
    explicit Tfrmzemboupdate(QWidget* owner = nullptr);
    ~Tfrmzemboupdate() override;

    TDateTime STime;
    quint32 BytesToTransfer = 0;
    QString PROGR;

    QWidget* Panel1;
    QLabel* Image1;
    QLabel* Label1;
    QLabel* Label2;
    QWidget* Panel2;
    QLabel* Image2;
    QLabel* Label5;
    QLabel* Label9;
    QTreeWidget* TreeView3;
    QPlainTextEdit* Memo3;
    QLabel* Label10;
    // The aliases to process; the database upgrade runs the ticked ones.
    QListWidget* CheckListBox1;
    TGauge* Gauge1;
    QProgressBar* ProgressBar1;
    QPushButton* Button1;
    QLabel* lblstatus;
    QLabel* lblcontador;
    QLabel* Label3;
    QPushButton* Button3;
    QStatusBar* StatusBar1;
    QLabel* StatusPanel1; // the status bar's one panel
    QTimer* Timer2;
    QList<QPixmap> ImageList1;

    // The operator's answer to the confirmation window; without it the
    // window checks and changes nothing and closes again.
    void SetConfirmed(bool confirmed) { FConfirmed = confirmed; }
    bool Confirmed() const { return FConfirmed; }

    void FormShow();
    void Timer2Timer();
    void FormClose();
    void bfecharClick();
    void batualizarClick();
    void AtualizaArquivos();

    void ftpupdateWorkBegin();
    void ftpupdateWork(std::int64_t AWorkCount);
    void ftpupdateWorkEnd(TWorkMode AWorkMode);
    void ftpupdateStatus(TIdStatus AStatus, const QString& AStatusText);

    // The tree node's state picture, -1 without one.
    int NodeState(int index) const;
    bool Running() const { return FSession.Executando(); }
    TUpdateSession& Session() { return FSession; }
    TIdFTP& ftpupdate; // the session's FTP client

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void Falha(const TCheckFailure& failure);
    void SetNodeState(int index, int state);
    void SetNodeState(QTreeWidgetItem* node, int state);
    void ResetDisplay();
    void PlaceFileName();

    void Waiting() override;
    void Listed(const QStringList& lines) override;
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
    void Upgrade(const std::function<void()>& upgrade) override;
    void UpgradeProgress(int position) override;
    void ScriptSaved(const QString& errorFile) override;
    void UpgradeFailed(const QString& text) override;

    TTransferProgress FProgress;
    static constexpr int ProgressIntervalMs = 50;
    QElapsedTimer FProgressShown;
    std::int64_t FPendingCount = -1;
    QList<QIcon> FStateIcons; // ImageList1's pictures, made once
    bool FConfirmed = false;
    bool FCloseRequested = false;
    TUpgradeWindow* FUpgradeWindow = nullptr; // while the upgrade runs
};

extern Tfrmzemboupdate* frmzemboupdate;

// Ends the process at once with the exit code (the failed FTP connection).
[[noreturn]] void Halt(int exitCode);
