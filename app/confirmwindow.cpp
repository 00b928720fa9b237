#include "app/confirmwindow.h"

#include "app/scripterrornotice.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "widgets/label3d.h"
#include "widgets/netgradient.h"

TForm1* Form1 = nullptr;

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

TForm1::TForm1(QWidget* owner) : TFormDialog(owner)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Atualização"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    setFont(PixelFont(QStringLiteral("MS Sans Serif"), 11));
    PlaceFixed(this, 906, 610);

    NetGradient1 = new TNetGradient(this);
    NetGradient1->setObjectName(QStringLiteral("NetGradient1"));
    NetGradient1->setGeometry(0, 0, 906, 610);
    NetGradient1->SetBeginColor(Orange);
    NetGradient1->SetEndColor(clBtnFace);
    NetGradient1->SetCaption(QStringLiteral(" "));
    NetGradient1->SetTextTop(5);
    NetGradient1->SetTextLeft(12);

    myLabel3d1 = new TmyLabel3D(this);
    myLabel3d1->setObjectName(QStringLiteral("myLabel3d1"));
    myLabel3d1->SetAutoSize(false);
    myLabel3d1->setGeometry(6, 26, 889, 528);
    myLabel3d1->SetFont(PixelFont(QStringLiteral("Verdana"), 73, true));
    myLabel3d1->SetFontColor(clWhite);
    myLabel3d1->SetColor(clBlack);
    myLabel3d1->SetTextStyle(tsRaised);
    myLabel3d1->SetShift(1);
    myLabel3d1->SetBorder(false);
    myLabel3d1->SetAlignment(taCenter);
    myLabel3d1->SetWordWrap(true);
    myLabel3d1->SetTransparent(true);
    myLabel3d1->SetCaption(
        QStringLiteral("FECHE TODOS OS APLICATIVOS ANTES DE FAZER A ATUALIZAÇÃO *inclusive os terminais**"));

    Label2 = NewLabel(this, "Label2", QStringLiteral("Sistema Keldarin"), {595, 0},
                      PixelFont(QStringLiteral("Verdana"), 32, true, true), Qt::black, lfTransparent);
    CheckBox1 = MakeCheckBox(this, "CheckBox1", {39, 560});
    Label1 = NewLabel(this, "Label1", QStringLiteral("Todos Aplicativos locais foram fechados"), {57, 560},
                      PixelFont(QStringLiteral("Verdana"), 16, true), Qt::black, lfOpaque);
    CheckBox2 = MakeCheckBox(this, "CheckBox2", {39, 583});
    Label3 = NewLabel(this, "Label3", QStringLiteral("Em todos os terminais os Sistemas foram fechados"), {57, 583},
                      PixelFont(QStringLiteral("Verdana"), 16, true), Qt::black, lfOpaque);

    BitBtn1 = new QPushButton(ContinueGlyph(), QStringLiteral("&Continuar  "), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(629, 567, 139, 38);
    BitBtn1->setLayoutDirection(Qt::RightToLeft); // picture right of the text
    BitBtn1->setEnabled(false);

    Button3 = new QPushButton(ExitGlyph(), QStringLiteral("&Sair"), this);
    Button3->setObjectName(QStringLiteral("Button3"));
    Button3->setGeometry(795, 567, 90, 38);

    Timer1 = new QTimer(this);
    Timer1->setInterval(100);

    connect(CheckBox1, &QCheckBox::toggled, this, &TForm1::CheckBox1Click);
    connect(CheckBox2, &QCheckBox::toggled, this, &TForm1::CheckBox1Click);
    connect(BitBtn1, &QPushButton::clicked, this, &TForm1::BitBtn1Click);
    connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
}

TForm1::~TForm1()
{
    if (Form1 == this)
        Form1 = nullptr;
}

void TForm1::ListaArquivos(const QString& pattern, QStringList& list)
{
    for (const TSearchEntry& entry : FindEntries(QString(), pattern))
        list.append(entry.Name);
    SortTextLocale(list);
}

void TForm1::FormShow()
{
    QStringList found;
    ListaArquivos(QStringLiteral("SCRIPT_ERRO*.*"), found);
    if (found.isEmpty())
        return;
    Timer1->start();
    FNotice = std::make_unique<TScriptErrorNotice>(this);
    FNotice->SetErrorFile(found.first());
}

void TForm1::Timer1Timer()
{
    Timer1->stop();
    hide();
    FNotice->exec();
    FNotice.reset();
    close();
}

void TForm1::CheckBox1Click()
{
    BitBtn1->setEnabled(CheckBox1->isChecked() && CheckBox2->isChecked());
}

void TForm1::BitBtn1Click()
{
    Tag = 1;
    close();
}

void TForm1::Button3Click()
{
    close();
}
