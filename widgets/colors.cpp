#include "widgets/colors.h"

#include <QGuiApplication>
#include <QPalette>
#include <array>

namespace {

struct TSystemRole {
    QPalette::ColorGroup Group;
    QPalette::ColorRole Role;
};

// Where each system colour index lives in a Qt palette.
constexpr std::array<TSystemRole, 31> SystemRoles {{
    {QPalette::Active, QPalette::Mid},             // scroll bar
    {QPalette::Active, QPalette::Dark},            // desktop background
    {QPalette::Active, QPalette::Highlight},       // active caption
    {QPalette::Inactive, QPalette::Mid},           // inactive caption
    {QPalette::Active, QPalette::Window},          // menu
    {QPalette::Active, QPalette::Base},            // window
    {QPalette::Active, QPalette::Shadow},          // window frame
    {QPalette::Active, QPalette::WindowText},      // menu text
    {QPalette::Active, QPalette::Text},            // window text
    {QPalette::Active, QPalette::HighlightedText}, // caption text
    {QPalette::Active, QPalette::Window},          // active border
    {QPalette::Inactive, QPalette::Window},        // inactive border
    {QPalette::Active, QPalette::Mid},             // application work space
    {QPalette::Active, QPalette::Highlight},       // highlight
    {QPalette::Active, QPalette::HighlightedText}, // highlight text
    {QPalette::Active, QPalette::Button},          // button face
    {QPalette::Active, QPalette::Dark},            // button shadow
    {QPalette::Disabled, QPalette::Text},          // gray text
    {QPalette::Active, QPalette::ButtonText},      // button text
    {QPalette::Inactive, QPalette::WindowText},    // inactive caption text
    {QPalette::Active, QPalette::Light},           // button highlight
    {QPalette::Active, QPalette::Shadow},          // 3D dark shadow
    {QPalette::Active, QPalette::Midlight},        // 3D light
    {QPalette::Active, QPalette::ToolTipText},     // info text
    {QPalette::Active, QPalette::ToolTipBase},     // info background
    {QPalette::Active, QPalette::Window},          // (unused index)
    {QPalette::Active, QPalette::Link},            // hot light
    {QPalette::Active, QPalette::Highlight},       // gradient active caption
    {QPalette::Inactive, QPalette::Mid},           // gradient inactive caption
    {QPalette::Active, QPalette::Highlight},       // menu highlight
    {QPalette::Active, QPalette::Window},          // menu bar
}};

struct TColorName {
    const char* Name;
    TColor Color;
};

constexpr std::array<TColorName, 52> ColorNames {{
    {"clBlack", clBlack},
    {"clMaroon", clMaroon},
    {"clGreen", clGreen},
    {"clOlive", clOlive},
    {"clNavy", clNavy},
    {"clPurple", clPurple},
    {"clTeal", clTeal},
    {"clGray", clGray},
    {"clSilver", clSilver},
    {"clRed", clRed},
    {"clLime", clLime},
    {"clYellow", clYellow},
    {"clBlue", clBlue},
    {"clFuchsia", clFuchsia},
    {"clAqua", clAqua},
    {"clWhite", clWhite},
    {"clMoneyGreen", clMoneyGreen},
    {"clSkyBlue", clSkyBlue},
    {"clCream", clCream},
    {"clMedGray", clMedGray},
    {"clActiveBorder", clActiveBorder},
    {"clActiveCaption", clActiveCaption},
    {"clAppWorkSpace", clAppWorkSpace},
    {"clBackground", clBackground},
    {"clBtnFace", clBtnFace},
    {"clBtnHighlight", clBtnHighlight},
    {"clBtnShadow", clBtnShadow},
    {"clBtnText", clBtnText},
    {"clCaptionText", clCaptionText},
    {"clGradientActiveCaption", clGradientActiveCaption},
    {"clGradientInactiveCaption", clGradientInactiveCaption},
    {"clGrayText", clGrayText},
    {"clHighlight", clHighlight},
    {"clHighlightText", clHighlightText},
    {"clHotLight", clHotLight},
    {"clInactiveBorder", clInactiveBorder},
    {"clInactiveCaption", clInactiveCaption},
    {"clInactiveCaptionText", clInactiveCaptionText},
    {"clInfoBk", clInfoBk},
    {"clInfoText", clInfoText},
    {"clMenu", clMenu},
    {"clMenuBar", clMenuBar},
    {"clMenuHighlight", clMenuHighlight},
    {"clMenuText", clMenuText},
    {"clScrollBar", clScrollBar},
    {"cl3DDkShadow", cl3DDkShadow},
    {"cl3DLight", cl3DLight},
    {"clWindow", clWindow},
    {"clWindowFrame", clWindowFrame},
    {"clWindowText", clWindowText},
    {"clDefault", clDefault},
    {"clNone", clNone},
}};

} // namespace

QColor TColor::Resolve() const
{
    if (!IsSystem())
        return QColor(int(FValue & 0xFF), int(FValue >> 8 & 0xFF), int(FValue >> 16 & 0xFF));
    const size_t index = size_t(SystemIndex());
    if (index >= SystemRoles.size())
        return QColor(0, 0, 0); // an unknown system colour draws black
    return QGuiApplication::palette().color(SystemRoles[index].Group, SystemRoles[index].Role);
}

std::optional<TColor> IdentToColor(const QString& name)
{
    for (const TColorName& entry : ColorNames)
        if (name.compare(QLatin1String(entry.Name), Qt::CaseInsensitive) == 0)
            return entry.Color;
    return std::nullopt;
}
