#include "widgets/netgradient.h"

#include "platform/codepage.h"

#include <QImage>
#include <QPainter>
#include <cstdlib>
#include <limits>

int MulDiv(int a, int b, int c)
{
    if (c == 0)
        return -1;
    const qint64 product = qint64(a) * qint64(b);
    const qint64 half = std::llabs(c) / 2;
    const bool negative = (product < 0) != (c < 0);
    const qint64 magnitude = (std::llabs(product) + half) / std::llabs(c);
    const qint64 result = negative ? -magnitude : magnitude;
    if (result > std::numeric_limits<int>::max() || result < std::numeric_limits<int>::min())
        return -1;
    return int(result);
}

TNetGradient::TNetGradient(QWidget* owner) : QWidget(owner), FCaption("TNetGradient")
{
    QFont bold = font();
    bold.setBold(true);
    setFont(bold);
    resize(400, 25);
}

void TNetGradient::SetBeginColor(TColor value)
{
    FBeginColor = value;
    repaint();
}

void TNetGradient::SetEndColor(TColor value)
{
    FEndColor = value;
    repaint();
}

void TNetGradient::SetFillDirection(TFillDirection value)
{
    if (value == FFillDirection)
        return;
    FFillDirection = value;
    repaint();
}

void TNetGradient::SetNumberOfColors(TNumberOfColors value)
{
    FNumberOfColors = value == 0 ? 1 : value;
    update();
}

void TNetGradient::SetFont(const QFont& value)
{
    if (value == font())
        return;
    setFont(value);
    repaint();
}

void TNetGradient::SetFontColor(TColor value)
{
    FFontColor = value;
    repaint();
}

QString TNetGradient::Caption() const
{
    return FromAnsi(FCaption);
}

void TNetGradient::SetCaption(const QString& value)
{
    FCaption = ToAnsi(value);
    repaint();
}

void TNetGradient::SetTextLeft(int value)
{
    FTextLeft = value;
    repaint();
}

void TNetGradient::SetTextTop(int value)
{
    FTextTop = value;
    repaint();
}

void TNetGradient::SetAutoSize(bool value)
{
    FAutoSize = value;
    update();
}

void TNetGradient::paintEvent(QPaintEvent*)
{
    const int w = width(), h = height();
    if (w <= 0 || h <= 0)
        return;
    // Bands go to an off-screen image first so the control never shows a
    // half-drawn gradient.
    QImage bands(w, h, QImage::Format_RGB32);
    {
        QColor start = FBeginColor.Resolve(), end = FEndColor.Resolve();
        if (FFillDirection == fdRightToLeft)
            std::swap(start, end);
        const int dr = end.red() - start.red(), dg = end.green() - start.green(), db = end.blue() - start.blue();
        const int n = FNumberOfColors;
        QPainter p(&bands);
        p.setPen(Qt::NoPen);
        for (int k = 0; k < n; ++k) {
            const int left = MulDiv(k, w, n), right = MulDiv(k + 1, w, n);
            const QColor c = n == 1 ? start
                                    : QColor(start.red() + MulDiv(k, dr, n - 1), start.green() + MulDiv(k, dg, n - 1),
                                             start.blue() + MulDiv(k, db, n - 1));
            p.fillRect(QRect(left, 0, right - left, h), c);
        }
    }
    QPainter canvas(this);
    canvas.drawImage(0, 0, bands);
    canvas.setFont(font());
    canvas.setPen(FFontColor.Resolve());
    canvas.drawText(QPointF(FTextLeft, FTextTop + canvas.fontMetrics().ascent()), Caption());
}
