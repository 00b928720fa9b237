#include "widgets/label3d.h"

#include "platform/shell.h"
#include "platform/text.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>
#include <numbers>

namespace {

// num / den rounded to nearest, halves to even (den > 0, num >= 0).
constexpr int RoundHalfEven(int num, int den)
{
    const int q = num / den, r = num % den;
    if (2 * r > den || (2 * r == den && q % 2 != 0))
        return q + 1;
    return q;
}

constexpr int DarkenChannel(int c)
{
    return RoundHalfEven(c * 10, 100);
}

// round(c * 10 / 100) + round(255 - 10 / 100 * 255), at most 255.
constexpr int LightenChannel(int c)
{
    const int v = RoundHalfEven(c * 10, 100) + RoundHalfEven(2550 - 255, 10);
    return v > 255 ? 255 : v;
}

static_assert(DarkenChannel(255) == 26 && LightenChannel(255) == 255 && LightenChannel(0) == 230);

const QChar Ellipsis(0x2026);

// Keeps what follows the last path separator and shortens what is before it.
QString PathElided(const QString& line, const QFontMetrics& fm, int width, int flags)
{
    if (fm.horizontalAdvance(line) <= width)
        return line;
    const qsizetype sep = std::max(line.lastIndexOf(u'\\'), line.lastIndexOf(u'/'));
    if (sep < 0)
        return fm.elidedText(line, Qt::ElideMiddle, width, flags);
    const QString head = line.left(sep), tail = line.mid(sep);
    for (qsizetype k = head.size(); k >= 0; --k) {
        const QString candidate = head.left(k) + Ellipsis + tail;
        if (fm.horizontalAdvance(candidate) <= width)
            return candidate;
    }
    return fm.elidedText(Ellipsis + tail, Qt::ElideRight, width, flags);
}

// The longest start of the text that, with an ellipsis, still fits the
// rectangle when wrapped.
QString WrappedEndElided(const QString& text, const QFontMetrics& fm, const QRect& rect, int flags)
{
    auto fits = [&](const QString& s) { return fm.boundingRect(rect, flags, s).height() <= rect.height(); };
    if (fits(text))
        return text;
    qsizetype lo = 0, hi = text.size();
    while (lo < hi) {
        const qsizetype mid = (lo + hi + 1) / 2;
        if (fits(text.left(mid).trimmed() + Ellipsis))
            lo = mid;
        else
            hi = mid - 1;
    }
    return text.left(lo).trimmed() + Ellipsis;
}

double Rad(double degrees)
{
    return degrees * std::numbers::pi / 180.0;
}

} // namespace

TmyLabel3D::TmyLabel3D(QWidget* owner) : QWidget(owner)
{
    QFont f = font();
    f.setFamily(QStringLiteral("Arial"));
    setFont(f);
    AdjustBounds();
}

void TmyLabel3D::Changed()
{
    AdjustBounds();
    update();
}

void TmyLabel3D::SetCaption(const QString& value)
{
    if (value == FCaption)
        return;
    FCaption = value;
    Changed();
}

void TmyLabel3D::SetColor(TColor value)
{
    FColor = value;
    update();
}

void TmyLabel3D::SetFont(const QFont& value)
{
    setFont(value);
    Changed();
}

void TmyLabel3D::SetFontColor(TColor value)
{
    FFontColor = value;
    update();
}

void TmyLabel3D::SetAlignment(TAlignment value)
{
    FAlignment = value;
    update();
}

void TmyLabel3D::SetLayout(TTextLayout value)
{
    FLayout = value;
    update();
}

void TmyLabel3D::SetWordWrap(bool value)
{
    FWordWrap = value;
    Changed();
}

void TmyLabel3D::SetAutoSize(bool value)
{
    FAutoSize = value;
    Changed();
}

void TmyLabel3D::SetTransparent(bool value)
{
    FTransparent = value;
    update();
}

void TmyLabel3D::SetShowAccelChar(bool value)
{
    FShowAccelChar = value;
    Changed();
}

void TmyLabel3D::SetTextStyle(TTextStyle value)
{
    if (value == FTextStyle)
        return;
    FTextStyle = value;
    update();
}

void TmyLabel3D::SetShift(int value)
{
    if (value == FShift)
        return;
    FShift = value;
    update();
}

void TmyLabel3D::SetEscapement(int value)
{
    if (value == FEscapement)
        return;
    if (value < 0) {
        while (value < -360)
            value += 360;
        value += 360;
    } else {
        while (value > 360)
            value -= 360;
    }
    FEscapement = value;
    update();
}

