// The faces the windows are drawn with. The windows name Windows faces
// (Verdana, MS Sans Serif, Arial, Courier New); where those are missing the
// machine's own fallback would differ from one installation to the next and
// break the layout, so each named face has one fixed substitute whose
// metrics keep every fixed text inside its control.
#pragma once

#include <QStringList>

// The families to ask for, in order: the fixed substitute first, then the
// named face (used where the substitute is not installed).
QStringList ScreenFamilies(const QString& family);
