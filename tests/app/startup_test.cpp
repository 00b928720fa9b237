// The start-up sequence run in-process with a real event loop: the operator's
// clicks are played from timers while the modal windows wait.
#include "app/confirmwindow.h"
#include "app/formkit.h"
#include "app/scripterrornotice.h"
#include "app/startup.h"
#include "app/updatewindow.h"
#include "platform/shell.h"
#include "tests/support/controls.h"
#include "tests/support/testenv.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace {

// The window of that objectName, while it exists.
QWidget* TopLevel(const char* name)
{
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->objectName() == QLatin1String(name))
            return window;
    return nullptr;
}

// Runs the action once the condition holds, polling the event loop.
void When(std::function<bool()> condition, std::function<void()> action)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, condition, action] {
        if (!condition())
            return;
        timer->stop();
        timer->deleteLater();
        action();
    });
    timer->start();
}

class StartUp : public ::testing::Test {
protected:
    void SetUp() override
    {
        FOldDir = QDir::currentPath();
        QDir::setCurrent(FDir.Path());
        WriteBytes(FDir.File("registry.ini"),
                   "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion]\nProgramFilesDir="
                       + FDir.Path().toUtf8() + "\n");
        qputenv("ZEMBO_REGISTRY", FDir.File("registry.ini").toUtf8());
        qApp->installEventFilter(&FWatch);
    }
    void TearDown() override
    {
        qApp->removeEventFilter(&FWatch);
        QDir::setCurrent(FOldDir);
    }

    // Remembers the top-level windows shown and, when the update window
    // appears, whether it was told of a confirmation (1 or 0) and whether
    // the confirmation window is gone by then.
    struct TWatch : QObject {
        QStringList Shown;
        int ConfirmedAtMainShow = -1;
        bool ConfirmationGoneAtMainShow = false;
        bool eventFilter(QObject* o, QEvent* e) override
        {
            if (e->type() == QEvent::Show && o->isWidgetType() && static_cast<QWidget*>(o)->isWindow()) {
                Shown << (qobject_cast<QMessageBox*>(o) ? QStringLiteral("message") : o->objectName());
                if (auto* main = dynamic_cast<TUpdateWindow*>(o)) {
                    ConfirmedAtMainShow = main->Confirmed() ? 1 : 0;
                    ConfirmationGoneAtMainShow = !TopLevel("Form1");
                }
            }
            return false;
        }
    } FWatch;

    TScratchDir FDir;
    QString FOldDir;
};

// The script-error notice while it waits for the operator.
TScriptErrorNotice* NoticeUp()
{
    auto* notice = dynamic_cast<TScriptErrorNotice*>(QApplication::activeModalWidget());
    return notice && notice->isVisible() ? notice : nullptr;
}

// The confirmation window while it waits for the operator.
TConfirmWindow* ConfirmationUp()
{
    auto* confirmation = dynamic_cast<TConfirmWindow*>(QApplication::activeModalWidget());
    return confirmation && confirmation->isVisible() ? confirmation : nullptr;
}

TUpdateWindow* UpdateWindowUp()
{
    auto* window = dynamic_cast<TUpdateWindow*>(TopLevel("frmzemboupdate"));
    return window && window->isVisible() ? window : nullptr;
}

// The update window once its checks have come back from the session.
TUpdateWindow* UpdateWindowChecked()
{
    TUpdateWindow* window = UpdateWindowUp();
    return window && !window->Running() ? window : nullptr;
}

TEST_F(StartUp, ContinueNeedsBothBoxesThenTheConfirmationGoesAndTheUpdateWindowChecks)
{
    When(ConfirmationUp, [] {
        TConfirmWindow* c = ConfirmationUp();
        QPushButton* continueButton = Control<QPushButton>(*c, "BitBtn1");
        QCheckBox* localAppsClosed = Control<QCheckBox>(*c, "CheckBox1");
        QCheckBox* terminalsClosed = Control<QCheckBox>(*c, "CheckBox2");
        EXPECT_FALSE(continueButton->isEnabled());
        QTest::mouseClick(localAppsClosed, Qt::LeftButton);
        EXPECT_FALSE(continueButton->isEnabled());
        QTest::mouseClick(terminalsClosed, Qt::LeftButton);
        EXPECT_TRUE(continueButton->isEnabled());
        QTest::mouseClick(localAppsClosed, Qt::LeftButton);
        EXPECT_FALSE(continueButton->isEnabled());
        QTest::mouseClick(localAppsClosed, Qt::LeftButton);
        EXPECT_TRUE(continueButton->isEnabled());
        QTest::mouseClick(continueButton, Qt::LeftButton);
    });
    QStringList opened;
    SetShellOpenFunction([&](const QString& address) {
        opened << address;
        return true;
    });
    When(UpdateWindowChecked, [] {
        EXPECT_EQ(UpdateWindowUp()->ProgramFiles(), QDir::currentPath());
        // The checks ran: the scratch Program Files folder has no archiver,
        // and the window closes by its timer once the box is answered.
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->accept();
        else
            UpdateWindowUp()->close();
    });
    EXPECT_EQ(ZemboUpdateMain(*Application()), 0);
    SetShellOpenFunction({});
    EXPECT_EQ(FWatch.ConfirmedAtMainShow, 1);
    EXPECT_TRUE(FWatch.ConfirmationGoneAtMainShow);
    EXPECT_EQ(FWatch.Shown.count("message"), 1);
    EXPECT_EQ(opened.size(), 1);
}

