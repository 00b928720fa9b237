#include "app/scripterrornotice.h"

#include "widgets/label3d.h"
#include "widgets/netgradient.h"

TForm2* Form2 = nullptr;

TForm2::TForm2(QWidget* owner) : TFormDialog(owner)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Erro"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(PixelFont(QStringLiteral("MS Sans Serif"), 11));
    PlaceFixed(this, 826, 266);

    NetGradient1 = new TNetGradient(this);
    NetGradient1->setObjectName(QStringLiteral("NetGradient1"));
    NetGradient1->setGeometry(-88, -344, 914, 610);
    NetGradient1->SetBeginColor(clMaroon);
    NetGradient1->SetEndColor(clBtnFace);
    NetGradient1->SetCaption(QStringLiteral(" "));

    myLabel3d1 = new TmyLabel3D(this);
    myLabel3d1->setObjectName(QStringLiteral("myLabel3d1"));
    myLabel3d1->SetAutoSize(false);
    myLabel3d1->setGeometry(96, 0, 635, 234);
    myLabel3d1->SetFont(PixelFont(QStringLiteral("Verdana"), 64, true));
    myLabel3d1->SetFontColor(clYellow);
    myLabel3d1->SetColor(clBlack);
    myLabel3d1->SetTextStyle(tsRaised);
    myLabel3d1->SetShift(1);
    myLabel3d1->SetAlignment(taCenter);
    myLabel3d1->SetWordWrap(true);
    myLabel3d1->SetTransparent(true);
    myLabel3d1->SetCaption(QStringLiteral("ERRO DE SCRIPT AVISAR BELMORA SISTEMAS"));

    Label1 = NewLabel(this, "Label1", QStringLiteral("SCRIPT EM EXECUÇÃO SALVO:"), {8, 239},
                      PixelFont(QStringLiteral("Verdana"), 13, true), Qt::black, lfOpaque);
    Label1->setGeometry(8, 239, 716, 16);
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    Button3 = new QPushButton(ConfirmGlyph(), QStringLiteral("&Cont.."), this);
    Button3->setObjectName(QStringLiteral("Button3"));
    Button3->setGeometry(728, 236, 94, 26);
    connect(Button3, &QPushButton::clicked, this, &TForm2::Button3Click);
}

TForm2::~TForm2()
{
    if (Form2 == this)
        Form2 = nullptr;
}

void TForm2::Button3Click()
{
    close();
}
