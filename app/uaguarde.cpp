#include "app/uaguarde.h"

#include "app/unit2.h"
#include "db/catalog.h"
#include "db/ibdatabase.h"
#include "platform/datetime.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "update/connections.h"
#include "update/helpers.h"

#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QThread>
#include <QTimer>

Taguarde* aguarde = nullptr;

Taguarde::Taguarde(QWidget* owner, QListWidget* aliasList) : TFormDialog(owner), FAliasList(aliasList)
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

    Database1 = new TDatabase(this);
    Database1->setObjectName(QStringLiteral("Database1"));
    ConfiguraCatalogo(*Database1);

    IBDatabase1 = new TIBDatabase(this);
    IBDatabase1->setObjectName(QStringLiteral("IBDatabase1"));
    ConfiguraBaseCliente(*IBDatabase1);

    FRun = std::make_unique<TUpgradeRun>(*Database1, *IBDatabase1);
    Query2 = FRun->Query2();
    Query3 = FRun->Query3();
    Table2 = FRun->Table2();
    DBMemo1 = FRun->DBMemo1();
    IBTransaction1 = FRun->IBTransaction1();
    IBTransaction2 = FRun->IBTransaction2();
    IBQuery1 = FRun->IBQuery1();
    IBScript1 = FRun->IBScript1();

    FormCreate();
}

Taguarde::~Taguarde()
{
    // The run's statements and transactions go before the connection they use.
    FRun.reset();
    delete IBDatabase1;
    if (aguarde == this)
        aguarde = nullptr;
}

void Taguarde::FormCreate()
{
    tipo.clear();
    Database1->SetParams(ParametrosCatalogo());
}

void Taguarde::FormShow()
{
    Timer1->start();
}

void Taguarde::Timer1Timer()
{
    Timer1->stop();
    QStringList aliases;
    if (FAliasList)
        for (int i = 0; i < FAliasList->count(); ++i)
            if (FAliasList->item(i)->checkState() == Qt::Checked)
                aliases << FAliasList->item(i)->text();
    FRun->Run(aliases, *this);
    tipo.clear();
    close();
}

void Taguarde::Starting(const QString&, const QString& programa)
{
    tipo = programa;
}

void Taguarde::Progress(int position)
{
    pb1->setValue(position);
    pb1->repaint();
}

// The message is already in the header of saved.
void Taguarde::ScriptFailed(const QString& entry, const QString&, const QStringList& saved)
{
    Tag = 1;
    const QString fileName = NomeArquivoErro(entry, Now());
    try {
        WriteAnsiLines(fileName, saved);
        const std::unique_ptr<TForm2> notice(Form2 = new TForm2(this));
        Form2->Label1->setText(QStringLiteral("SCRIPT EM EXECUÇÃO SALVO: ") + fileName);
        Form2->exec();
    } catch (const std::exception& error) {
        Application()->HandleException(QString::fromUtf8(error.what()));
    }
    QThread::msleep(1000);
}

void Taguarde::Finished(const TUpgradeOutcome& outcome)
{
    Concluido = outcome.Completed;
    if (!outcome.Completed)
        Application()->HandleException(outcome.Error);
}

QString NomeArquivoErro(const QString& entry, const TDateTime& moment)
{
    const QString date = TrocaCaractere(DateToStr(moment), QStringLiteral("/"), QStringLiteral("-"));
    const QString time = TrocaCaractere(TimeToStr(moment), QStringLiteral(":"), QStringLiteral("-"));
    return QStringLiteral("SCRIPT_ERRO_DT_") + date + QStringLiteral("_HR_") + time + QStringLiteral(" ") + entry +
           QStringLiteral(".TXT");
}
