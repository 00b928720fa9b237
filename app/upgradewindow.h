// The upgrade window (window "aguarde"): a small borderless "please wait" box
// shown, modal, from the session's report that the upgrade of the customer
// databases begins until the one that it has ended; it shows the progress and
// the notice of a failed script that the session saved.
#pragma once

#include "app/formkit.h"

#include <QString>

class QFrame;
class QLabel;
class QProgressBar;

class TUpgradeWindow : public TFormDialog {
public:
    explicit TUpgradeWindow(QWidget* owner);

    // What the upgrade reports.
    void Progress(int position);
    // The notice naming the file the failed script was saved to.
    void ScriptSaved(const QString& errorFile);

private:
    QWidget* frame;
    QFrame* bevel;
    QLabel* waitLabel;
    QLabel* stepLabel;
    QProgressBar* progressBar;
};