void TmyLabel3D::SetColored(bool value)
{
    if (value == FColored)
        return;
    FColored = value;
    update();
}

void TmyLabel3D::SetEllipsesStyle(TEllipsesStyle value)
{
    if (value == FEllipsesStyle)
        return;
    FEllipsesStyle = value;
    if (value != esNone)
        FAutoSize = false;
    update();
}

void TmyLabel3D::SetBorderColor(TColor value)
{
    FBorderColor = value;
    update();
}

void TmyLabel3D::SetBorderWidth(int value)
{
    FBorderWidth = value;
    update();
}

void TmyLabel3D::SetBorderPenStyle(Qt::PenStyle value)
{
    FBorderPenStyle = value;
    update();
}

void TmyLabel3D::SetBorder(bool value)
{
    FBorder = value;
    update();
}

void TmyLabel3D::SetBorderType(TBorderType value)
{
    if (value == FBorderType)
        return;
    FBorderType = value;
    update();
}

void TmyLabel3D::SetColorRR(TColor recessColor, TColor raiseColor)
{
    FRecessColor = recessColor;
    FRaiseColor = raiseColor;
    update();
}

void TmyLabel3D::AdjustBounds()
{
    if (!FAutoSize)
        return;
    QString text = FCaption;
    if (text.isEmpty() || (FShowAccelChar && text == QLatin1String("&")))
        text += u' '; // an empty label keeps the height of one line
    const int flags = Qt::TextExpandTabs | (FWordWrap ? Qt::TextWordWrap : 0) | (FShowAccelChar ? Qt::TextShowMnemonic : 0);
    const QRect measured = QFontMetrics(font()).boundingRect(QRect(0, 0, FWordWrap ? width() : 1 << 20, 1 << 20), flags, text);
    int x = this->x();
    if (FAlignment == taRightJustify)
        x += width() - measured.width();
    setGeometry(x, y(), measured.width(), measured.height());
}

void TmyLabel3D::paintEvent(QPaintEvent*)
{
    QPainter canvas(this);
    if (!FTransparent)
        canvas.fillRect(rect(), FColor.Resolve());
    if (FBorder && FBorderWidth > 0)
        DrawBorder(canvas);
    int flags = Qt::TextExpandTabs | Qt::AlignTop;
    if (FWordWrap)
        flags |= Qt::TextWordWrap;
    flags |= FAlignment == taRightJustify ? Qt::AlignRight : FAlignment == taCenter ? Qt::AlignHCenter : Qt::AlignLeft;
    DrawLabelText(canvas, rect(), flags);
}

void TmyLabel3D::DrawBorder(QPainter& canvas)
{
    QPen pen(FBorderColor.Resolve(), 1, FBorderPenStyle);
    pen.setCapStyle(Qt::FlatCap);
    const QColor gray(128, 128, 128), white(255, 255, 255);
    // Concentric one-pixel frames, BorderWidth of them, from the outer edge in.
    for (int k = 0; k < FBorderWidth; ++k) {
        const QRect r = rect().adjusted(k, k, -k, -k);
        if (r.width() <= 0 || r.height() <= 0)
            break;
        if (FBorderType == btDefault) {
            canvas.setPen(pen);
            canvas.setBrush(Qt::NoBrush);
            canvas.drawRect(r.adjusted(0, 0, -1, -1));
            continue;
        }
        const QColor topLeft = FBorderType == btRecessed ? gray : white;
        const QColor bottomRight = FBorderType == btRecessed ? white : gray;
        pen.setColor(topLeft);
        canvas.setPen(pen);
        canvas.drawLine(r.topLeft(), r.topRight());
        canvas.drawLine(r.topLeft(), r.bottomLeft());
        pen.setColor(bottomRight);
        canvas.setPen(pen);
        canvas.drawLine(r.bottomLeft(), r.bottomRight());
        canvas.drawLine(r.topRight(), r.bottomRight());
    }
}

