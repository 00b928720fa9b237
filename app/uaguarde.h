// The upgrade window: a small borderless "please wait" box that, once shown,
// brings each ticked customer database up to the newest released script
// version, saving a failed script to an error file in the working folder.
#pragma once

#include "app/formkit.h"
#include "platform/datetime.h"

#include <QPointer>
#include <QStringList>
#include <memory>

class QFrame;
class QLabel;
class QListWidget;
class QProgressBar;
class QTimer;
class TDatabase;
class TDBMemo;
class TIBDatabase;
class TIBQuery;
class TIBScript;
class TIBTransaction;
class TQuery;
class TTable;

class Taguarde : public TFormDialog {
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
    std::unique_ptr<TIBScript> IBScript1;

    void FormCreate();
    void Timer1Timer();

protected:
    void FormShow() override;

private:
    // The steps of the run for one work-list entry ("M-" and the alias).
    void AtualizaBase(const QString& entry);
    // Saves the runner's script under an error header and tells the operator.
    void SalvaScriptComErro(const QString& entry, const QString& message);
    // Leaves the customer database and the catalogue queries closed after a
    // failure outside the scripts.
    void FechaTudo();
    void VersionQuery(const QString& sql);

    QPointer<QListWidget> FAliasList;
};

extern Taguarde* aguarde;

// Blanks every line of the runner's script that holds COMMIT WORK (in any
// letter case), then runs it. Errors of the run pass through.
void ExecutaScript(TIBScript& runner);

// The bar position after processed of count scripts: 100 / count * processed
// rounded half to even, kept within minimum..maximum.
int PosicaoProgresso(int count, int processed, int minimum, int maximum);

// The error file's name for a work-list entry at a moment, in the user's
// short date and long time formats.
QString NomeArquivoErro(const QString& entry, const TDateTime& moment);
