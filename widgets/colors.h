// The program's colour value: 32 bits, red in the lowest byte, then green and
// blue. A high byte of 0xFF marks a system colour whose index is the low byte;
// it is looked up in the current palette each time it is resolved.
#pragma once

#include <QColor>
#include <QString>
#include <QtGlobal>
#include <optional>

class TColor {
public:
    constexpr TColor() = default;
    constexpr explicit TColor(quint32 value) : FValue(value) {}
    static constexpr TColor Rgb(int r, int g, int b)
    {
        return TColor(quint32(r & 0xFF) | quint32(g & 0xFF) << 8 | quint32(b & 0xFF) << 16);
    }

    constexpr quint32 Value() const { return FValue; }
    constexpr bool IsSystem() const { return (FValue >> 24) == 0xFF; }
    constexpr int SystemIndex() const { return int(FValue & 0xFF); }

    // The colour as drawn now. A plain value uses its low three bytes, the
    // special values too: clNone draws white and clDefault black.
    QColor Resolve() const;

    friend constexpr bool operator==(TColor a, TColor b) { return a.FValue == b.FValue; }

private:
    quint32 FValue = 0;
};

// The colour names the program knows, with their values.
inline constexpr TColor clBlack = TColor::Rgb(0, 0, 0);
inline constexpr TColor clMaroon = TColor::Rgb(128, 0, 0);
inline constexpr TColor clGreen = TColor::Rgb(0, 128, 0);
inline constexpr TColor clOlive = TColor::Rgb(128, 128, 0);
inline constexpr TColor clNavy = TColor::Rgb(0, 0, 128);
inline constexpr TColor clPurple = TColor::Rgb(128, 0, 128);
inline constexpr TColor clTeal = TColor::Rgb(0, 128, 128);
inline constexpr TColor clGray = TColor::Rgb(128, 128, 128);
inline constexpr TColor clSilver = TColor::Rgb(192, 192, 192);
inline constexpr TColor clRed = TColor::Rgb(255, 0, 0);
inline constexpr TColor clLime = TColor::Rgb(0, 255, 0);
inline constexpr TColor clYellow = TColor::Rgb(255, 255, 0);
inline constexpr TColor clBlue = TColor::Rgb(0, 0, 255);
inline constexpr TColor clFuchsia = TColor::Rgb(255, 0, 255);
inline constexpr TColor clAqua = TColor::Rgb(0, 255, 255);
inline constexpr TColor clWhite = TColor::Rgb(255, 255, 255);
inline constexpr TColor clMoneyGreen = TColor::Rgb(192, 220, 192);
inline constexpr TColor clSkyBlue = TColor::Rgb(166, 202, 240);
inline constexpr TColor clCream = TColor::Rgb(255, 251, 240);
inline constexpr TColor clMedGray = TColor::Rgb(160, 160, 164);

inline constexpr TColor clScrollBar {0xFF000000};
inline constexpr TColor clBackground {0xFF000001};
inline constexpr TColor clActiveCaption {0xFF000002};
inline constexpr TColor clInactiveCaption {0xFF000003};
inline constexpr TColor clMenu {0xFF000004};
inline constexpr TColor clWindow {0xFF000005};
inline constexpr TColor clWindowFrame {0xFF000006};
inline constexpr TColor clMenuText {0xFF000007};
inline constexpr TColor clWindowText {0xFF000008};
inline constexpr TColor clCaptionText {0xFF000009};
inline constexpr TColor clActiveBorder {0xFF00000A};
inline constexpr TColor clInactiveBorder {0xFF00000B};
inline constexpr TColor clAppWorkSpace {0xFF00000C};
inline constexpr TColor clHighlight {0xFF00000D};
inline constexpr TColor clHighlightText {0xFF00000E};
inline constexpr TColor clBtnFace {0xFF00000F};
inline constexpr TColor clBtnShadow {0xFF000010};
inline constexpr TColor clGrayText {0xFF000011};
inline constexpr TColor clBtnText {0xFF000012};
inline constexpr TColor clInactiveCaptionText {0xFF000013};
inline constexpr TColor clBtnHighlight {0xFF000014};
inline constexpr TColor cl3DDkShadow {0xFF000015};
inline constexpr TColor cl3DLight {0xFF000016};
inline constexpr TColor clInfoText {0xFF000017};
inline constexpr TColor clInfoBk {0xFF000018};
inline constexpr TColor clHotLight {0xFF00001A};
inline constexpr TColor clGradientActiveCaption {0xFF00001B};
inline constexpr TColor clGradientInactiveCaption {0xFF00001C};
inline constexpr TColor clMenuHighlight {0xFF00001D};
inline constexpr TColor clMenuBar {0xFF00001E};

inline constexpr TColor clNone {0x1FFFFFFF};
inline constexpr TColor clDefault {0x20000000};

// Looks up a colour name such as "clRed" or "clBtnFace", ignoring case.
std::optional<TColor> IdentToColor(const QString& name);