void TmyLabel3D::DrawLabelText(QPainter& canvas, const QRect& rect, int flags)
{
    if (FShowAccelChar)
        flags |= Qt::TextShowMnemonic;
    if (FEscapement == 0 && FLayout != tlTop) {
        flags &= ~(Qt::AlignTop | Qt::TextWordWrap);
        flags |= Qt::TextSingleLine | (FLayout == tlCenter ? Qt::AlignVCenter : Qt::AlignBottom);
    }
    canvas.setFont(font());
    const QRect down = rect.translated(FShift, FShift), up = rect.translated(-FShift, -FShift);
    const QColor recess = FRecessColor.Resolve(), raise = FRaiseColor.Resolve();
    switch (FTextStyle) {
    case tsNone:
        break;
    case tsRaised:
        DrawCopy(canvas, down, flags, FBorderColor.Resolve(), shDarkened);
        break;
    case tsLightRaised:
        DrawCopy(canvas, down, flags, recess, shDarkened);
        DrawCopy(canvas, up, flags, raise, shLightened);
        break;
    case tsRecessed:
        DrawCopy(canvas, down, flags, raise, shLightened);
        break;
    case tsHeavyRecessed:
        DrawCopy(canvas, down, flags, raise, shLightened);
        DrawCopy(canvas, up, flags, recess, shDarkened);
        break;
    case tsShadow:
        DrawCopy(canvas, down, flags, recess, shDarkened);
        break;
    }
    DrawCopy(canvas, rect, flags, isEnabled() ? FFontColor.Resolve() : clGrayText.Resolve(), shPlain);
}

void TmyLabel3D::DrawCopy(QPainter& canvas, const QRect& rect, int flags, const QColor& color, TShade shade)
{
    if (FEscapement != 0)
        DrawRotated(canvas, rect, color);
    else if (FColored)
        DrawMarkup(canvas, rect, color, shade);
    else
        DrawFormatted(canvas, rect, flags, color);
}

void TmyLabel3D::DrawFormatted(QPainter& canvas, const QRect& rect, int flags, const QColor& color)
{
    QString text = FCaption;
    if (FEllipsesStyle != esNone) {
        const QFontMetrics fm(canvas.font());
        const int mnemonic = flags & Qt::TextShowMnemonic;
        if (FEllipsesStyle == esEnd && (flags & Qt::TextWordWrap)) {
            text = WrappedEndElided(text, fm, rect, flags);
        } else {
            QStringList lines = SplitLines(text, lsKeepLastEmpty);
            for (QString& line : lines)
                line = FEllipsesStyle == esEnd ? fm.elidedText(line, Qt::ElideRight, rect.width(), mnemonic)
                                               : PathElided(line, fm, rect.width(), mnemonic);
            text = lines.join(u'\n');
        }
    }
    canvas.setPen(color);
    canvas.drawText(rect, flags, text);
}

void TmyLabel3D::DrawRotated(QPainter& canvas, QRect rect, const QColor& color)
{
    const QString text = FCaption.left(255);
    const QFontMetrics fm(font());
    const double cx = fm.horizontalAdvance(text), cy = fm.height();
    const int a = FEscapement;
    const double t = Rad(a);
    int dx = 0, dy = 0;
    if (a <= 90) {
        dy = int(std::sin(t) * cx);
    } else if (a <= 180) {
        dx = int(-std::cos(t) * cx);
        dy = int(std::sin(t) * cx + std::cos(Rad(180 - a)) * cy);
    } else if (a <= 270) {
        dx = int(-std::cos(t) * cx + std::sin(Rad(a - 180)) * cy);
        dy = int(std::sin(Rad(270 - a)) * cy);
    } else {
        dx = int(std::sin(Rad(360 - a)) * cy);
    }
    rect.setLeft(rect.left() + dx);
    rect.setTop(rect.top() + dy);
    const int bw = std::abs(int(std::cos(t) * cx)) + std::abs(int(std::sin(t) * cy));
    const int bh = std::abs(int(std::sin(t) * cx)) + std::abs(int(std::cos(t) * cy));
    if (FAutoSize) {
        if (width() != bw || height() != bh)
            resize(bw, bh);
    } else if (FAlignment == taCenter) {
        rect.setLeft(rect.left() + (width() - bw) / 2);
    } else if (FAlignment == taRightJustify) {
        rect.setLeft(rect.left() + width() - bw);
    }
    canvas.save();
    canvas.setPen(color);
    canvas.translate(rect.left(), rect.top());
    canvas.rotate(-a); // the screen's y axis points down
    canvas.drawText(QPointF(0, fm.ascent()), text);
    canvas.restore();
}

void TmyLabel3D::DrawMarkup(QPainter& canvas, const QRect& rect, const QColor& color, TShade shade)
{
    const QStringList lines = SplitLines(FCaption, lsKeepLastEmpty);
    const int lineHeight = QFontMetrics(font()).size(Qt::TextSingleLine, QStringLiteral("W")).height();
    const int right = rect.left() + rect.width();
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int w = ScanMarkupLine(nullptr, lines[i], QPoint(), color, shade) + 4;
        int left = rect.left();
        if (FAlignment == taRightJustify)
            left = right - w;
        else if (FAlignment == taCenter)
            left += (right - left - w) / 2;
        ScanMarkupLine(&canvas, lines[i], QPoint(left + 2, rect.top() + int(i) * lineHeight), color, shade);
    }
}

