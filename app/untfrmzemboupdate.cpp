#include "app/untfrmzemboupdate.h"

#include "app/formkit.h"
#include "update/helpers.h"
#include "app/unit1.h"

#include <QShowEvent>

Tfrmzemboupdate* frmzemboupdate = nullptr;

Tfrmzemboupdate::Tfrmzemboupdate(QWidget* owner) : QWidget(owner)
{
    setObjectName(QStringLiteral("frmzemboupdate"));
    setWindowTitle(QStringLiteral("Atualização de Sistema"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(PixelFont(QStringLiteral("MS Sans Serif"), 11));
    PlaceFixed(this, 909, 628);

    CheckListBox1 = new QListWidget(this);
    CheckListBox1->setObjectName(QStringLiteral("CheckListBox1"));
    CheckListBox1->setGeometry(8, 174, 417, 97);

    Timer2 = new QTimer(this);
    Timer2->setInterval(100);
    connect(Timer2, &QTimer::timeout, this, &Tfrmzemboupdate::Timer2Timer);
}

Tfrmzemboupdate::~Tfrmzemboupdate()
{
    if (frmzemboupdate == this)
        frmzemboupdate = nullptr;
}

void Tfrmzemboupdate::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void Tfrmzemboupdate::FormShow()
{
    PROGR = program_files();
    // Without the operator's confirmation nothing may be checked or changed.
    if (!Form1 || Form1->Tag == 0) {
        Timer2->start();
        return;
    }
    delete Form1;
}

void Tfrmzemboupdate::Timer2Timer()
{
    Timer2->stop();
    close();
}
