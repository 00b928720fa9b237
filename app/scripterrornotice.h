// The notice that a database script failed and was saved (window "Form2").
// Shown by the confirmation window when error files exist and by the upgrade
// window.
#pragma once

#include "app/formkit.h"

#include <QLabel>
#include <QPushButton>

class TNetGradient;
class TmyLabel3D;

class TScriptErrorNotice : public TFormDialog {
public:
    explicit TScriptErrorNotice(QWidget* owner = nullptr);

    // Names the file the failed script was saved to.
    void SetErrorFile(const QString& errorFile);

private:
    TNetGradient* captionBar;
    TmyLabel3D* warningLabel;
    QLabel* fileLabel;
    QPushButton* continueButton;

    void continueButtonClick();
};
