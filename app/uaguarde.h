// The upgrade window: a small borderless "please wait" box that, once shown,
// runs the upgrade of each ticked customer database (upgrade/upgraderun.h),
// shows its progress, and saves a failed script to an error file in the
// working folder.
#pragma once

#include "app/formkit.h"
#include "platform/datetime.h"
#include "upgrade/upgraderun.h"

#include <QPointer>
#include <QStringList>
#include <memory>

class QFrame;
class QLabel;
class QListWidget;
class QProgressBar;
class QTimer;

class Taguarde : public TFormDialog, private TUpgradeObserver {
public:
    // aliasList is the update window's list of aliases; its ticked entries
    // are the databases of a run. It is read at the start of each run.
    Taguarde(QWidget* owner, QListWidget* aliasList);
    ~Taguarde() override;

    // Tag (inherited) becomes 1 at the first failed script and stays 1.
    QString tipo;
    // False when the last run stopped on a failure outside the scripts
    // (a database that does not open, the version table, the catalogue):
    // the upgrade did not complete, though no script may have failed.
    bool Concluido = true;

    QWidget* Shape1;
    QFrame* Bevel1;
    QLabel* AGUARDE;
    QLabel* Label1;
    QProgressBar* pb1;
    QTimer* Timer1;

    TDatabase* Database1;
    TQuery* Query2;
    TQuery* Query3;
    TTable* Table2;
    TDBMemo* DBMemo1;
    TIBDatabase* IBDatabase1;
    TIBTransaction* IBTransaction1;
    TIBTransaction* IBTransaction2;
    TIBQuery* IBQuery1;
    TIBScript* IBScript1;

    void FormCreate();
    void Timer1Timer();

protected:
    void FormShow() override;

private:
    // What the run reports, shown on the bar, in the error file and notice,
    // and in the application's error box.
    void Starting(const QString& entry, const QString& programa) override;
    void Progress(int position) override;
    void ScriptFailed(const QString& entry, const QString& message, const QStringList& saved) override;
    void Finished(const TUpgradeOutcome& outcome) override;

    QPointer<QListWidget> FAliasList;
    std::unique_ptr<TUpgradeRun> FRun;
};

extern Taguarde* aguarde;

// The error file's name for a work-list entry at a moment, in the user's
// short date and long time formats.
QString NomeArquivoErro(const QString& entry, const TDateTime& moment);
