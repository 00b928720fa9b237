// Every fixed text of every window, measured with the faces the program
// picks, fits its control as laid out: no wrapped headline losing a line, no
// label cut at the window's edge or running into its neighbour.
#include "app/confirmwindow.h"
#include "app/formkit.h"
#include "app/scripterrornotice.h"
#include "app/updatewindow.h"
#include "app/upgradewindow.h"
#include "tests/support/controls.h"
#include "tests/support/testenv.h"
#include "update/names.h"
#include "widgets/label3d.h"
#include "widgets/netgradient.h"

#include <QAbstractButton>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <gtest/gtest.h>
#include <memory>

namespace {

constexpr int Unbounded = 1 << 20;

bool Blank(const QString& text)
{
    return text.trimmed().isEmpty();
}

QString Where(const QWidget* control)
{
    return control->window()->objectName() + u'.' + control->objectName();
}

// The size a label's text takes in its font, wrapped at the label's width
// when the label wraps.
QSize LabelNeeds(const QLabel* label)
{
    const QRect room = label->contentsRect();
    const int flags = int(label->alignment() & Qt::AlignHorizontal_Mask) | (label->wordWrap() ? Qt::TextWordWrap : 0);
    return QFontMetrics(label->font())
        .boundingRect(QRect(0, 0, label->wordWrap() ? room.width() : Unbounded, Unbounded), flags, label->text())
        .size();
}

// A button's picture and text with the style's margins, as the button draws them.
QSize ButtonNeeds(const QAbstractButton* button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    option.icon = button->icon();
    option.iconSize = button->iconSize();
    const QFontMetrics fm(button->font());
    QSize content = fm.size(Qt::TextShowMnemonic, button->text());
    if (!button->icon().isNull())
        content = QSize(content.width() + button->iconSize().width() + 4,
                        std::max(content.height(), button->iconSize().height()));
    const QStyle::ContentsType type = qobject_cast<const QPushButton*>(button) ? QStyle::CT_PushButton
                                                                               : QStyle::CT_CheckBox;
    return button->style()->sizeFromContents(type, &option, content, button);
}

// A 3-D caption wrapped as the label paints it, plus the offset of its raised copy.
QSize Label3DNeeds(const TmyLabel3D* label)
{
    const int flags = Qt::TextExpandTabs | (label->WordWrap() ? Qt::TextWordWrap : 0) | Qt::AlignHCenter;
    const QSize text = QFontMetrics(label->Font())
                           .boundingRect(QRect(0, 0, label->WordWrap() ? label->width() : Unbounded, Unbounded),
                                         flags, label->Caption())
                           .size();
    return text + QSize(label->Shift(), label->Shift());
}

struct TTextControl {
    QWidget* Control;
    QString Text;
    QSize Needs;
    QSize Has;
};

QList<TTextControl> FixedTexts(QWidget* window)
{
    QList<TTextControl> texts;
    for (QWidget* control : window->findChildren<QWidget*>()) {
        if (!control->isVisibleTo(window))
            continue;
        const auto* label = qobject_cast<QLabel*>(control);
        if (label && !Blank(label->text()) && qobject_cast<QStatusBar*>(control->parentWidget()))
            // the bar lays its panels out when shown; the last one gets the bar's width
            texts.append({control, label->text(), LabelNeeds(label), control->parentWidget()->contentsRect().size()});
        else if (label && !Blank(label->text()))
            texts.append({control, label->text(), LabelNeeds(label), label->contentsRect().size()});
        else if (const auto* button = qobject_cast<QAbstractButton*>(control); button && !Blank(button->text()))
            texts.append({control, button->text(), ButtonNeeds(button), button->size()});
        else if (const auto* label3d = qobject_cast<TmyLabel3D*>(control); label3d && !Blank(label3d->Caption()))
            texts.append({control, label3d->Caption(), Label3DNeeds(label3d), label3d->size()});
        else if (const auto* bar = qobject_cast<TNetGradient*>(control); bar && !Blank(bar->Caption()))
            texts.append({control, bar->Caption(),
                          QFontMetrics(bar->Font()).size(Qt::TextSingleLine, bar->Caption())
                              + QSize(bar->TextLeft(), bar->TextTop()),
                          bar->size()});
    }
    return texts;
}

// Every text within its control, every control within its parent, and no
// two text controls of one parent on top of each other.
QStringList Misfits(QWidget* window)
{
    window->ensurePolished();
    QStringList misfits;
    const QList<TTextControl> texts = FixedTexts(window);
    for (const TTextControl& t : texts) {
        if (t.Needs.width() > t.Has.width() || t.Needs.height() > t.Has.height())
            misfits << QStringLiteral("%1 \"%2\" needs %3x%4 in %5x%6 (%7)")
                           .arg(Where(t.Control), t.Text)
                           .arg(t.Needs.width())
                           .arg(t.Needs.height())
                           .arg(t.Has.width())
                           .arg(t.Has.height())
                           .arg(QFontInfo(t.Control->font()).family());
        const QWidget* parent = t.Control->parentWidget();
        if (!qobject_cast<const QStatusBar*>(parent) && !parent->rect().contains(t.Control->geometry()))
            misfits << QStringLiteral("%1 \"%2\" at %3,%4 %5x%6 leaves its parent")
                           .arg(Where(t.Control), t.Text)
                           .arg(t.Control->x())
                           .arg(t.Control->y())
                           .arg(t.Control->width())
                           .arg(t.Control->height());
    }
    for (qsizetype i = 0; i < texts.size(); ++i)
        for (qsizetype j = i + 1; j < texts.size(); ++j) {
            const QWidget* a = texts[i].Control;
            const QWidget* b = texts[j].Control;
            // the 3-D captions are backdrops that other controls sit on
            if (qobject_cast<const TmyLabel3D*>(a) || qobject_cast<const TmyLabel3D*>(b)
                || qobject_cast<const TNetGradient*>(a) || qobject_cast<const TNetGradient*>(b))
                continue;
            if (a->parentWidget() == b->parentWidget() && a->geometry().intersects(b->geometry()))
                misfits << Where(a) + QStringLiteral(" overlaps ") + Where(b);
        }
    return misfits;
}

TEST(TextFit, NamedFacesResolveToTheirFixedSubstitutes)
{
    EXPECT_EQ(QFontInfo(PixelFont(QStringLiteral("Verdana"), 16, true)).family(), QStringLiteral("Liberation Sans"));
    EXPECT_EQ(QFontInfo(PixelFont(QStringLiteral("MS Sans Serif"), 11)).family(), QStringLiteral("Liberation Sans"));
    EXPECT_EQ(QFontInfo(PixelFont(QStringLiteral("Arial"), 11)).family(), QStringLiteral("Liberation Sans"));
    EXPECT_EQ(QFontInfo(PixelFont(QStringLiteral("Courier New"), 13)).family(), QStringLiteral("Liberation Mono"));
}

TEST(TextFit, ConfirmationWindow)
{
    TConfirmWindow window;
    EXPECT_EQ(Misfits(&window).join(u'\n'), QString());
    EXPECT_EQ(FixedTexts(&window).size(), 6); // 3-D caption, three labels, two buttons
}

TEST(TextFit, NoticeKeepsItsThreeLines)
{
    TScriptErrorNotice window;
    window.SetErrorFile(QStringLiteral("SCRIPT_ERRO_DT_09_12_2026_HR_10_15_00 M-KELDARIN.TXT"));
    EXPECT_EQ(Misfits(&window).join(u'\n'), QString());
    const TmyLabel3D* warning = Control<TmyLabel3D>(window, "myLabel3d1");
    const QFontMetrics fm(warning->Font());
    EXPECT_EQ(Label3DNeeds(warning).height() - warning->Shift(), fm.height() + 2 * fm.lineSpacing());
}

TEST(TextFit, UpgradeWindow)
{
    TUpgradeWindow window(nullptr);
    EXPECT_EQ(Misfits(&window).join(u'\n'), QString());
    // the heading sits inside its bevel
    EXPECT_TRUE(Control<QFrame>(window, "Bevel1")->geometry().contains(Control<QLabel>(window, "AGUARDE")->geometry()));
}

// A label of the update window grows with its text, as the window's own do.
void Show(QLabel* label, const QString& text)
{
    label->setText(text);
    label->adjustSize();
}

TEST(TextFit, UpdateWindow)
{
    TUpdateWindow window;
    EXPECT_EQ(Misfits(&window).join(u'\n'), QString());
    // the texts the checks and the run put in, each as long as it gets
    Show(Control<QLabel>(window, "Label9"), MainExecutable + QStringLiteral(" - Será atualizado"));
    Show(Control<QLabel>(window, "StatusPanel1"), QStringLiteral("Clique em Atualizar agora ou pressione <ENTER>."));
    for (const bool scriptFailed : {false, true})
        for (const bool failed : {false, true}) {
            Show(Control<QLabel>(window, "lblstatus"), TextoFinal(failed, scriptFailed));
            EXPECT_EQ(Misfits(&window).join(u'\n'), QString());
        }
}

} // namespace
