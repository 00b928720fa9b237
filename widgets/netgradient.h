// TNetGradient: a caption bar that fills its rectangle with a
// horizontal gradient of vertical bands and writes one line of text on it.
#pragma once

#include "widgets/colors.h"

#include <QByteArray>
#include <QFont>
#include <QWidget>

enum TFillDirection { fdLeftToRight, fdRightToLeft };
using TNumberOfColors = quint8; // 1 to 255 bands

class TNetGradient : public QWidget {
    Q_OBJECT

public:
    explicit TNetGradient(QWidget* owner = nullptr);

    TColor BeginColor() const { return FBeginColor; }
    void SetBeginColor(TColor value);
    TColor EndColor() const { return FEndColor; }
    void SetEndColor(TColor value);
    TFillDirection FillDirection() const { return FFillDirection; }
    void SetFillDirection(TFillDirection value);
    TNumberOfColors NumberOfColors() const { return FNumberOfColors; }
    void SetNumberOfColors(TNumberOfColors value); // 0 is taken as 1
    // The caption's font; its colour is FontColor.
    QFont Font() const { return font(); }
    void SetFont(const QFont& value);
    TColor FontColor() const { return FFontColor; }
    void SetFontColor(TColor value);
    // Kept in the ANSI code page: characters it lacks read back as '?'.
    QString Caption() const;
    void SetCaption(const QString& value);
    int TextLeft() const { return FTextLeft; }
    void SetTextLeft(int value);
    int TextTop() const { return FTextTop; }
    void SetTextTop(int value);
    // Stored only; it changes neither drawing nor size.
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool value);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TColor FBeginColor = clGray;
    TColor FEndColor = clBtnFace;
    TFillDirection FFillDirection = fdLeftToRight;
    TNumberOfColors FNumberOfColors = 255;
    TColor FFontColor = clWindowText;
    QByteArray FCaption;
    int FTextLeft = 12;
    int FTextTop = 5;
    bool FAutoSize = false;
};

// a * b / c with a 64-bit intermediate, rounded to nearest, halves away from
// zero; -1 when c is 0 or the result does not fit.
int MulDiv(int a, int b, int c);
