// The upgrade window (window "aguarde"): a small borderless "please wait" box
// shown while the update session upgrades the customer databases; it shows
// the progress and the notice of a failed script that the session saved.
#pragma once

#include "app/formkit.h"

#include <QString>
#include <functional>

class QFrame;
class QLabel;
class QProgressBar;
class QTimer;

class TUpgradeWindow : public TFormDialog {
public:
    explicit TUpgradeWindow(QWidget* owner);

    QWidget* frame;
    QFrame* bevel;
    QLabel* waitLabel;
    QLabel* stepLabel;
    QProgressBar* progressBar;
    QTimer* runTimer; // runs the upgrade once the window is on screen

    // Shows the window modally and, once it is on screen, runs the upgrade;
    // closes when it has ended.
    void Executa(const std::function<void()>& upgrade);
    // What the upgrade reports.
    void Progress(int position);
    // The notice naming the file the failed script was saved to.
    void ScriptSaved(const QString& errorFile);

    void runTimerTimeout();

protected:
    void FormShow() override;

private:
    std::function<void()> FUpgrade;
};
