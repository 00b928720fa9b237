#include "app/fonts.h"

namespace {

struct TFaceSubstitute {
    const char16_t* Named;
    const char16_t* Substitute;
};

// Liberation Sans and Mono are metric-compatible with Arial and Courier New.
// Verdana and MS Sans Serif have no free metric twin; Liberation Sans is
// narrower than Verdana, so texts laid out for Verdana keep their lines.
constexpr TFaceSubstitute Substitutes[] = {
    {u"Verdana", u"Liberation Sans"},
    {u"MS Sans Serif", u"Liberation Sans"},
    {u"Arial", u"Liberation Sans"},
    {u"Courier New", u"Liberation Mono"},
};

} // namespace

QStringList ScreenFamilies(const QString& family)
{
    for (const TFaceSubstitute& face : Substitutes)
        if (family.compare(QStringView(face.Named), Qt::CaseInsensitive) == 0)
            return {QString::fromUtf16(face.Substitute), family};
    return {family};
}
