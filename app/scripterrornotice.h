// Form2: the notice that a database script failed and was saved. Shown by the
// confirmation window when error files exist and by the upgrade window.
#pragma once

#include "app/formkit.h"

#include <QLabel>
#include <QPushButton>

class TNetGradient;
class TmyLabel3D;

class TForm2 : public TFormDialog {
public:
    explicit TForm2(QWidget* owner = nullptr);
    ~TForm2() override;

    TNetGradient* NetGradient1;
    TmyLabel3D* myLabel3d1;
    QLabel* Label1;
    QPushButton* Button3;

    void Button3Click();
};

extern TForm2* Form2;
