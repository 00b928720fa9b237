#include "app/upgradewindow.h"

#include "app/scripterrornotice.h"

#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QThread>

TUpgradeWindow::TUpgradeWindow(QWidget* owner) : TFormDialog(owner)
{
    setObjectName(QStringLiteral("aguarde"));
    setWindowTitle(QStringLiteral("Aviso"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setFont(PixelFont(QStringLiteral("MS Sans Serif"), 11));
    setFixedSize(183, 90);
    move(150, 105);

    frame = NewPanel(this, "Shape1", QRect(0, 0, 183, 90), Qt::black);

    bevel = new QFrame(this);
    bevel->setObjectName(QStringLiteral("Bevel1"));
    bevel->setGeometry(0, 1, 183, 37);
    bevel->setFrameStyle(QFrame::Box | QFrame::Sunken);

    waitLabel = NewLabel(this, "AGUARDE", QStringLiteral("Aguarde..."), {18, 10},
                         PixelFont(QStringLiteral("Verdana"), 15, true), QColor(255, 255, 242), lfTransparent);
    stepLabel = NewLabel(this, "Label1", QStringLiteral("Verificando Scripts"), {32, 48},
                         PixelFont(QStringLiteral("MS Sans Serif"), 11), QColor(192, 192, 192), lfTransparent);

    progressBar = new QProgressBar(this);
    progressBar->setObjectName(QStringLiteral("pb1"));
    progressBar->setGeometry(28, 68, 122, 17);
    progressBar->setRange(1, 100);
    progressBar->setValue(1);
    progressBar->setTextVisible(false);
    setModal(true);
}

void TUpgradeWindow::Progress(int position)
{
    progressBar->setValue(position);
}

void TUpgradeWindow::ScriptSaved(const QString& errorFile)
{
    TScriptErrorNotice notice(this);
    notice.SetErrorFile(errorFile);
    notice.exec();
    QThread::msleep(1000);
}
