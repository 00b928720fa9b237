// The confirmation (window "Form1") that every application of the business
// system is closed; blocked while a script error file lies in the working
// folder.
#pragma once

#include "app/formkit.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <memory>

class TNetGradient;
class TScriptErrorNotice;
class TmyLabel3D;

class TConfirmWindow : public TFormDialog {
public:
    explicit TConfirmWindow(QWidget* owner = nullptr);
    ~TConfirmWindow() override;

    // Whether the operator confirmed with "&Continuar".
    bool Confirmed() const { return FConfirmed; }

protected:
    void FormShow() override;

private:
    TNetGradient* captionBar;
    TmyLabel3D* warningLabel;
    QLabel* systemLabel;
    QCheckBox* localAppsClosed;
    QLabel* localAppsLabel;
    QCheckBox* terminalsClosed;
    QLabel* terminalsLabel;
    QPushButton* continueButton;
    QPushButton* exitButton;
    QTimer* noticeTimer; // shows the notice once this window is up

    void noticeTimerTimeout();
    void closedBoxToggled();
    void continueButtonClick();
    void exitButtonClick();

    std::unique_ptr<TScriptErrorNotice> FNotice; // while an error file blocks the update
    bool FConfirmed = false;
};
