#include "app/updatepictures.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace {

// A picture at the screen's pixel density, so it stays sharp when scaled.
QPixmap Canvas(int width, int height)
{
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap picture(int(width * ratio), int(height * ratio));
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::transparent);
    return picture;
}

QPixmap Ball(const QColor& colour)
{
    QPixmap picture = Canvas(16, 16);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient shade(QPointF(6, 5.5), 9);
    shade.setColorAt(0, colour.lighter(190));
    shade.setColorAt(0.45, colour);
    shade.setColorAt(1, colour.darker(170));
    p.setPen(QPen(colour.darker(220), 1));
    p.setBrush(shade);
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    return picture;
}

} // namespace

QList<QPixmap> StateBalls()
{
    const QColor green(40, 170, 50), blue(40, 100, 220), orange(245, 140, 20), red(215, 35, 35);
    return {Ball(green), Ball(green), Ball(blue), Ball(orange), Ball(red)};
}

QPixmap UpdateIcon()
{
    QPixmap picture = Canvas(32, 32);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient disc(QPointF(12, 10), 20);
    disc.setColorAt(0, QColor(120, 170, 240));
    disc.setColorAt(1, QColor(20, 70, 160));
    p.setPen(QPen(QColor(15, 50, 120), 1));
    p.setBrush(disc);
    p.drawEllipse(QRectF(1.5, 1.5, 29, 29));
    // a round arrow: most of a circle with its head
    p.setPen(QPen(Qt::white, 2.6, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(8, 8, 16, 16), 100 * 16, 290 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPolygon(QPolygonF({QPointF(14.5, 4.5), QPointF(19.5, 8.2), QPointF(14.2, 11.5)}));
    // the downward arrow in the middle
    p.setPen(QPen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(16, 12.5), QPointF(16, 19.5));
    p.setPen(Qt::NoPen);
    p.drawPolygon(QPolygonF({QPointF(12.5, 17.5), QPointF(19.5, 17.5), QPointF(16, 21.5)}));
    return picture;
}

QPixmap UpdateBackground(int width, int height)
{
    QPixmap picture = Canvas(width, height);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, height);
    sky.setColorAt(0, QColor(246, 249, 252));
    sky.setColorAt(1, QColor(212, 224, 238));
    p.fillRect(QRect(0, 0, width, height), sky);
    // soft bands across the lower right, behind the list and the status texts
    for (int i = 0; i < 3; ++i) {
        QPainterPath band;
        const qreal top = height * (0.46 + 0.09 * i);
        band.moveTo(width * 0.30, height);
        band.cubicTo(width * 0.55, top + 40, width * 0.78, top - 30, width, top);
        band.lineTo(width, height);
        band.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 70 - 18 * i));
        p.drawPath(band);
    }
    return picture;
}

QIcon DownloadGlyph()
{
    QPixmap picture = Canvas(24, 24);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 90, 0), 1.2));
    p.setBrush(QColor(40, 170, 40));
    p.drawPolygon(QPolygonF({QPointF(9, 2), QPointF(15, 2), QPointF(15, 10), QPointF(20, 10), QPointF(12, 18),
                             QPointF(4, 10), QPointF(9, 10)}));
    p.setPen(QPen(QColor(70, 70, 90), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(3, 17), QPointF(3, 21.5), QPointF(21, 21.5), QPointF(21, 17)}));
    return QIcon(picture);
}

TGauge::TGauge(QWidget* owner) : QWidget(owner) {}

void TGauge::SetProgress(int value)
{
    value = std::clamp(value, 0, FMaxValue);
    if (value == FProgress)
        return;
    FProgress = value;
    update();
}

void TGauge::SetMaxValue(int value)
{
    FMaxValue = std::max(value, 1);
    FProgress = std::min(FProgress, FMaxValue);
    update();
}

void TGauge::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRect frame = rect();
    p.fillRect(frame, Qt::white);
    const QRect inner = frame.adjusted(1, 1, -1, -1);
    const int filled = int(qint64(inner.width()) * FProgress / FMaxValue);
    p.fillRect(QRect(inner.left(), inner.top(), filled, inner.height()), ForeColor);
    p.setPen(QColor(128, 128, 128));
    p.drawLine(frame.topLeft(), frame.topRight());
    p.drawLine(frame.topLeft(), frame.bottomLeft());
    p.setPen(Qt::white);
    p.drawLine(frame.bottomLeft(), frame.bottomRight());
    p.drawLine(frame.topRight(), frame.bottomRight());
    p.setPen(Qt::black);
    p.drawText(inner, Qt::AlignCenter, QString::number(FProgress * 100 / FMaxValue) + u'%');
}
