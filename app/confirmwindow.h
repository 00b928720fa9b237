// Form1: the confirmation that every application of the business system is
// closed; blocked while a script error file lies in the working folder.
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

class TForm1 : public TFormDialog {
public:
    explicit TForm1(QWidget* owner = nullptr);
    ~TForm1() override;

    TNetGradient* NetGradient1;
    TmyLabel3D* myLabel3d1;
    QLabel* Label2;
    QCheckBox* CheckBox1;
    QLabel* Label1;
    QCheckBox* CheckBox2;
    QLabel* Label3;
    QPushButton* BitBtn1;
    QPushButton* Button3;
    QTimer* Timer1;

    void Timer1Timer();
    void CheckBox1Click();
    void BitBtn1Click();
    void Button3Click();
    // Names in the working folder matching the pattern, sorted by the user's
    // locale ignoring case.
    static void ListaArquivos(const QString& pattern, QStringList& list);

protected:
    void FormShow() override;

private:
    std::unique_ptr<TScriptErrorNotice> FNotice; // while an error file blocks the update
};

extern TForm1* Form1;
