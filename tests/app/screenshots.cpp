// Writes a PNG of each window as the display server shows it. Run under Xvfb
// through scripts/screenshots.
#include "app/formkit.h"
#include "app/unit1.h"
#include "app/unit2.h"
#include "app/untfrmzemboupdate.h"
#include "app/uaguarde.h"

#include <QDir>
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

    auto* form1 = new TForm1();
    ok &= Shoot(form1, out + QStringLiteral("/Form1.png"));
    delete form1;

    auto* form2 = new TForm2();
    form2->Label1->setText(QStringLiteral("SCRIPT EM EXECUÇÃO SALVO: SCRIPT_ERRO_DT_09_12_2026_HR_10_15_00 M-KELDARIN.TXT"));
    ok &= Shoot(form2, out + QStringLiteral("/Form2.png"));
    delete form2;

    // Showing the update window would run its checks, so it is drawn by the
    // toolkit instead of taken from the screen.
    auto* update = new Tfrmzemboupdate();
    ok &= update->grab().save(out + QStringLiteral("/frmzemboupdate.png"));
    delete update;

    auto* upgrade = new Taguarde(nullptr, nullptr);
    upgrade->pb1->setValue(38);
    ok &= upgrade->grab().save(out + QStringLiteral("/aguarde.png"));
    delete upgrade;

    std::printf("%s %s\n", ok ? "written to" : "FAILED, see", qPrintable(out));
    return ok ? 0 : 1;
}
