// The display controls painted on off-screen images.
#include "platform/shell.h"
#include "widgets/label3d.h"
#include "widgets/netgradient.h"

#include <QApplication>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QImage Grab(QWidget* w)
{
    return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QColor At(const QImage& img, int x, int y)
{
    return QColor(img.pixel(x, y));
}

TEST(NetGradient, ValuesAfterConstruction)
{
    TNetGradient g;
    EXPECT_EQ(g.BeginColor(), clGray);
    EXPECT_EQ(g.EndColor(), clBtnFace);
    EXPECT_EQ(g.FillDirection(), fdLeftToRight);
    EXPECT_EQ(g.NumberOfColors(), 255);
    EXPECT_TRUE(g.Font().bold());
    EXPECT_EQ(g.Caption(), "TNetGradient");
    EXPECT_EQ(g.TextLeft(), 12);
    EXPECT_EQ(g.TextTop(), 5);
    EXPECT_FALSE(g.AutoSize());
    EXPECT_EQ(g.size(), QSize(400, 25));
}

TEST(NetGradient, MulDivRoundsHalvesAwayFromZero)
{
    EXPECT_EQ(MulDiv(1, 3, 2), 2);
    EXPECT_EQ(MulDiv(-1, 3, 2), -2);
    EXPECT_EQ(MulDiv(1, -3, 2), -2);
    EXPECT_EQ(MulDiv(10, 1, 3), 3);
    EXPECT_EQ(MulDiv(1 << 30, 8, 2), -1); // does not fit
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
}

TEST(NetGradient, BandsOf906PixelsAnd255Colours)
{
    TNetGradient g;
    g.SetCaption("");
    g.resize(906, 10);
    g.SetBeginColor(TColor::Rgb(0, 0, 0));
    g.SetEndColor(TColor::Rgb(254, 127, 254));
    const QImage img = Grab(&g);
    QList<int> widths;
    int run = 1;
    for (int x = 1; x < 906; ++x) {
        if (img.pixel(x, 0) == img.pixel(x - 1, 0)) {
            ++run;
        } else {
            widths << run;
            run = 1;
        }
    }
    widths << run;
    ASSERT_EQ(widths.size(), 255);
    int sum = 0;
    for (int w : widths) {
        EXPECT_TRUE(w == 3 || w == 4) << w;
        sum += w;
    }
    EXPECT_EQ(sum, 906);
    EXPECT_EQ(At(img, 0, 9), QColor(0, 0, 0));
    EXPECT_EQ(At(img, 905, 9), QColor(254, 127, 254));
}

TEST(NetGradient, FewPixelsEqualColoursAndRightToLeft)
{
    TNetGradient g;
    g.SetCaption("");
    g.resize(100, 4);
    g.SetBeginColor(TColor::Rgb(202, 101, 0));
    g.SetEndColor(clWhite);
    // more bands than pixels: the end bands are empty, the colour still runs
    // from one end to the other
    QImage img = Grab(&g);
    EXPECT_LE(std::abs(At(img, 0, 0).green() - 101), 2);
    EXPECT_LE(255 - At(img, 99, 0).blue(), 2);
    for (int x = 1; x < 100; ++x)
        EXPECT_GE(At(img, x, 0).green(), At(img, x - 1, 0).green());

    g.SetNumberOfColors(10);
    g.SetFillDirection(fdRightToLeft);
    img = Grab(&g);
    EXPECT_EQ(At(img, 0, 0), QColor(255, 255, 255));
    EXPECT_EQ(At(img, 99, 0), QColor(202, 101, 0));

    g.SetEndColor(TColor::Rgb(202, 101, 0));
    img = Grab(&g);
    for (int x = 0; x < 100; ++x)
        EXPECT_EQ(At(img, x, 3), QColor(202, 101, 0));
}

TEST(NetGradient, SystemColourFollowsThePaletteAtEachPaint)
{
    const QPalette saved = QApplication::palette();
    TNetGradient g;
    g.SetCaption("");
    g.SetNumberOfColors(2);
    g.resize(50, 4);
    QPalette p = saved;
    p.setColor(QPalette::Button, QColor(10, 20, 30));
    QApplication::setPalette(p);
    EXPECT_EQ(At(Grab(&g), 49, 0), QColor(10, 20, 30));
    p.setColor(QPalette::Button, QColor(200, 100, 50));
    QApplication::setPalette(p);
    EXPECT_EQ(At(Grab(&g), 49, 0), QColor(200, 100, 50));
    QApplication::setPalette(saved);
}

TEST(NetGradient, CaptionKeptInTheAnsiCodePage)
{
    TNetGradient g;
    g.SetCaption(QStringLiteral("Atualização €中"));
    EXPECT_EQ(g.Caption(), QStringLiteral("Atualização €?"));
}

// A label on a black background, drawn without anti-aliasing so that every
// pixel is one of the colours drawn.
struct TStage {
    QWidget Back;
    TmyLabel3D* Label;
    TStage(const QString& caption, int pixelSize = 40)
    {
        Back.resize(400, 120);
        Back.setAutoFillBackground(true);
        QPalette p;
        p.setColor(QPalette::Window, Qt::black);
        Back.setPalette(p);
        Label = new TmyLabel3D(&Back);
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setPixelSize(pixelSize);
        f.setStyleStrategy(QFont::NoAntialias);
        Label->SetFont(f);
        Label->SetAutoSize(false);
        Label->setGeometry(10, 10, 380, 100);
        Label->SetTransparent(true);
        Label->SetFontColor(clWhite);
        Label->SetCaption(caption);
    }
    QImage Image() { return Grab(&Back); }
};

QSet<QRgb> Colours(const QImage& img)
{
    QSet<QRgb> set;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            set.insert(img.pixel(x, y) & 0xFFFFFF);
    return set;
}

int Count(const QImage& img, QColor c)
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += QColor(img.pixel(x, y)) == c;
    return n;
}

