#include "app/uaguarde.h"

#include "update/helpers.h"
#include "app/unit2.h"
#include "db/catalog.h"
#include "db/ibdatabase.h"
#include "db/ibquery.h"
#include "platform/codepage.h"
#include "platform/datetime.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "settings.h"
#include "upgrade/ibscript.h"

#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QThread>
#include <QTimer>
#include <cmath>

Taguarde* aguarde = nullptr;

namespace {

const QString VersionCheck = QStringLiteral(
    "SELECT COUNT(*) CT FROM RDB$RELATION_FIELDS where RDB$FIELD_NAME='VERSAO' AND RDB$RELATION_NAME='VERSAO'");

// The text of any error that reaches the run.
QString MessageOf(const std::exception& error)
{
    if (const auto* e = dynamic_cast<const Exception*>(&error))
        return e->Message();
    return QString::fromUtf8(error.what());
}

QLabel* NewLabel(QWidget* owner, const char* name, const QString& caption, int left, int top, const QFont& font,
                 const QColor& colour)
{
    auto* label = new QLabel(caption, owner);
    label->setObjectName(QLatin1String(name));
    label->setFont(font);
    label->move(left, top);
    label->adjustSize();
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    label->setAttribute(Qt::WA_TranslucentBackground);
    return label;
}

} // namespace

