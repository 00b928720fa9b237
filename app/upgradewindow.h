// The upgrade window: a small borderless "please wait" box shown while the
// update session upgrades the customer databases; it shows the progress and
// the notice of a failed script that the session saved.
#pragma once

#include "app/formkit.h"

#include <QString>
#include <functional>

class QFrame;
class QLabel;
class QProgressBar;
class QTimer;

class Taguarde : public TFormDialog {
public:
    explicit Taguarde(QWidget* owner);

    QWidget* Shape1;
    QFrame* Bevel1;
    QLabel* AGUARDE;
    QLabel* Label1;
    QProgressBar* pb1;
    QTimer* Timer1;

    // Shows the window modally and, once it is on screen, runs the upgrade;
    // closes when it has ended.
    void Executa(const std::function<void()>& upgrade);
    // What the upgrade reports.
    void Progress(int position);
    // The notice naming the file the failed script was saved to.
    void ScriptSaved(const QString& errorFile);

    void Timer1Timer();

protected:
    void FormShow() override;

private:
    std::function<void()> FUpgrade;
};