TEST(Label3D, ValuesAfterConstruction)
{
    TmyLabel3D l;
    EXPECT_EQ(l.TextStyle(), tsRaised);
    EXPECT_EQ(l.Shift(), 1);
    EXPECT_EQ(l.Escapement(), 0);
    EXPECT_FALSE(l.Colored());
    EXPECT_EQ(l.EllipsesStyle(), esNone);
    EXPECT_EQ(l.LabelStyle(), lsDefault);
    EXPECT_TRUE(l.Address().isEmpty());
    EXPECT_EQ(l.BorderColor(), clRed);
    EXPECT_EQ(l.BorderWidth(), 1);
    EXPECT_EQ(l.BorderPenStyle(), Qt::SolidLine);
    EXPECT_FALSE(l.Border());
    EXPECT_EQ(l.BorderType(), btDefault);
    EXPECT_EQ(l.RecessColor(), clBtnShadow);
    EXPECT_EQ(l.RaiseColor(), clBtnHighlight);
    EXPECT_EQ(l.ActiveColor(), clRed);
    EXPECT_EQ(l.Font().family(), "Arial");
}

TEST(Label3D, RaisedTextHasItsRedCopyOnePixelRightAndDown)
{
    TStage s(QStringLiteral("FECHE TODOS OS APLICATIVOS *inclusive os terminais**"), 20);
    s.Label->SetWordWrap(true);
    s.Label->SetAlignment(taCenter);
    const QImage img = s.Image();
    const QColor white(255, 255, 255), red(255, 0, 0);
    int reds = 0, whites = 0;
    for (int y = 1; y < img.height() - 1; ++y)
        for (int x = 1; x < img.width() - 1; ++x) {
            const QColor c = At(img, x, y);
            if (c == red) {
                ++reds;
                EXPECT_EQ(At(img, x - 1, y - 1), white) << x << "," << y;
            } else if (c == white) {
                ++whites;
                const QColor below = At(img, x + 1, y + 1);
                EXPECT_TRUE(below == white || below == red) << x << "," << y;
            }
        }
    EXPECT_GT(reds, 50);
    // the text itself lies on top, exactly as without the effect
    s.Label->SetTextStyle(tsNone);
    EXPECT_EQ(Count(s.Image(), white), whites);
}

