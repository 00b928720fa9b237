// zembo-demo-driver: the program's own start-up and windows, run in this
// process, with an operator played by a timer: both confirmation boxes and
// "&Continuar  ", Enter once the checks have passed, OK on any message box,
// "&Cont.." on the script-error notice, and "&Sair" once the final status
// text is shown. It prints the status texts as the windows show them and
// saves a picture of each stage. Started by scripts/demo, in the
// installation folder, on a (virtual) display:
//
//   zembo-demo-driver SHOTS_FOLDER [TIMEOUT_SECONDS]
//
// Exits with the program's exit code; 124 when the program has not ended
// within the time-out (default 300 s).
#include "app/confirmwindow.h"
#include "app/formkit.h"
#include "app/startup.h"
#include "tests/support/controls.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

const QString ChecksPassed = QStringLiteral("Clique em Atualizar agora ou pressione <ENTER>.");
const QStringList FinalTexts = {
    QStringLiteral("Atualização finalizada com sucesso."),
    QStringLiteral("Atualização finalizada com erros, feche os aplicativos e tente denovo."),
    QStringLiteral("Atualização finalizada com erros, necessário contactar Belmora Sistemas."),
};

// Unbuffered: the program may end the process at once (failed connection).
void Say(const QString& what, const QString& text)
{
    std::printf("[%s] %s\n", what.toUtf8().constData(), text.toUtf8().constData());
    std::fflush(stdout);
}

QWidget* Window(const char* name)
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String(name))
            return w;
    return nullptr;
}

QString TextOf(const QLabel* label)
{
    return label ? label->text().trimmed() : QString();
}

// Runs after the current event has been handled, so that a click that starts
// a modal loop or the whole run never runs inside the operator's own timer.
void Later(std::function<void()> action, int ms = 0)
{
    QTimer::singleShot(ms, qApp, std::move(action));
}

class TOperator : public QObject {
public:
    explicit TOperator(const QString& shots) : FShots(shots)
    {
        QDir().mkpath(FShots);
        FPoll.setInterval(20);
        connect(&FPoll, &QTimer::timeout, this, &TOperator::Step);
        FPoll.start();
        qApp->installEventFilter(this);
    }

    QString FinalText() const { return FFinal; }

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        // Texts are read whenever something is painted: the run repaints
        // its controls itself while it keeps the event loop busy.
        if (event->type() == QEvent::Paint)
            Observe();
        if (event->type() == QEvent::Show && object->objectName() == QLatin1String("aguarde"))
            Later([this] { Shoot(QStringLiteral("05-scripts"), Window("frmzemboupdate"), Window("aguarde")); });
        if (event->type() == QEvent::Paint && FStage == stRunning)
            WatchTransfer();
        return false;
    }