TEST_F(StartUp, ExitAndTheCloseButtonEndWithoutAnotherWindow)
{
    for (int viaButton = 0; viaButton < 2; ++viaButton) {
        FWatch.Shown.clear();
        When(ConfirmationUp, [viaButton] {
            TConfirmWindow* c = ConfirmationUp();
            QTest::mouseClick(Control<QCheckBox>(*c, "CheckBox1"), Qt::LeftButton);
            if (viaButton)
                QTest::mouseClick(Control<QPushButton>(*c, "Button3"), Qt::LeftButton);
            else
                c->close();
        });
        EXPECT_EQ(ZemboUpdateMain(*Application()), 0);
        EXPECT_EQ(FWatch.ConfirmedAtMainShow, 0);
        EXPECT_EQ(FWatch.Shown, QStringList({"Form1", "frmzemboupdate"}));
        EXPECT_EQ(TopLevel("Form1"), nullptr);
        EXPECT_EQ(TopLevel("frmzemboupdate"), nullptr);
    }
}

// An update window never told of a confirmation closes again by its timer.
TEST_F(StartUp, UpdateWindowWithoutConfirmationCloses)
{
    TUpdateWindow window;
    window.show();
    EXPECT_TRUE(QTest::qWaitFor([&window] { return !window.isVisible(); }, 2000));
    EXPECT_EQ(FWatch.Shown, QStringList({"frmzemboupdate"}));
}

TEST_F(StartUp, ErrorFilesBlockAndTheNoticeNamesTheFirstIgnoringCase)
{
    WriteBytes(FDir.File("script_erro_dt_09_12_2026_hr_10_00_00 M-B.txt"), "x");
    WriteBytes(FDir.File("SCRIPT_ERRO_DT_31_12_2025_HR_23_59_59 M-C.TXT"), "x");
    WriteBytes(FDir.File("Script_Erro_DT_01_01_2027_HR_00_00_00 M-A.TXT"), "x");
    WriteBytes(FDir.File("OUTRO.TXT"), "x");
    QString notice;
    bool form1Hidden = false;
    QPointer<TScriptErrorNotice> shown;
    When(NoticeUp, [&] {
        shown = NoticeUp();
        notice = Control<QLabel>(*shown, "Label1")->text();
        form1Hidden = !TopLevel("Form1")->isVisible();
        QTest::mouseClick(Control<QPushButton>(*shown, "Button3"), Qt::LeftButton);
    });
    EXPECT_EQ(ZemboUpdateMain(*Application()), 0);
    EXPECT_EQ(notice, QStringLiteral("SCRIPT EM EXECUÇÃO SALVO: Script_Erro_DT_01_01_2027_HR_00_00_00 M-A.TXT"));
    EXPECT_TRUE(form1Hidden);
    EXPECT_EQ(FWatch.ConfirmedAtMainShow, 0);
    EXPECT_TRUE(shown.isNull());
}

TEST_F(StartUp, AFolderNamedLikeAnErrorFileBlocksToo)
{
    QDir().mkdir(FDir.File("SCRIPT_ERRO_PASTA.TXT"));
    QString notice;
    When(NoticeUp, [&] {
        notice = Control<QLabel>(*NoticeUp(), "Label1")->text();
        QTest::mouseClick(Control<QPushButton>(*NoticeUp(), "Button3"), Qt::LeftButton);
    });
    EXPECT_EQ(ZemboUpdateMain(*Application()), 0);
    EXPECT_EQ(notice, QStringLiteral("SCRIPT EM EXECUÇÃO SALVO: SCRIPT_ERRO_PASTA.TXT"));
    EXPECT_EQ(FWatch.ConfirmedAtMainShow, 0);
}

} // namespace
