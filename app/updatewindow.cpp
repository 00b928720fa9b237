#include "app/updatewindow.h"

#include "app/formkit.h"
#include "app/upgradewindow.h"
#include "app/updatepictures.h"
#include "platform/errors.h"
#include "platform/shell.h"
#include "update/helpers.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <cstdlib>

Tfrmzemboupdate* frmzemboupdate = nullptr;

namespace {

const QColor Green(0, 128, 0);
const QString Label9Ready = QStringLiteral("Quendarive.exe - Será atualizado");
const int Label3Left = 401;

// A label whose text changes: it grows with its text, as an auto-sized label does.
void SetText(QLabel* label, const QString& text)
{
    label->setText(text);
    label->adjustSize();
}

QString Sans()
{
    return QStringLiteral("MS Sans Serif");
}

QString Verdana()
{
    return QStringLiteral("Verdana");
}

// A modal message box with the program's title.
void ShowMessage(QWidget* owner, const QString& text, QMessageBox::Icon icon = QMessageBox::NoIcon)
{
    QMessageBox box(icon, Application() ? Application()->Title() : QString(), text, QMessageBox::Ok, owner);
    box.exec();
}

} // namespace

void Halt(int exitCode)
{
    std::_Exit(exitCode);
}

Tfrmzemboupdate::Tfrmzemboupdate(QWidget* owner) : QWidget(owner), FSession(*this), ftpupdate(FSession.Ftp())
{
    setObjectName(QStringLiteral("frmzemboupdate"));
    setWindowTitle(QStringLiteral("Atualização de Sistema"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(PixelFont(Sans(), 11));
    PlaceFixed(this, 909, 628);

    Panel1 = NewPanel(this, "Panel1", QRect(0, 0, 909, 49), Qt::white);
    Image1 = new QLabel(Panel1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(872, 3, 32, 32);
    Image1->setPixmap(UpdateIcon());
    Label1 = NewLabel(Panel1, "Label1", QStringLiteral("Sistema Keldarin"), {8, 2}, PixelFont(Sans(), 19, true),
                      Qt::blue, lfTransparent);
    Label2 = NewLabel(Panel1, "Label2", QStringLiteral("Atualização do Sistema"), {9, 27}, PixelFont(Sans(), 13, true),
                      Qt::black, lfTransparent);

    Panel2 = new QWidget(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setGeometry(0, 50, 909, 578);
    Image2 = new QLabel(Panel2);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setGeometry(0, 0, 908, 550);
    Image2->setPixmap(UpdateBackground(908, 550));

    Label5 = NewLabel(Panel2, "Label5", QStringLiteral("EXE PRINC."), {16, 18}, PixelFont(Verdana(), 16),
                      QColor(0, 0, 128), lfTransparent);
    Label9 = NewLabel(Panel2, "Label9", QStringLiteral("Quendarive.exe - Não verificado"), {116, 19},
                      PixelFont(Sans(), 13, true), Qt::red, lfTransparent);

    ImageList1 = StateBalls();
    for (const QPixmap& ball : ImageList1)
        FStateIcons << QIcon(ball);
    TreeView3 = new QTreeWidget(Panel2);
    TreeView3->setObjectName(QStringLiteral("TreeView3"));
    TreeView3->setGeometry(11, 36, 886, 35);
    TreeView3->setFont(PixelFont(QStringLiteral("Courier New"), 13, true));
    TreeView3->setIndentation(19);
    TreeView3->setRootIsDecorated(false);
    TreeView3->header()->hide();
    TreeView3->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TreeView3->setIconSize(QSize(16, 16));

    Memo3 = new QPlainTextEdit(Panel2);
    Memo3->setObjectName(QStringLiteral("Memo3"));
    Memo3->setGeometry(7, 36, 886, 36);
    Memo3->setFont(PixelFont(QStringLiteral("Courier New"), 13));
    Memo3->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo3->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo3->hide();

    Label10 = NewLabel(Panel2, "Label10", QStringLiteral("Base Principal"), {16, 105}, PixelFont(Verdana(), 15, true),
                       QColor(128, 0, 0), lfTransparent);
    CheckListBox1 = new QListWidget(Panel2);
    CheckListBox1->setObjectName(QStringLiteral("CheckListBox1"));
    CheckListBox1->setGeometry(8, 124, 417, 97);

    Gauge1 = new TGauge(Panel2);
    Gauge1->setObjectName(QStringLiteral("Gauge1"));
    Gauge1->setGeometry(11, 466, 884, 20);
    ProgressBar1 = new QProgressBar(Panel2);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(13, 470, 880, 12);
    ProgressBar1->setMaximum(55000);
    ProgressBar1->hide();

    Button1 = new QPushButton(DownloadGlyph(), QStringLiteral("&Atualizar agora"), Panel2);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(11, 506, 182, 31);
    Button1->setFont(PixelFont(Verdana(), 16, true));
    Button1->setIconSize(QSize(20, 20));
    connect(Button1, &QPushButton::clicked, this, &Tfrmzemboupdate::batualizarClick);

    const QFont status = PixelFont(Sans(), 13, true);
    lblstatus = NewLabel(Panel2, "lblstatus", QStringLiteral(" "), {206, 506}, status, Qt::black, lfTransparent);
    lblcontador = NewLabel(Panel2, "lblcontador", QStringLiteral(" "), {206, 526}, status, Qt::black, lfTransparent);
    Label3 = NewLabel(Panel2, "Label3", QStringLiteral(" "), {Label3Left, 526}, status, Qt::black, lfTransparent);

    Button3 = new QPushButton(ExitGlyph(), QStringLiteral("&Sair"), Panel2);
    Button3->setObjectName(QStringLiteral("Button3"));
    Button3->setGeometry(804, 506, 90, 31);
    Button3->setFont(PixelFont(Verdana(), 19, true));
    Button3->setIconSize(QSize(20, 20));
    connect(Button3, &QPushButton::clicked, this, &Tfrmzemboupdate::bfecharClick);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    StatusPanel1 = new QLabel(QStringLiteral("ZemboUpdate"));
    StatusPanel1->setMinimumWidth(50);
    StatusBar1->addWidget(StatusPanel1, 1); // the last panel takes the bar's width
    const int barHeight = StatusBar1->sizeHint().height();
    StatusBar1->setGeometry(0, 628 - barHeight, 909, barHeight);

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

// A close request during a run stops the transfer at its next block; the
// window closes once the run has unwound.
void Tfrmzemboupdate::closeEvent(QCloseEvent* event)
{
    if (FSession.Executando()) {
        event->ignore();
        FCloseRequested = true;
        FSession.Cancela();
        return;
    }
    QWidget::closeEvent(event);
}

void Tfrmzemboupdate::Falha(const TCheckFailure& failure)
{
    if (failure.DisablesButton())
        Button1->setEnabled(false);
    ShowMessage(this, failure.Message);
    if (failure.OpensDownloadPage())
        ShellOpen(ArchiverDownloadPage());
    Timer2->start();
}

void Tfrmzemboupdate::FormShow()
{
    // Without the operator's confirmation nothing may be checked or changed.
    if (!FConfirmed) {
        Timer2->start();
        return;
    }
    // One update of a folder at a time, whoever runs it.
    if (!FSession.Bloqueia()) {
        ShowMessage(this, QStringLiteral("Outra atualização desta pasta está em andamento."));
        Timer2->start();
        return;
    }
    BytesToTransfer = 0;
    const std::optional<TCheckFailure> failure = FSession.Verifica();
    PROGR = FSession.ProgramFiles();
    if (FSession.ExecutavelVerificado()) {
        SetText(Label9, Label9Ready);
        SetLabelColour(Label9, Green);
        auto* entry = new QListWidgetItem(FSession.Alias(), CheckListBox1);
        entry->setFlags(entry->flags() | Qt::ItemIsUserCheckable);
        entry->setCheckState(failure ? Qt::Unchecked : Qt::Checked);
    }
    if (failure)
        return Falha(*failure);
    StatusPanel1->setText(QStringLiteral("Clique em Atualizar agora ou pressione <ENTER>."));
    Button1->setDefault(true);
    Button1->setFocus();
}

void Tfrmzemboupdate::Timer2Timer()
{
    Timer2->stop();
    close();
}

void Tfrmzemboupdate::FormClose()
{
}

void Tfrmzemboupdate::bfecharClick()
{
    if (!FSession.Executando() && ftpupdate.Connected())
        ftpupdate.Disconnect();
    close();
}

void Tfrmzemboupdate::batualizarClick()
{
    if (FSession.Executando() || ftpupdate.Connected()) {
        ShowMessage(this, QStringLiteral("Conectado no FTP"));
        return;
    }
    Button1->setEnabled(false);
    AtualizaArquivos();
    Button1->setEnabled(true);
    if (FCloseRequested) {
        close();
        return;
    }
    Button1->setFocus(); // Enter starts the next run
}

void Tfrmzemboupdate::Waiting()
{
    // Paint and input (a close request among them) while the run waits.
    QCoreApplication::processEvents();
}

void Tfrmzemboupdate::AtualizaArquivos()
{
    SetText(lblstatus, QStringLiteral(" "));
    TreeView3->clear();
    const TUpdateOutcome outcome = FSession.Atualiza();
    if (outcome.Result == urSemConexao) {
        ShowMessage(this, outcome.Causa);
        Halt(2);
    }
    ResetDisplay();
    SetText(lblstatus, outcome.TextoFinal());
    SetText(lblcontador, QString());
    SetText(Label3, QString());
}

// The counter grows with the file; the file's name moves right of it
// rather than run into it.
void Tfrmzemboupdate::PlaceFileName()
{
    const int x = std::max(Label3Left, lblcontador->text().trimmed().isEmpty() ? 0 : lblcontador->geometry().right() + 8);
    if (Label3->x() != x)
        Label3->move(x, Label3->y());
}

void Tfrmzemboupdate::ResetDisplay()
{
    Gauge1->SetMaxValue(100);
    Gauge1->SetProgress(0);
    ProgressBar1->hide();
    Gauge1->show();
    Gauge1->repaint();
}

int Tfrmzemboupdate::NodeState(int index) const
{
    const QTreeWidgetItem* node = TreeView3->topLevelItem(index);
    return node ? node->data(0, Qt::UserRole).toInt() : -1;
}

void Tfrmzemboupdate::SetNodeState(int index, int state)
{
    if (QTreeWidgetItem* node = TreeView3->topLevelItem(index))
        SetNodeState(node, state);
}

void Tfrmzemboupdate::SetNodeState(QTreeWidgetItem* node, int state)
{
    node->setData(0, Qt::UserRole, state);
    node->setIcon(0, state >= 0 && state < FStateIcons.size() ? FStateIcons.at(state) : QIcon());
}

// ------------------------------------------------------ what the run reports

void Tfrmzemboupdate::Listed(const QStringList& lines)
{
    Memo3->setPlainText(lines.join(u'\n'));
    Memo3->repaint();
}

void Tfrmzemboupdate::Planned(const TUpdatePlan& plan)
{
    // One batch: a large listing costs one layout, not one per line.
    QList<QTreeWidgetItem*> nodes;
    nodes.reserve(plan.Items.size());
    for (const TPlanItem& item : plan.Items) {
        nodes << new QTreeWidgetItem(QStringList{item.Line});
        SetNodeState(nodes.back(), item.State());
    }
    TreeView3->addTopLevelItems(nodes);
    TreeView3->repaint();
}

void Tfrmzemboupdate::FileStarted(int, const QString& name)
{
    SetText(Label3, name);
    PlaceFileName();
}

void Tfrmzemboupdate::SizeKnown(std::uint32_t bytesToTransfer)
{
    BytesToTransfer = bytesToTransfer;
}

void Tfrmzemboupdate::StateChanged(int index, TNodeState state)
{
    SetNodeState(index, state);
    TreeView3->scrollToItem(TreeView3->topLevelItem(index));
    TreeView3->repaint();
}

void Tfrmzemboupdate::FileFailed(int, const QString& message)
{
    ShowMessage(this, message, QMessageBox::Information);
}

void Tfrmzemboupdate::ReplacementFailed(const QString& message)
{
    ShowMessage(this, message);
}

void Tfrmzemboupdate::Status(TIdStatus status, const QString& text)
{
    ftpupdateStatus(status, text);
}

// The display follows a transfer at most every ProgressIntervalMs: a fast
// line delivers thousands of blocks a second, and painting each would
// slow the transfer itself. The last count is always shown.
void Tfrmzemboupdate::TransferBegin()
{
    FProgressShown.invalidate();
    FPendingCount = -1;
    ftpupdateWorkBegin();
}

void Tfrmzemboupdate::TransferProgress(std::int64_t count)
{
    FPendingCount = count;
    if (FProgressShown.isValid() && FProgressShown.elapsed() < ProgressIntervalMs)
        return;
    FProgressShown.start();
    FPendingCount = -1;
    ftpupdateWork(count);
}

void Tfrmzemboupdate::TransferEnd(TWorkMode mode)
{
    if (FPendingCount >= 0)
        ftpupdateWork(FPendingCount);
    FPendingCount = -1;
    ftpupdateWorkEnd(mode);
}

void Tfrmzemboupdate::Error(const QString& text)
{
    Application()->HandleException(text);
}

void Tfrmzemboupdate::Upgrade(const std::function<void()>& upgrade)
{
    TUpgradeWindow window(this);
    FUpgradeWindow = &window;
    window.Executa(upgrade);
    FUpgradeWindow = nullptr;
}

void Tfrmzemboupdate::UpgradeProgress(int position)
{
    if (FUpgradeWindow)
        FUpgradeWindow->Progress(position);
}

void Tfrmzemboupdate::ScriptSaved(const QString& errorFile)
{
    if (FUpgradeWindow)
        FUpgradeWindow->ScriptSaved(errorFile);
}

void Tfrmzemboupdate::UpgradeFailed(const QString& text)
{
    Application()->HandleException(text);
}

// ------------------------------------------------------- transfer display

void Tfrmzemboupdate::ftpupdateWorkBegin()
{
    STime = Now();
    FProgress.Begin();
}

void Tfrmzemboupdate::ftpupdateWork(std::int64_t AWorkCount)
{
    const TProgressTexts texts = FProgress.Work(AWorkCount, BytesToTransfer, STime, Now());
    SetText(lblcontador, texts.Contador);
    PlaceFileName();
    SetText(lblstatus, texts.Status);
    // Paint and input (a close request among them) while the run blocks.
    QCoreApplication::processEvents();
    if (texts.Gauge) {
        Gauge1->SetProgress(*texts.Gauge);
        Gauge1->repaint();
    }
}

void Tfrmzemboupdate::ftpupdateWorkEnd(TWorkMode AWorkMode)
{
    SetText(lblstatus, WorkEndStatus(AWorkMode));
    SetText(lblcontador, WorkEndContador(BytesToTransfer));
    PlaceFileName();
}

void Tfrmzemboupdate::ftpupdateStatus(TIdStatus AStatus, const QString& AStatusText)
{
    StatusPanel1->setText(StatusBarText(AStatus, AStatusText));
    if (AStatus == hsDisconnected)
        ResetDisplay();
    repaint();
}
