// Writes a PNG of each window as the display server shows it. Run under Xvfb
// through scripts/screenshots.
#include "app/confirmwindow.h"
#include "app/formkit.h"
#include "app/scripterrornotice.h"
#include "app/updatewindow.h"
#include "app/upgradewindow.h"
#include "tests/support/controls.h"

#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

namespace {

bool Shoot(QWidget* window, const QString& file)
{
    window->show();
    if (!QTest::qWaitForWindowExposed(window))
        return false;
    QTest::qWait(200);
    const QPixmap shot = window->screen()->grabWindow(window->winId());
    return shot.save(file);
}

// A window drawn by the toolkit as the event loop leaves it once the
// reports it was given have been shown (the tree's layout and its scroll
// bar come from the loop).
bool Draw(QWidget* window, const QString& file)
{
    QTest::qWait(50);
    return window->grab().save(file);
}

} // namespace

int main(int argc, char** argv)
{
    TApplication application(argc, argv);
    application.SetTitle(QStringLiteral("ZemboUpdate"));
    const QString out = QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots")).absolutePath();
    QDir().mkpath(out);
    // an empty working folder, so the confirmation is not blocked
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    bool ok = true;

    auto* confirmation = new TConfirmWindow();
    ok &= Shoot(confirmation, out + QStringLiteral("/Form1.png"));
    delete confirmation;

    auto* notice = new TScriptErrorNotice();
    notice->SetErrorFile(QStringLiteral("SCRIPT_ERRO_DT_09_12_2026_HR_10_15_00 M-KELDARIN.TXT"));
    ok &= Shoot(notice, out + QStringLiteral("/Form2.png"));
    delete notice;

    // Showing the update window would run its checks, so it is drawn by the
    // toolkit instead of taken from the screen: after the checks, in the
    // middle of a run and after it, its controls set as the run sets them.
    auto* update = new TUpdateWindow();
    QLabel* mainExecutable = Control<QLabel>(*update, "Label9");
    mainExecutable->setText(QStringLiteral("Quendarive.exe - Será atualizado"));
    mainExecutable->adjustSize();
    QPalette green = mainExecutable->palette();
    green.setColor(QPalette::WindowText, QColor(0, 128, 0));
    mainExecutable->setPalette(green);
    auto* alias = new QListWidgetItem(QStringLiteral("KELDARIN"), Control<QListWidget>(*update, "CheckListBox1"));
    alias->setCheckState(Qt::Checked);
    Control<QLabel>(*update, "StatusPanel1")
        ->setText(QStringLiteral("Clique em Atualizar agora ou pressione <ENTER>."));
    ok &= Draw(update, out + QStringLiteral("/frmzemboupdate.png"));

    const QStringList lines = {
        QStringLiteral("drwxr-xr-x    2 ftp      ftp          4096 Nov 28 09:12 Arquivos_dlls"),
        QStringLiteral("-rw-r--r--    1 ftp      ftp       1843200 Dec 07 10:37 Quendarive.rar"),
        QStringLiteral("-rw-r--r--    1 ftp      ftp        524288 Dec 07 10:37 relatorios.dll"),
    };
    TUpdatePlan plan;
    for (const QString& line : lines)
        plan.Items.append({line, line.section(u' ', -1), TDateTime(), fdAtualizado, {}});
    plan.Items[1].Decision = fdBaixar;
    plan.Items[2].Decision = fdBaixar;
    TUpdateObserver& run = *update;
    run.Planned(plan);
    run.StateChanged(1, nsOrange);
    run.FileStarted(1, QStringLiteral("Quendarive.rar"));
    run.SizeKnown(1843200);
    SetClock([] { return EncodeDate(2026, 12, 9) + EncodeTime(10, 40, 0, 0).Value(); });
    update->ftpWorkBegin();
    SetClock([] { return EncodeDate(2026, 12, 9) + EncodeTime(10, 40, 3, 500).Value(); });
    update->ftpWork(829440);
    update->ftpStatus(ftpTransfer, QString());
    ok &= Draw(update, out + QStringLiteral("/frmzemboupdate-run.png"));

    run.StateChanged(1, nsGreen);
    run.StateChanged(2, nsGreen);
    update->ftpStatus(hsDisconnected, QString());
    QLabel* status = Control<QLabel>(*update, "lblstatus");
    status->setText(QStringLiteral("Atualização finalizada com sucesso."));
    status->adjustSize();
    Control<QLabel>(*update, "lblcontador")->clear();
    Control<QLabel>(*update, "Label3")->clear();
    ok &= Draw(update, out + QStringLiteral("/frmzemboupdate-done.png"));
    SetClock({});
    delete update;

    auto* upgrade = new TUpgradeWindow(nullptr);
    Control<QProgressBar>(*upgrade, "pb1")->setValue(38);
    ok &= upgrade->grab().save(out + QStringLiteral("/aguarde.png"));
    delete upgrade;

    std::printf("%s %s\n", ok ? "written to" : "FAILED, see", qPrintable(out));
    return ok ? 0 : 1;
}
