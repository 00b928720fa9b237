#include "app/scripterrornotice.h"

#include "widgets/label3d.h"
#include "widgets/netgradient.h"

TScriptErrorNotice::TScriptErrorNotice(QWidget* owner) : TFormDialog(owner)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Erro"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(PixelFont(QStringLiteral("MS Sans Serif"), 11));
    PlaceFixed(this, 826, 266);

    captionBar = new TNetGradient(this);
    captionBar->setObjectName(QStringLiteral("NetGradient1"));
    captionBar->setGeometry(-88, -344, 914, 610);
    captionBar->SetBeginColor(clMaroon);
    captionBar->SetEndColor(clBtnFace);
    captionBar->SetCaption(QStringLiteral(" "));

    warningLabel = new TmyLabel3D(this);
    warningLabel->setObjectName(QStringLiteral("myLabel3d1"));
    warningLabel->SetAutoSize(false);
    warningLabel->setGeometry(96, 0, 635, 234);
    warningLabel->SetFont(PixelFont(QStringLiteral("Verdana"), 64, true));
    warningLabel->SetFontColor(clYellow);
    warningLabel->SetColor(clBlack);
    warningLabel->SetTextStyle(tsRaised);
    warningLabel->SetShift(1);
    warningLabel->SetAlignment(taCenter);
    warningLabel->SetWordWrap(true);
    warningLabel->SetTransparent(true);
    warningLabel->SetCaption(QStringLiteral("ERRO DE SCRIPT AVISAR BELMORA SISTEMAS"));

    fileLabel = NewLabel(this, "Label1", QStringLiteral("SCRIPT EM EXECUÇÃO SALVO:"), {8, 239},
                         PixelFont(QStringLiteral("Verdana"), 13, true), Qt::black, lfOpaque);
    fileLabel->setGeometry(8, 239, 716, 16);
    fileLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    continueButton = new QPushButton(ConfirmGlyph(), QStringLiteral("&Cont.."), this);
    continueButton->setObjectName(QStringLiteral("Button3"));
    continueButton->setGeometry(728, 236, 94, 26);
    connect(continueButton, &QPushButton::clicked, this, &TScriptErrorNotice::continueButtonClick);
}

void TScriptErrorNotice::SetErrorFile(const QString& errorFile)
{
    fileLabel->setText(QStringLiteral("SCRIPT EM EXECUÇÃO SALVO: ") + errorFile);
}

void TScriptErrorNotice::continueButtonClick()
{
    close();
}