private:
    enum TStage { stConfirm, stChecks, stRunning, stDone };

    // The transfer's picture, once a file's transfer is seen part-way
    // ("Transferidos: X Kb de Y Kb"). It is taken at the next
    // turn of the event loop, which the progress handler gives during the
    // transfer.
    void WatchTransfer()
    {
        if (FTransferShot)
            return;
        static const QRegularExpression partWay(QStringLiteral("^Transferidos: ([\\d.,\\s]+) Kb de ([\\d.,\\s]+) Kb$"));
        const QLabel* counter = FindControl<QLabel>(Window("frmzemboupdate"), "lblcontador");
        const QRegularExpressionMatch m = partWay.match(TextOf(counter));
        const auto number = [&m](int i) { return m.captured(i).remove(QRegularExpression(QStringLiteral("\\D"))).toLongLong(); };
        if (!m.hasMatch() || number(1) == 0 || number(1) >= number(2))
            return;
        FTransferShot = true;
        Later([this] { Shoot(QStringLiteral("04-transferindo"), Window("frmzemboupdate")); });
    }

    void Observe()
    {
        QWidget* main = Window("frmzemboupdate");
        ReportStatus(TextOf(FindControl<QLabel>(main, "lblstatus")));
        if (main)
            Report(QStringLiteral("status bar"), TextOf(Control<QLabel>(*main, "StatusPanel1")), FBar);
        Report(QStringLiteral("file"), TextOf(FindControl<QLabel>(main, "Label3")), FFile);
    }

    // The transfer rate changes with every block: it is printed at most once
    // a second, and its last value before the next text.
    void ReportStatus(const QString& text)
    {
        if (text == FStatus)
            return;
        const bool rate = text.startsWith(QStringLiteral("Taxa de Transferencia"));
        if (rate && FRatePrinted.isValid() && FRatePrinted.elapsed() < 1000) {
            FStatus = text;
            FRatePending = true;
            return;
        }
        if (!rate && FRatePending)
            Say(QStringLiteral("status"), FStatus);
        FRatePending = false;
        if (rate)
            FRatePrinted.start();
        Report(QStringLiteral("status"), text, FStatus);
    }

    static void Report(const QString& where, const QString& text, QString& last)
    {
        if (text == last)
            return;
        last = text;
        if (!text.isEmpty())
            Say(where, text);
    }

    void Shoot(const QString& name, QWidget* window, QWidget* overlay = nullptr)
    {
        if (!window || !window->isVisible())
            return;
        QPixmap picture = window->grab();
        if (overlay && overlay->isVisible()) {
            // Both windows where the screen shows them, on a plain desktop.
            const QRect under(window->mapToGlobal(QPoint()), window->size());
            const QRect over(overlay->mapToGlobal(QPoint()), overlay->size());
            const QRect both = under.united(over);
            QPixmap desktop(both.size());
            desktop.fill(QColor(58, 110, 165));
            QPainter painter(&desktop);
            painter.drawPixmap(under.topLeft() - both.topLeft(), picture);
            painter.drawPixmap(over.topLeft() - both.topLeft(), overlay->grab());
            painter.end();
            picture = desktop;
        }
        const QString file = FShots + u'/' + name + QStringLiteral(".png");
        if (picture.save(file))
            Say(QStringLiteral("shot"), file);
        else
            Say(QStringLiteral("shot"), QStringLiteral("cannot write ") + file);
    }

    void Press(QAbstractButton* button, const QString& what)
    {
        Say(QStringLiteral("operator"), what);
        QTest::mouseClick(button, Qt::LeftButton);
    }

    void Step()
    {
        Observe();
        if (FBusy)
            return;
        if (AnswerMessageBox() || AnswerNotice())
            return;
        QWidget* main = Window("frmzemboupdate");
        switch (FStage) {
        case stConfirm:
            Confirm();
            break;
        case stChecks:
            if (main && main->isVisible() && FBar == ChecksPassed) {
                FStage = stRunning;
                Shoot(QStringLiteral("03-verificado"), main);
                Act([main] {
                    Say(QStringLiteral("operator"), QStringLiteral("presses Enter"));
                    // Enter goes to the control the window gave the focus,
                    // whether or not a window manager made the window active.
                    main->activateWindow();
                    QWidget* focus = main->focusWidget();
                    QTest::keyClick(focus ? focus : main, Qt::Key_Return);
                });
            }
            break;
        case stRunning: {
            auto* start = FindControl<QPushButton>(main, "Button1");
            if (FinalTexts.contains(FStatus) && start && start->isEnabled()) {
                FStage = stDone;
                FFinal = FStatus;
                Shoot(QStringLiteral("06-final"), main);
                auto* leave = FindControl<QPushButton>(main, "Button3");
                Act([this, leave] { Press(leave, QStringLiteral("presses \"&Sair\"")); });
            }
            break;
        }
        case stDone:
            break;
        }
    }

    // The confirmation window ("Form1") stays up only when no script error
    // file blocks the update; its own 100 ms timer decides that, so the
    // operator waits for it.
    void Confirm()
    {
        auto* confirmation = dynamic_cast<TConfirmWindow*>(Window("Form1"));
        if (!confirmation || !confirmation->isVisible() || Control<QTimer>(*confirmation, "Timer1")->isActive()) {
            FConfirmSeen = 0;
            if (Window("frmzemboupdate") && Window("frmzemboupdate")->isVisible())
                FStage = stChecks; // confirmed before (or never asked)
            return;
        }
        if (++FConfirmSeen < 15)
            return;
        Shoot(QStringLiteral("01-confirmacao"), confirmation);
        QPointer<TConfirmWindow> target(confirmation);
        Act([this, target] {
            if (!target)
                return;
            Press(Control<QCheckBox>(*target, "CheckBox1"),
                  QStringLiteral("ticks \"Todos Aplicativos locais foram fechados\""));
            Press(Control<QCheckBox>(*target, "CheckBox2"),
                  QStringLiteral("ticks \"Em todos os terminais os Sistemas foram fechados\""));
            Shoot(QStringLiteral("02-confirmado"), target);
            FStage = stChecks;
            Press(Control<QPushButton>(*target, "BitBtn1"), QStringLiteral("presses \"&Continuar  \""));
        });
    }

    bool AnswerMessageBox()
    {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box || !box->isVisible() || FAnswered.contains(box))
                continue;
            FAnswered << box;
            Say(QStringLiteral("message box"), box->text());
            Shoot(QStringLiteral("mensagem-%1").arg(FAnswered.size()), box);
            QPointer<QMessageBox> target(box);
            Act([this, target] {
                if (!target)
                    return;
                QAbstractButton* ok = target->defaultButton() ? target->defaultButton() : target->buttons().value(0);
                if (ok)
                    Press(ok, QStringLiteral("presses \"%1\"").arg(ok->text()));
            });
            return true;
        }
        return false;
    }

    bool AnswerNotice()
    {
        QWidget* notice = Window("Form2");
        if (!notice || !notice->isVisible() || FAnswered.contains(notice))
            return false;
        FAnswered << notice;
        Say(QStringLiteral("notice"), TextOf(Control<QLabel>(*notice, "Label1")));
        Shoot(QStringLiteral("aviso-erro"), notice);
        QPointer<QWidget> target(notice);
        Act([this, target] {
            if (auto* proceed = FindControl<QPushButton>(target, "Button3"))
                Press(proceed, QStringLiteral("presses \"&Cont..\""));
        });
        return true;
    }

    // One action at a time; the next step waits until it has returned.
    void Act(std::function<void()> action)
    {
        FBusy = true;
        Later([this, action] {
            FBusy = false;
            action();
        });
    }

    QString FShots;
    QTimer FPoll;
    TStage FStage = stConfirm;
    int FConfirmSeen = 0;
    bool FBusy = false;
    bool FTransferShot = false;
    QElapsedTimer FRatePrinted;
    bool FRatePending = false;
    QList<QObject*> FAnswered;
    QString FStatus, FBar, FFile, FFinal;
};

// A program that hangs must not hang the demo: the process ends after the
// time-out, whatever the event loop is doing.
void StartWatchdog(int seconds)
{
    std::thread([seconds] {
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        std::fprintf(stderr, "zembo-demo-driver: the program has not ended within %d s\n", seconds);
        std::fflush(stdout);
        std::_Exit(124);
    }).detach();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fputs("usage: zembo-demo-driver SHOTS_FOLDER [TIMEOUT_SECONDS]\n", stderr);
        return 2;
    }
    StartWatchdog(argc == 3 ? std::atoi(argv[2]) : 300);
    TApplication application(argc, argv);
    TOperator operator_(QDir(QString::fromLocal8Bit(argv[1])).absolutePath());
    const int code = ZemboUpdateMain(application);
    if (!operator_.FinalText().isEmpty())
        Say(QStringLiteral("final status"), operator_.FinalText());
    Say(QStringLiteral("program"), QStringLiteral("ended with exit code %1").arg(code));
    return code;
}
