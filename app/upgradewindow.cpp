#include "app/upgradewindow.h"

#include "app/scripterrornotice.h"

#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QThread>
#include <QTimer>

Taguarde::Taguarde(QWidget* owner) : TFormDialog(owner)
{
    setObjectName(QStringLiteral("aguarde"));
    setWindowTitle(QStringLiteral("Aviso"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setFont(PixelFont(QStringLiteral("MS Sans Serif"), 11));
    setFixedSize(183, 90);
    move(150, 105);

    Shape1 = NewPanel(this, "Shape1", QRect(0, 0, 183, 90), Qt::black);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setGeometry(0, 1, 183, 37);
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);

    AGUARDE = NewLabel(this, "AGUARDE", QStringLiteral("Aguarde..."), {18, 10},
                       PixelFont(QStringLiteral("Verdana"), 15, true), QColor(255, 255, 242), lfTransparent);
    Label1 = NewLabel(this, "Label1", QStringLiteral("Verificando Scripts"), {32, 48},
                      PixelFont(QStringLiteral("MS Sans Serif"), 11), QColor(192, 192, 192), lfTransparent);

    pb1 = new QProgressBar(this);
    pb1->setObjectName(QStringLiteral("pb1"));
    pb1->setGeometry(28, 68, 122, 17);
    pb1->setRange(1, 100);
    pb1->setValue(1);
    pb1->setTextVisible(false);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(100);
    connect(Timer1, &QTimer::timeout, this, &Taguarde::Timer1Timer);
}

void Taguarde::Executa(const std::function<void()>& upgrade)
{
    FUpgrade = upgrade;
    exec();
    FUpgrade = nullptr;
}

void Taguarde::FormShow()
{
    Timer1->start();
}

void Taguarde::Timer1Timer()
{
    Timer1->stop();
    if (FUpgrade)
        FUpgrade();
    close();
}

void Taguarde::Progress(int position)
{
    pb1->setValue(position);
    pb1->repaint();
}

void Taguarde::ScriptSaved(const QString& errorFile)
{
    TScriptErrorNotice notice(this);
    notice.SetErrorFile(errorFile);
    notice.exec();
    QThread::msleep(1000);
}