Taguarde::Taguarde(QWidget* owner, QListWidget* aliasList) : TFormDialog(owner), FAliasList(aliasList)
{
    setObjectName(QStringLiteral("aguarde"));
    setWindowTitle(QStringLiteral("Aviso"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setFont(PixelFont(QStringLiteral("MS Sans Serif"), 11));
    setFixedSize(183, 90);
    move(150, 105);

    Shape1 = new QWidget(this);
    Shape1->setObjectName(QStringLiteral("Shape1"));
    Shape1->setGeometry(0, 0, 183, 90);
    Shape1->setAutoFillBackground(true);
    QPalette black = Shape1->palette();
    black.setColor(QPalette::Window, Qt::black);
    Shape1->setPalette(black);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setGeometry(0, 1, 183, 37);
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);

    AGUARDE = NewLabel(this, "AGUARDE", QStringLiteral("Aguarde..."), 18, 10,
                       PixelFont(QStringLiteral("Verdana"), 15, true), QColor(255, 255, 242));
    Label1 = NewLabel(this, "Label1", QStringLiteral("Verificando Scripts"), 32, 48,
                      PixelFont(QStringLiteral("MS Sans Serif"), 11), QColor(192, 192, 192));

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
    Database1->SetAliasName(QStringLiteral("Check"));
    Database1->SetDatabaseName(QStringLiteral("Sistema_my"));
    Database1->SetLoginPrompt(false);

    Query3 = new TQuery(this);
    Query3->setObjectName(QStringLiteral("Query3"));
    Query3->SetDatabaseName(QStringLiteral("Sistema_my"));
    Query2 = new TQuery(this);
    Query2->setObjectName(QStringLiteral("Query2"));
    Query2->SetDatabaseName(QStringLiteral("Sistema_my"));
    Table2 = new TTable(this);
    Table2->setObjectName(QStringLiteral("Table2"));
    Table2->SetDatabaseName(QStringLiteral("Sistema_my"));
    Table2->SetTableName(QStringLiteral("scripts"));
    Table2->SetIndexFieldNames(QStringLiteral("programa;versao"));
    Table2->SetMasterSource(Query2);
    Table2->SetMasterFields(QStringLiteral("programa;versao"));
    DBMemo1 = new TDBMemo(this);
    DBMemo1->setObjectName(QStringLiteral("DBMemo1"));
    DBMemo1->SetDataSource(Table2, QStringLiteral("texto"));

    IBTransaction1 = new TIBTransaction(this);
    IBTransaction1->setObjectName(QStringLiteral("IBTransaction1"));
    IBTransaction2 = new TIBTransaction(this);
    IBTransaction2->setObjectName(QStringLiteral("IBTransaction2"));
    IBDatabase1 = new TIBDatabase(this);
    IBDatabase1->setObjectName(QStringLiteral("IBDatabase1"));
    IBDatabase1->SetServerType(QStringLiteral("IBServer"));
    IBDatabase1->SetSQLDialect(1);
    IBDatabase1->SetLoginPrompt(false);
    IBDatabase1->SetParams({QStringLiteral("user_name=") + QLatin1String(Settings::CustomerDbUser),
                            QStringLiteral("password=") + QLatin1String(Settings::CustomerDbPassword)});
    IBDatabase1->SetDefaultTransaction(IBTransaction1);
    IBTransaction2->SetDefaultDatabase(IBDatabase1);

    IBQuery1 = new TIBQuery(this);
    IBQuery1->setObjectName(QStringLiteral("IBQuery1"));
    IBQuery1->SetDatabase(IBDatabase1);
    IBQuery1->SetTransaction(IBTransaction2);

    IBScript1 = std::make_unique<TIBScript>();
    IBScript1->SetDatabase(IBDatabase1);
    IBScript1->SetTransaction(IBTransaction1);
    IBScript1->SetTerminator(QStringLiteral(";"));

    FormCreate();
}

Taguarde::~Taguarde()
{
    // The runner and the statements go before the connection they use.
    IBScript1.reset();
    delete IBQuery1;
    delete IBDatabase1;
    if (aguarde == this)
        aguarde = nullptr;
}

void Taguarde::FormCreate()
{
    tipo.clear();
    Database1->SetParams(
        {QStringLiteral("USER NAME=") + FromAnsi(DecodificaTextoAnsi(Settings::CatalogUserScrambled)),
         QStringLiteral("PASSWORD=") + FromAnsi(DecodificaTextoAnsi(Settings::CatalogPasswordScrambled))});
}

void Taguarde::FormShow()
{
    Timer1->start();
}

void Taguarde::Timer1Timer()
{
    Timer1->stop();
    QStringList work;
    if (FAliasList)
        for (int i = 0; i < FAliasList->count(); ++i)
            if (FAliasList->item(i)->checkState() == Qt::Checked)
                work << QStringLiteral("M-") + FAliasList->item(i)->text();
    Concluido = true;
    try {
        for (const QString& entry : work)
            AtualizaBase(entry);
    } catch (const std::exception& error) {
        // Nothing the run left half-open may survive it: the next showing
        // starts from a closed database.
        FechaTudo();
        Concluido = false;
        Application()->HandleException(MessageOf(error));
    }
    tipo.clear();
    close();
}

void Taguarde::VersionQuery(const QString& sql)
{
    IBQuery1->SQLClear();
    IBQuery1->SQLAdd(sql);
}

void Taguarde::AtualizaBase(const QString& entry)
{
    const QString alias = entry.mid(2, 100);
    IBDatabase1->SetDatabaseName(PegaBDEdados(alias, QStringLiteral("SERVER NAME")));
    tipo = QStringLiteral("KELDARIN");
    IBDatabase1->Open();

    VersionQuery(VersionCheck);
    IBQuery1->Open();
    if (IBQuery1->FieldByName(QStringLiteral("CT")).AsInteger() == 0) {
        IBTransaction2->Rollback();
        VersionQuery(QStringLiteral("CREATE TABLE VERSAO (VERSAO VARCHAR(10));"));
        IBQuery1->ExecSQL();
        IBTransaction2->Commit();
        VersionQuery(QStringLiteral("insert into versao (versao) values ('0');"));
        IBQuery1->ExecSQL();
        IBTransaction2->Commit();
    }
    if (IBQuery1->Active())
        IBTransaction2->Rollback();

    VersionQuery(QStringLiteral("select versao from versao"));
    IBQuery1->Open();
    QString current = IBQuery1->FieldByName(QStringLiteral("versao")).AsString();
    if (current.isNull())
        current = QStringLiteral(""); // no row: the empty version, which a null would not be
    IBQuery1->Close();
    IBTransaction2->Rollback();

    // The version goes in as a value, never as text of the statement.
    const QString condition = QStringLiteral(" from scripts where programa=? and versao>? and liberado='S' order by versao");
    Query3->SetSQL({QStringLiteral("select count(*) ct") + condition});
    Query3->SetBindValues({tipo, current});
    Query3->Open();
    const int count = Query3->FieldByName(QStringLiteral("ct")).AsInteger();
    Query3->Close();
    Query2->SetSQL({QStringLiteral("select programa,versao") + condition});
    Query2->SetBindValues({tipo, current});
    Query2->Open();

    pb1->setMaximum(100);
    int processed = 0;
    bool failed = false;
    bool ran = false;
    while (!Query2->Eof() && !failed) {
        Table2->Open();
        ran = true;
        IBScript1->SetScript(DBMemo1->Lines());
        Table2->Close();
        try {
            ExecutaScript(*IBScript1);
        } catch (const std::exception& error) {
            failed = true;
            SalvaScriptComErro(entry, MessageOf(error));
        }
        try {
            IBTransaction1->Commit();
        } catch (const std::exception&) {
            // nothing to commit, or the script's own end of transaction
        }
        ++processed;
        pb1->setValue(PosicaoProgresso(count, processed, pb1->minimum(), pb1->maximum()));
        pb1->repaint();
        if (!failed)
            Query2->Next();
    }
    pb1->setValue(100);
    pb1->repaint();

    if (ran) {
        QString reached = Query2->FieldByName(QStringLiteral("versao")).AsString();
        reached.replace(u'\'', QStringLiteral("''"));
        VersionQuery(QStringLiteral("update versao set versao='") + reached + QStringLiteral("';"));
        IBQuery1->ExecSQL();
        IBTransaction2->Commit();
    }
    Query2->Close();
    IBDatabase1->Close();
}

void Taguarde::SalvaScriptComErro(const QString& entry, const QString& message)
{
    QStringList& script = IBScript1->Script();
    QStringList header{QStringLiteral("/* ERRO: "), QStringLiteral(" ")};
    header += SplitLines(message);
    header += {QStringLiteral(" "), QStringLiteral(".....  */"), QStringLiteral(" ")};
    script = header + script;
    Tag = 1;

    const QString fileName = NomeArquivoErro(entry, Now());
    try {
        WriteAnsiLines(fileName, script);
        const std::unique_ptr<TForm2> notice(Form2 = new TForm2(this));
        Form2->Label1->setText(QStringLiteral("SCRIPT EM EXECUÇÃO SALVO: ") + fileName);
        Form2->exec();
    } catch (const std::exception& error) {
        Application()->HandleException(MessageOf(error));
    }
    QThread::msleep(1000);
}

void Taguarde::FechaTudo()
{
    Table2->Close();
    Query3->Close();
    Query2->Close();
    try {
        IBDatabase1->Close();
    } catch (const std::exception&) {
        // closed by force on the way out
    }
}

void ExecutaScript(TIBScript& runner)
{
    QStringList& lines = runner.Script();
    const qsizetype count = lines.size();
    for (qsizetype i = 0; i < count; ++i)
        if (UpperCase(lines[i]).contains(QLatin1String("COMMIT WORK")))
            lines[i] = QStringLiteral(" ");
    runner.ExecuteScript();
}

int PosicaoProgresso(int count, int processed, int minimum, int maximum)
{
    const double exact = 100.0 / count * processed; // count 0 gives infinity
    if (!(exact < maximum))
        return maximum;
    const double rounded = std::nearbyint(exact); // the default mode rounds halves to even
    return rounded < minimum ? minimum : int(rounded);
}

QString NomeArquivoErro(const QString& entry, const TDateTime& moment)
{
    const QString date = TrocaCaractere(DateToStr(moment), QStringLiteral("/"), QStringLiteral("-"));
    const QString time = TrocaCaractere(TimeToStr(moment), QStringLiteral(":"), QStringLiteral("-"));
    return QStringLiteral("SCRIPT_ERRO_DT_") + date + QStringLiteral("_HR_") + time + QStringLiteral(" ") + entry +
           QStringLiteral(".TXT");
}