// Draws (canvas given) or measures one markup line; returns its width.
int TmyLabel3D::ScanMarkupLine(QPainter* canvas, const QString& line, QPoint origin, const QColor& color,
                               TShade shade) const
{
    QFont f = font();
    QColor current = color;
    int x = origin.x();
    QString run;
    auto flush = [&] {
        if (run.isEmpty())
            return;
        const QFontMetrics fm(f);
        if (canvas) {
            canvas->setFont(f);
            canvas->setPen(current);
            canvas->drawText(QPoint(x, origin.y() + fm.ascent()), run);
        }
        x += fm.horizontalAdvance(run);
        run.clear();
    };
    auto shaded = [shade](const QColor& c) {
        switch (shade) {
        case shDarkened:
            return QColor(DarkenChannel(c.red()), DarkenChannel(c.green()), DarkenChannel(c.blue()));
        case shLightened:
            return QColor(LightenChannel(c.red()), LightenChannel(c.green()), LightenChannel(c.blue()));
        case shPlain:
            break;
        }
        return c;
    };
    const qsizetype n = line.size();
    qsizetype i = 0;
    while (i < n) {
        if (line.at(i) == u'<') {
            const qsizetype close = line.indexOf(u'>', i + 1);
            if (line.mid(i + 1, 2).compare(QLatin1String("c:"), Qt::CaseInsensitive) == 0) {
                const qsizetype end = close < 0 ? n : close;
                const QString name = line.mid(i + 3, end - i - 3);
                flush();
                std::optional<TColor> value;
                if (name.startsWith(u'$')) {
                    bool ok = false;
                    const uint v = name.mid(1).toUInt(&ok, 16);
                    if (ok && name.size() <= 9)
                        value = TColor(v);
                } else if (!name.isEmpty()) {
                    value = IdentToColor(QStringLiteral("cl") + name);
                }
                if (value)
                    current = shaded(value->Resolve());
                i = close < 0 ? n : close + 1;
                continue;
            }
            if (close > 0) {
                const QString tag = line.mid(i + 1, close - i - 1).toLower();
                static const QStringList simple {"b", "/b", "i", "/i", "u", "/u", "/c"};
                if (simple.contains(tag)) {
                    flush();
                    const bool on = !tag.startsWith(u'/');
                    const QChar what = tag.back();
                    if (what == u'b')
                        f.setBold(on);
                    else if (what == u'i')
                        f.setItalic(on);
                    else if (what == u'u')
                        f.setUnderline(on);
                    else
                        current = color;
                    i = close + 1;
                    continue;
                }
            }
        }
        run += line.at(i);
        ++i;
    }
    flush();
    if (canvas)
        canvas->setFont(font());
    return x - origin.x();
}

void TmyLabel3D::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        FPressed = true;
    QWidget::mousePressEvent(event);
}

void TmyLabel3D::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = FPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    FPressed = false;
    QWidget::mouseReleaseEvent(event);
    if (click)
        Click();
}

void TmyLabel3D::Click()
{
    if (IsLink() && !FAddress.isEmpty()) {
        try {
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
            QCoreApplication::processEvents();
            ShellOpen(FLabelStyle == lsWWWAddress ? FAddress : QStringLiteral("mailto:") + FAddress);
        } catch (...) {
            // a link that cannot be opened is not the label's business
        }
        QGuiApplication::restoreOverrideCursor();
        setCursor(Qt::PointingHandCursor);
    }
    emit OnClick();
}

void TmyLabel3D::enterEvent(QEnterEvent* event)
{
    QWidget::enterEvent(event);
    if (IsLink()) {
        FSavedFontColor = FFontColor;
        QFont f = font();
        f.setUnderline(true);
        SetFont(f);
        setCursor(Qt::PointingHandCursor);
        QCoreApplication::processEvents();
        SetFontColor(FActiveColor);
    }
    emit OnMouseEnter(this);
}

void TmyLabel3D::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    if (IsLink()) {
        unsetCursor();
        QFont f = font();
        f.setUnderline(false);
        SetFont(f);
        QCoreApplication::processEvents();
        SetFontColor(FSavedFontColor);
    }
    emit OnMouseExit(this);
}
