#include "app/confirmwindow.h"

#include "app/scripterrornotice.h"
#include "update/session.h"
#include "widgets/label3d.h"
#include "widgets/netgradient.h"

namespace {

constexpr TColor Orange = TColor::Rgb(202, 101, 0);

QCheckBox* MakeCheckBox(QWidget* owner, const char* name, QPoint at)
{
    auto* box = new QCheckBox(QStringLiteral(" "), owner);
    box->setObjectName(QLatin1String(name));
    box->setGeometry(at.x(), at.y(), 15, 17);
    box->setFont(PixelFont(QString(), 16));
    box->setAutoFillBackground(true);
    QPalette p = box->palette();
    p.setColor(QPalette::Window, Orange.Resolve());
    p.setColor(QPalette::WindowText, clGreen.Resolve());
    box->setPalette(p);
    return box;
}

} // namespace

TConfirmWindow::TConfirmWindow(QWidget* owner) : TFormDialog(owner)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Atualização"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    setFont(PixelFont(QStringLiteral("MS Sans Serif"), 11));
    PlaceFixed(this, 906, 610);

    captionBar = new TNetGradient(this);
    captionBar->setObjectName(QStringLiteral("NetGradient1"));
    captionBar->setGeometry(0, 0, 906, 610);
    captionBar->SetBeginColor(Orange);
    captionBar->SetEndColor(clBtnFace);
    captionBar->SetCaption(QStringLiteral(" "));
    captionBar->SetTextTop(5);
    captionBar->SetTextLeft(12);

    warningLabel = new TmyLabel3D(this);
    warningLabel->setObjectName(QStringLiteral("myLabel3d1"));
    warningLabel->SetAutoSize(false);
    warningLabel->setGeometry(6, 26, 889, 528);
    warningLabel->SetFont(PixelFont(QStringLiteral("Verdana"), 73, true));
    warningLabel->SetFontColor(clWhite);
    warningLabel->SetColor(clBlack);
    warningLabel->SetTextStyle(tsRaised);
    warningLabel->SetShift(1);
    warningLabel->SetBorder(false);
    warningLabel->SetAlignment(taCenter);
    warningLabel->SetWordWrap(true);
    warningLabel->SetTransparent(true);
    warningLabel->SetCaption(
        QStringLiteral("FECHE TODOS OS APLICATIVOS ANTES DE FAZER A ATUALIZAÇÃO *inclusive os terminais**"));

    systemLabel = NewLabel(this, "Label2", QStringLiteral("Sistema Keldarin"), {595, 0},
                           PixelFont(QStringLiteral("Verdana"), 32, true, true), Qt::black, lfTransparent);
    localAppsClosed = MakeCheckBox(this, "CheckBox1", {39, 560});
    localAppsLabel = NewLabel(this, "Label1", QStringLiteral("Todos Aplicativos locais foram fechados"), {57, 560},
                              PixelFont(QStringLiteral("Verdana"), 16, true), Qt::black, lfOpaque);
    terminalsClosed = MakeCheckBox(this, "CheckBox2", {39, 583});
    terminalsLabel = NewLabel(this, "Label3", QStringLiteral("Em todos os terminais os Sistemas foram fechados"),
                              {57, 583}, PixelFont(QStringLiteral("Verdana"), 16, true), Qt::black, lfOpaque);

    continueButton = new QPushButton(ContinueGlyph(), QStringLiteral("&Continuar  "), this);
    continueButton->setObjectName(QStringLiteral("BitBtn1"));
    continueButton->setGeometry(629, 567, 139, 38);
    continueButton->setLayoutDirection(Qt::RightToLeft); // picture right of the text
    continueButton->setEnabled(false);

    exitButton = new QPushButton(ExitGlyph(), QStringLiteral("&Sair"), this);
    exitButton->setObjectName(QStringLiteral("Button3"));
    exitButton->setGeometry(795, 567, 90, 38);

    noticeTimer = new QTimer(this);
    noticeTimer->setObjectName(QStringLiteral("Timer1"));
    noticeTimer->setInterval(100);

    connect(localAppsClosed, &QCheckBox::toggled, this, &TConfirmWindow::closedBoxToggled);
    connect(terminalsClosed, &QCheckBox::toggled, this, &TConfirmWindow::closedBoxToggled);
    connect(continueButton, &QPushButton::clicked, this, &TConfirmWindow::continueButtonClick);
    connect(exitButton, &QPushButton::clicked, this, &TConfirmWindow::exitButtonClick);
    connect(noticeTimer, &QTimer::timeout, this, &TConfirmWindow::noticeTimerTimeout);
}

TConfirmWindow::~TConfirmWindow() = default;

void TConfirmWindow::FormShow()
{
    const QString pending = ArquivoErroPendente();
    if (pending.isEmpty())
        return;
    noticeTimer->start();
    FNotice = std::make_unique<TScriptErrorNotice>(this);
    FNotice->SetErrorFile(pending);
}

void TConfirmWindow::noticeTimerTimeout()
{
    noticeTimer->stop();
    hide();
    FNotice->exec();
    FNotice.reset();
    close();
}

void TConfirmWindow::closedBoxToggled()
{
    continueButton->setEnabled(localAppsClosed->isChecked() && terminalsClosed->isChecked());
}

void TConfirmWindow::continueButtonClick()
{
    FConfirmed = true;
    close();
}

void TConfirmWindow::exitButtonClick()
{
    close();
}