// An ellipsis only where the text does not fit; asking for one ends the
// automatic sizing.
TEST(Label3D, EllipsesShortenOnlyWhatDoesNotFit)
{
    TStage s(QStringLiteral("KELDARIN"));
    s.Label->SetTextStyle(tsNone);
    s.Label->SetAutoSize(true);
    s.Label->setGeometry(10, 10, 380, 100);
    const QImage fits = s.Image();
    for (TEllipsesStyle style : {esEnd, esPath}) {
        s.Label->SetEllipsesStyle(style);
        EXPECT_FALSE(s.Label->AutoSize());
        EXPECT_EQ(s.Image(), fits) << style;
        s.Label->SetEllipsesStyle(esNone);
    }
    s.Label->SetCaption(QStringLiteral("C:\\Arquivos\\Belmora\\Keldarin\\Quendarive.exe"));
    const QImage cut = s.Image();
    for (TEllipsesStyle style : {esEnd, esPath}) {
        s.Label->SetEllipsesStyle(style);
        EXPECT_NE(s.Image(), cut) << style;
    }
}

TEST(Label3D, DisabledTextTakesTheGrayTextColour)
{
    TStage s(QStringLiteral("KELDARIN"));
    s.Label->SetTextStyle(tsNone);
    QPalette p = s.Label->palette();
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0, 200, 100));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0, 200, 100));
    s.Label->setPalette(p);
    const int whites = Count(s.Image(), QColor(255, 255, 255));
    s.Label->setEnabled(false);
    const QImage img = s.Image();
    EXPECT_EQ(Count(img, QColor(255, 255, 255)), 0);
    EXPECT_EQ(Count(img, clGrayText.Resolve()), whites);
}

// BorderWidth frames, one inside the other, from the label's outer edge in.
TEST(Label3D, BorderFramesNestFromTheOuterEdge)
{
    TStage s(QStringLiteral(""));
    s.Label->SetBorder(true);
    s.Label->SetBorderWidth(2);
    QImage img = s.Image();
    const QColor red(255, 0, 0), gray(128, 128, 128), white(255, 255, 255);
    for (int k = 0; k < 2; ++k) {
        EXPECT_EQ(At(img, 10 + k, 50), red) << k;
        EXPECT_EQ(At(img, 389 - k, 50), red) << k;
        EXPECT_EQ(At(img, 200, 10 + k), red) << k;
        EXPECT_EQ(At(img, 200, 109 - k), red) << k;
    }
    EXPECT_NE(At(img, 12, 50), red);
    s.Label->SetBorderType(btRecessed);
    img = s.Image();
    EXPECT_EQ(At(img, 200, 10), gray);
    EXPECT_EQ(At(img, 10, 50), gray);
    EXPECT_EQ(At(img, 200, 109), white);
    EXPECT_EQ(At(img, 389, 50), white);
    s.Label->SetBorderType(btRaised);
    EXPECT_EQ(At(s.Image(), 200, 10), white);
    s.Label->SetBorder(false);
    EXPECT_EQ(Colours(s.Image()), QSet<QRgb>({0}));
}

TEST(Label3D, EscapementIsNormalised)
{
    TmyLabel3D l;
    l.SetEscapement(-30);
    EXPECT_EQ(l.Escapement(), 330);
    l.SetEscapement(-400);
    EXPECT_EQ(l.Escapement(), 320);
    l.SetEscapement(720);
    EXPECT_EQ(l.Escapement(), 360);
}

TEST(Label3D, RotatedTextSizesTheLabel)
{
    TStage s(QStringLiteral("Keldarin"));
    s.Label->SetAutoSize(true);
    s.Label->SetEscapement(90);
    s.Image();
    const QFontMetrics fm(s.Label->Font());
    EXPECT_EQ(s.Label->size(), QSize(fm.height(), fm.horizontalAdvance("Keldarin")));
    EXPECT_GT(Count(s.Image(), QColor(255, 255, 255)), 100);
}

