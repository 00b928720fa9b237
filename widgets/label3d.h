// TmyLabel3D: a text label that draws its caption with a raised,
// recessed or shadowed look (offset copies under the text), optionally rotated,
// with a small inline markup (<b> <i> <u> <c:name> and their closers), an
// ellipsis for text that does not fit, and web or e-mail link behaviour.
#pragma once

#include "widgets/colors.h"

#include <QFont>
#include <QPen>
#include <QWidget>

enum TTextStyle { tsNone, tsRaised, tsLightRaised, tsRecessed, tsHeavyRecessed, tsShadow };
enum TEllipsesStyle { esNone, esEnd, esPath };
enum TLabelStyle { lsDefault, lsWWWAddress, lsEMailAddress };
enum TBorderType { btDefault, btRecessed, btRaised };
enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TTextLayout { tlTop, tlCenter, tlBottom };

class TmyLabel3D : public QWidget {
    Q_OBJECT

public:
    explicit TmyLabel3D(QWidget* owner = nullptr);

    // What every text label has.
    QString Caption() const { return FCaption; }
    void SetCaption(const QString& value);
    TColor Color() const { return FColor; }
    void SetColor(TColor value);
    QFont Font() const { return font(); }
    void SetFont(const QFont& value);
    TColor FontColor() const { return FFontColor; }
    void SetFontColor(TColor value);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment value);
    TTextLayout Layout() const { return FLayout; }
    void SetLayout(TTextLayout value);
    bool WordWrap() const { return FWordWrap; }
    void SetWordWrap(bool value);
    // Sizes the label to its caption measured as plain text.
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool value);
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool value);
    bool ShowAccelChar() const { return FShowAccelChar; }
    void SetShowAccelChar(bool value);

    TTextStyle TextStyle() const { return FTextStyle; }
    void SetTextStyle(TTextStyle value);
    int Shift() const { return FShift; }
    void SetShift(int value);
    // Degrees counter-clockwise, kept within 0 to 360.
    int Escapement() const { return FEscapement; }
    void SetEscapement(int value);
    bool Colored() const { return FColored; }
    void SetColored(bool value);
    TEllipsesStyle EllipsesStyle() const { return FEllipsesStyle; }
    void SetEllipsesStyle(TEllipsesStyle value); // other than esNone also ends AutoSize
    TLabelStyle LabelStyle() const { return FLabelStyle; }
    void SetLabelStyle(TLabelStyle value) { FLabelStyle = value; }
    QString Address() const { return FAddress; }
    void SetAddress(const QString& value) { FAddress = value; }
    TColor BorderColor() const { return FBorderColor; }
    void SetBorderColor(TColor value);
    int BorderWidth() const { return FBorderWidth; }
    void SetBorderWidth(int value);
    Qt::PenStyle BorderPenStyle() const { return FBorderPenStyle; }
    void SetBorderPenStyle(Qt::PenStyle value);
    bool Border() const { return FBorder; }
    void SetBorder(bool value);
    TBorderType BorderType() const { return FBorderType; }
    void SetBorderType(TBorderType value);

    void SetColorRR(TColor recessColor, TColor raiseColor);
    TColor RecessColor() const { return FRecessColor; }
    TColor RaiseColor() const { return FRaiseColor; }
    TColor ActiveColor() const { return FActiveColor; }

signals:
    void OnClick();
    void OnMouseEnter(TmyLabel3D* sender);
    void OnMouseExit(TmyLabel3D* sender);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    // Opens the link, if any, then fires OnClick.
    virtual void Click();

private:
    // How markup colours are changed in an effect copy.
    enum TShade { shPlain, shDarkened, shLightened };

    void Changed();
    void AdjustBounds();
    bool IsLink() const { return FLabelStyle == lsWWWAddress || FLabelStyle == lsEMailAddress; }
    void DrawLabelText(QPainter& canvas, const QRect& rect, int flags);
    void DrawCopy(QPainter& canvas, const QRect& rect, int flags, const QColor& color, TShade shade);
    void DrawRotated(QPainter& canvas, QRect rect, const QColor& color);
    void DrawMarkup(QPainter& canvas, const QRect& rect, const QColor& color, TShade shade);
    int ScanMarkupLine(QPainter* canvas, const QString& line, QPoint origin, const QColor& color, TShade shade) const;
    void DrawFormatted(QPainter& canvas, const QRect& rect, int flags, const QColor& color);
    void DrawBorder(QPainter& canvas);

    QString FCaption;
    TColor FColor = clBtnFace;
    TColor FFontColor = clWindowText;
    TAlignment FAlignment = taLeftJustify;
    TTextLayout FLayout = tlTop;
    bool FWordWrap = false;
    bool FAutoSize = true;
    bool FTransparent = false;
    bool FShowAccelChar = true;

    TTextStyle FTextStyle = tsRaised;
    int FShift = 1;
    int FEscapement = 0;
    bool FColored = false;
    TEllipsesStyle FEllipsesStyle = esNone;
    TLabelStyle FLabelStyle = lsDefault;
    QString FAddress;
    TColor FBorderColor = clRed;
    int FBorderWidth = 1;
    Qt::PenStyle FBorderPenStyle = Qt::SolidLine;
    bool FBorder = false;
    TBorderType FBorderType = btDefault;
    TColor FRecessColor = clBtnShadow;
    TColor FRaiseColor = clBtnHighlight;
    TColor FActiveColor = clRed;
    TColor FSavedFontColor = clWindowText;
    bool FPressed = false;
};
