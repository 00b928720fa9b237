#include "app/updatewindow.h"

#include "app/formkit.h"
#include "app/upgradewindow.h"
#include "app/updatepictures.h"
#include "platform/errors.h"
#include "platform/shell.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>

namespace {

const QColor Green(0, 128, 0);
const QString MainExecutableReady = QStringLiteral("Quendarive.exe - Será atualizado");
const int CurrentFileLeft = 401;

// A label whose text changes: its size follows its text.
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

// What the checks found, taken from the session's thread to the window's.
struct TUpdateWindow::TChecks {
    std::optional<TRefusal> Refusal;
    bool ExecutavelVerificado = false;
    QString Alias;
    QString ProgramFiles;
};

TUpdateWindow::TUpdateWindow(QWidget* owner) : QWidget(owner), FSession(*this, this)
{
    setObjectName(QStringLiteral("frmzemboupdate"));
    setWindowTitle(QStringLiteral("Atualização de Sistema"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(PixelFont(Sans(), 11));
    PlaceFixed(this, 909, 628);

    headerPanel = NewPanel(this, "Panel1", QRect(0, 0, 909, 49), Qt::white);
    iconImage = new QLabel(headerPanel);
    iconImage->setObjectName(QStringLiteral("Image1"));
    iconImage->setGeometry(872, 3, 32, 32);
    iconImage->setPixmap(UpdateIcon());
    titleLabel = NewLabel(headerPanel, "Label1", QStringLiteral("Sistema Keldarin"), {8, 2},
                          PixelFont(Sans(), 19, true), Qt::blue, lfTransparent);
    subtitleLabel = NewLabel(headerPanel, "Label2", QStringLiteral("Atualização do Sistema"), {9, 27},
                             PixelFont(Sans(), 13, true), Qt::black, lfTransparent);

    bodyPanel = new QWidget(this);
    bodyPanel->setObjectName(QStringLiteral("Panel2"));
    bodyPanel->setGeometry(0, 50, 909, 578);
    backgroundImage = new QLabel(bodyPanel);
    backgroundImage->setObjectName(QStringLiteral("Image2"));
    backgroundImage->setGeometry(0, 0, 908, 550);
    backgroundImage->setPixmap(UpdateBackground(908, 550));

    mainExecutableCaption = NewLabel(bodyPanel, "Label5", QStringLiteral("EXE PRINC."), {16, 18},
                                     PixelFont(Verdana(), 16), QColor(0, 0, 128), lfTransparent);
    mainExecutableLabel = NewLabel(bodyPanel, "Label9", QStringLiteral("Quendarive.exe - Não verificado"), {116, 19},
                                   PixelFont(Sans(), 13, true), Qt::red, lfTransparent);

    stateBalls = StateBalls();
    for (const QPixmap& ball : stateBalls)
        FStateIcons << QIcon(ball);
    filesTree = new QTreeWidget(bodyPanel);
    filesTree->setObjectName(QStringLiteral("TreeView3"));
    filesTree->setGeometry(11, 36, 886, 35);
    filesTree->setFont(PixelFont(QStringLiteral("Courier New"), 13, true));
    filesTree->setIndentation(19);
    filesTree->setRootIsDecorated(false);
    filesTree->header()->hide();
    filesTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    filesTree->setIconSize(QSize(16, 16));

    databaseCaption = NewLabel(bodyPanel, "Label10", QStringLiteral("Base Principal"), {16, 105},
                               PixelFont(Verdana(), 15, true), QColor(128, 0, 0), lfTransparent);
    aliasList = new QListWidget(bodyPanel);
    aliasList->setObjectName(QStringLiteral("CheckListBox1"));
    aliasList->setGeometry(8, 124, 417, 97);

    gauge = new TGauge(bodyPanel);
    gauge->setObjectName(QStringLiteral("Gauge1"));
    gauge->setGeometry(11, 466, 884, 20);

    updateButton = new QPushButton(DownloadGlyph(), QStringLiteral("&Atualizar agora"), bodyPanel);
    updateButton->setObjectName(QStringLiteral("Button1"));
    updateButton->setGeometry(11, 506, 182, 31);
    updateButton->setFont(PixelFont(Verdana(), 16, true));
    updateButton->setIconSize(QSize(20, 20));
    connect(updateButton, &QPushButton::clicked, this, &TUpdateWindow::updateButtonClick);

    const QFont status = PixelFont(Sans(), 13, true);
    statusLabel = NewLabel(bodyPanel, "lblstatus", QStringLiteral(" "), {206, 506}, status, Qt::black, lfTransparent);
    counterLabel =
        NewLabel(bodyPanel, "lblcontador", QStringLiteral(" "), {206, 526}, status, Qt::black, lfTransparent);
    currentFileLabel =
        NewLabel(bodyPanel, "Label3", QStringLiteral(" "), {CurrentFileLeft, 526}, status, Qt::black, lfTransparent);

    exitButton = new QPushButton(ExitGlyph(), QStringLiteral("&Sair"), bodyPanel);
    exitButton->setObjectName(QStringLiteral("Button3"));
    exitButton->setGeometry(804, 506, 90, 31);
    exitButton->setFont(PixelFont(Verdana(), 19, true));
    exitButton->setIconSize(QSize(20, 20));
    connect(exitButton, &QPushButton::clicked, this, &TUpdateWindow::exitButtonClick);

    statusBar = new QStatusBar(this);
    statusBar->setObjectName(QStringLiteral("StatusBar1"));
    statusBar->setSizeGripEnabled(false);
    statusPanel = new QLabel(QStringLiteral("ZemboUpdate"));
    statusPanel->setObjectName(QStringLiteral("StatusPanel1"));
    statusPanel->setMinimumWidth(50);
    statusBar->addWidget(statusPanel, 1); // the last panel takes the bar's width
    const int barHeight = statusBar->sizeHint().height();
    statusBar->setGeometry(0, 628 - barHeight, 909, barHeight);

    closeTimer = new QTimer(this);
    closeTimer->setObjectName(QStringLiteral("Timer2"));
    closeTimer->setInterval(100);
    connect(closeTimer, &QTimer::timeout, this, &TUpdateWindow::closeTimerTimeout);
}

TUpdateWindow::~TUpdateWindow() = default;

void TUpdateWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

// A close request during a run stops the transfer at its next block; the
// window closes once the run has unwound.
void TUpdateWindow::closeEvent(QCloseEvent* event)
{
    if (FSession.Ocupado()) {
        event->ignore();
        FCloseRequested = true;
        FSession.Cancela();
        return;
    }
    QWidget::closeEvent(event);
}

void TUpdateWindow::Falha(const TCheckFailure& failure)
{
    if (failure.DisablesButton())
        updateButton->setEnabled(false);
    ShowMessage(this, failure.Message);
    if (failure.OpensDownloadPage())
        ShellOpen(ArchiverDownloadPage());
    closeTimer->start();
}

void TUpdateWindow::FormShow()
{
    // Without the operator's confirmation nothing may be checked or changed.
    if (!FConfirmed) {
        closeTimer->start();
        return;
    }
    BytesToTransfer = 0;
    FSession.Run<TChecks>(
        [](TUpdateSession& session) {
            TChecks checks;
            checks.Refusal = session.Inicia();
            checks.ExecutavelVerificado = session.ExecutavelVerificado();
            checks.Alias = session.Alias();
            checks.ProgramFiles = session.ProgramFiles();
            return checks;
        },
        [this](const TChecks& checks) { Verificado(checks); });
}

void TUpdateWindow::Verificado(const TChecks& checks)
{
    const std::optional<TCheckFailure>& failure = checks.Refusal ? checks.Refusal->Check : std::nullopt;
    if (checks.Refusal && !failure) { // another update of the folder, or a script error file
        ShowMessage(this, checks.Refusal->Message);
        closeTimer->start();
        return;
    }
    PROGR = checks.ProgramFiles;
    if (checks.ExecutavelVerificado) {
        SetText(mainExecutableLabel, MainExecutableReady);
        SetLabelColour(mainExecutableLabel, Green);
        auto* entry = new QListWidgetItem(checks.Alias, aliasList);
        entry->setFlags(entry->flags() | Qt::ItemIsUserCheckable);
        entry->setCheckState(failure ? Qt::Unchecked : Qt::Checked);
    }
    if (failure)
        return Falha(*failure);
    statusPanel->setText(QStringLiteral("Clique em Atualizar agora ou pressione <ENTER>."));
    updateButton->setDefault(true);
    updateButton->setFocus();
}

void TUpdateWindow::closeTimerTimeout()
{
    closeTimer->stop();
    close();
}

// A run ends with the FTP session closed, so nothing is left to disconnect.
void TUpdateWindow::exitButtonClick()
{
    close();
}

void TUpdateWindow::updateButtonClick()
{
    if (FSession.Ocupado() || FFtpConnected) {
        ShowMessage(this, QStringLiteral("Conectado no FTP"));
        return;
    }
    updateButton->setEnabled(false);
    AtualizaArquivos();
}

void TUpdateWindow::AtualizaArquivos()
{
    SetText(statusLabel, QStringLiteral(" "));
    filesTree->clear();
    FSession.Run<TUpdateOutcome>([](TUpdateSession& session) { return session.Atualiza(); },
                                 [this](const TUpdateOutcome& outcome) { Atualizado(outcome); });
}

// The run has ended: its text, or, without a connection, the message and
// the end of the program with exit code 2.
void TUpdateWindow::Atualizado(const TUpdateOutcome& outcome)
{
    updateButton->setEnabled(true);
    if (outcome.Result == urSemConexao) {
        ShowMessage(this, outcome.Causa);
        Application()->Terminate(2);
        close();
        return;
    }
    ResetDisplay();
    SetText(statusLabel, outcome.TextoFinal());
    SetText(counterLabel, QString());
    SetText(currentFileLabel, QString());
    if (FCloseRequested) {
        close();
        return;
    }
    updateButton->setFocus(); // Enter starts the next run
}

// The counter grows with the file; the file's name moves right of it
// rather than run into it.
void TUpdateWindow::PlaceFileName()
{
    const bool counting = !counterLabel->text().trimmed().isEmpty();
    const int x = std::max(CurrentFileLeft, counting ? counterLabel->geometry().right() + 8 : 0);
    if (currentFileLabel->x() != x)
        currentFileLabel->move(x, currentFileLabel->y());
}

void TUpdateWindow::ResetDisplay()
{
    gauge->SetMaxValue(100);
    gauge->SetProgress(0);
    gauge->show();
}

int TUpdateWindow::NodeState(int index) const
{
    const QTreeWidgetItem* node = filesTree->topLevelItem(index);
    return node ? node->data(0, Qt::UserRole).toInt() : -1;
}

void TUpdateWindow::SetNodeState(int index, int state)
{
    if (QTreeWidgetItem* node = filesTree->topLevelItem(index))
        SetNodeState(node, state);
}

void TUpdateWindow::SetNodeState(QTreeWidgetItem* node, int state)
{
    node->setData(0, Qt::UserRole, state);
    node->setIcon(0, state >= 0 && state < FStateIcons.size() ? FStateIcons.at(state) : QIcon());
}

// ------------------------------------------------------ what the run reports

void TUpdateWindow::Planned(const TUpdatePlan& plan)
{
    // One batch: a large listing costs one layout, not one per line.
    QList<QTreeWidgetItem*> nodes;
    nodes.reserve(plan.Items.size());
    for (const TPlanItem& item : plan.Items) {
        nodes << new QTreeWidgetItem(QStringList{item.Line});
        SetNodeState(nodes.back(), item.State());
    }
    filesTree->addTopLevelItems(nodes);
}

void TUpdateWindow::FileStarted(int, const QString& name)
{
    SetText(currentFileLabel, name);
    PlaceFileName();
}

void TUpdateWindow::SizeKnown(std::uint32_t bytesToTransfer)
{
    BytesToTransfer = bytesToTransfer;
}

void TUpdateWindow::StateChanged(int index, TNodeState state)
{
    SetNodeState(index, state);
    filesTree->scrollToItem(filesTree->topLevelItem(index));
}

void TUpdateWindow::FileFailed(int, const QString& message)
{
    ShowMessage(this, message, QMessageBox::Information);
}

void TUpdateWindow::ReplacementFailed(const QString& message)
{
    ShowMessage(this, message);
}

void TUpdateWindow::Status(TIdStatus status, const QString& text)
{
    ftpStatus(status, text);
}

// The display follows a transfer at most every ProgressIntervalMs: a fast
// line delivers thousands of blocks a second, and painting each would
// slow the transfer itself. The last count is always shown.
void TUpdateWindow::TransferBegin()
{
    FProgressShown.invalidate();
    FPendingCount = -1;
    ftpWorkBegin();
}

void TUpdateWindow::TransferProgress(std::int64_t count)
{
    FPendingCount = count;
    if (FProgressShown.isValid() && FProgressShown.elapsed() < ProgressIntervalMs)
        return;
    FProgressShown.start();
    FPendingCount = -1;
    ftpWork(count);
}

void TUpdateWindow::TransferEnd(TWorkMode mode)
{
    if (FPendingCount >= 0)
        ftpWork(FPendingCount);
    FPendingCount = -1;
    ftpWorkEnd(mode);
}

void TUpdateWindow::Error(const QString& text)
{
    Application()->HandleException(text);
}

void TUpdateWindow::UpgradeBegin()
{
    FUpgradeWindow = new TUpgradeWindow(this);
    FUpgradeWindow->show();
}

void TUpdateWindow::UpgradeEnd()
{
    if (!FUpgradeWindow)
        return;
    FUpgradeWindow->close();
    FUpgradeWindow->deleteLater();
    FUpgradeWindow = nullptr;
}

void TUpdateWindow::UpgradeProgress(int position)
{
    if (FUpgradeWindow)
        FUpgradeWindow->Progress(position);
}

void TUpdateWindow::ScriptSaved(const QString& errorFile)
{
    if (FUpgradeWindow)
        FUpgradeWindow->ScriptSaved(errorFile);
}

void TUpdateWindow::UpgradeFailed(const QString& text)
{
    Application()->HandleException(text);
}

// ------------------------------------------------------- transfer display

void TUpdateWindow::ftpWorkBegin()
{
    STime = Now();
    FProgress.Begin();
}

void TUpdateWindow::ftpWork(std::int64_t AWorkCount)
{
    const TProgressTexts texts = FProgress.Work(AWorkCount, BytesToTransfer, STime, Now());
    SetText(counterLabel, texts.Contador);
    PlaceFileName();
    SetText(statusLabel, texts.Status);
    if (texts.Gauge)
        gauge->SetProgress(*texts.Gauge);
}

void TUpdateWindow::ftpWorkEnd(TWorkMode AWorkMode)
{
    SetText(statusLabel, WorkEndStatus(AWorkMode));
    SetText(counterLabel, WorkEndContador(BytesToTransfer));
    PlaceFileName();
}

void TUpdateWindow::ftpStatus(TIdStatus AStatus, const QString& AStatusText)
{
    statusPanel->setText(StatusBarText(AStatus, AStatusText));
    if (AStatus == hsConnected)
        FFtpConnected = true;
    if (AStatus == hsDisconnected) {
        FFtpConnected = false;
        ResetDisplay();
    }
}