TEST(Label3D, MarkupStylesAndColours)
{
    const QColor white(255, 255, 255);
    auto render = [](const QString& caption, TTextStyle style = tsNone) {
        TStage s(caption);
        s.Label->SetColored(true);
        s.Label->SetTextStyle(style);
        return s.Image();
    };
    EXPECT_GT(Count(render("<b>A</b>"), white), Count(render("A"), white));
    EXPECT_EQ(Count(render("<b>"), white), 0);
    EXPECT_GT(Count(render("<x>"), white), 0); // not a tag: plain text
    EXPECT_GT(Count(render("<c:$00FF00>G"), QColor(0, 255, 0)), 0);
    EXPECT_EQ(Count(render("<c:nome>N"), white), Count(render("N"), white));

    // B red, C back in the colour of the text
    const QImage img = render("<c:red>B</c>C");
    int lastRed = -1, firstWhite = 1 << 20;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            if (At(img, x, y) == QColor(255, 0, 0))
                lastRed = std::max(lastRed, x);
            if (At(img, x, y) == white)
                firstWhite = std::min(firstWhite, x);
        }
    EXPECT_GT(lastRed, 0);
    EXPECT_LT(lastRed, firstWhite);
}

TEST(Label3D, MarkupColoursDarkenedAndLightenedInTheCopies)
{
    TStage s(QStringLiteral("<c:red>WWW"));
    s.Label->SetColored(true);
    s.Label->SetTextStyle(tsLightRaised);
    s.Label->SetShift(3);
    const QSet<QRgb> colours = Colours(s.Image());
    EXPECT_TRUE(colours.contains(qRgb(255, 0, 0) & 0xFFFFFF));
    EXPECT_TRUE(colours.contains(qRgb(26, 0, 0) & 0xFFFFFF));
    EXPECT_TRUE(colours.contains(qRgb(255, 230, 230) & 0xFFFFFF));
}

TEST(Label3D, EmailLinkOpensMailtoAndClickFiresEitherWay)
{
    QStringList opened;
    SetShellOpenFunction([&](const QString& a) {
        opened << a;
        return true;
    });
    TmyLabel3D l;
    l.SetCaption("suporte");
    l.SetLabelStyle(lsEMailAddress);
    QSignalSpy clicks(&l, &TmyLabel3D::OnClick);
    l.show();
    QTest::mouseClick(&l, Qt::LeftButton);
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_EQ(clicks.count(), 1);
    l.SetAddress("suporte@belmora.com.br");
    QTest::mouseClick(&l, Qt::LeftButton);
    EXPECT_EQ(opened, QStringList {"mailto:suporte@belmora.com.br"});
    EXPECT_EQ(clicks.count(), 2);
    l.SetLabelStyle(lsWWWAddress);
    l.SetAddress("http://www.belmora.com.br");
    QTest::mouseClick(&l, Qt::LeftButton);
    EXPECT_EQ(opened.last(), "http://www.belmora.com.br");
    SetShellOpenFunction({});
}

TEST(Label3D, LinkLightsUpUnderTheMouse)
{
    TmyLabel3D l;
    l.SetLabelStyle(lsWWWAddress);
    l.SetFontColor(clBlue);
    QSignalSpy enter(&l, &TmyLabel3D::OnMouseEnter), exit(&l, &TmyLabel3D::OnMouseExit);
    QEnterEvent in(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QApplication::sendEvent(&l, &in);
    EXPECT_TRUE(l.Font().underline());
    EXPECT_EQ(l.FontColor(), clRed);
    QEvent out(QEvent::Leave);
    QApplication::sendEvent(&l, &out);
    EXPECT_FALSE(l.Font().underline());
    EXPECT_EQ(l.FontColor(), clBlue);
    EXPECT_EQ(enter.count(), 1);
    EXPECT_EQ(exit.count(), 1);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen"); // test discovery runs without the test environment
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
