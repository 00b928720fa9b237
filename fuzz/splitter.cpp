// The statement splitter of the upgrade scripts. The driver runs it in an
// empty scratch folder, so an INPUT of a name the input makes up finds no file.
#include "fuzz/fuzzentry.h"

#include "platform/errors.h"
#include "upgrade/ibsqlparser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TIBSQLParser parser;
    qsizetype statements = 0;
    parser.SetOnParse([&](TIBParseKind, const QString& text) { statements += text.size(); });
    parser.SetOnError([&](const QString&, const QString& text, int) { statements += text.size(); });
    parser.SetScript(ScriptLines(FuzzText(data, size)));
    try {
        parser.Parse();
    } catch (const Exception&) {
    }
    return 0;
}
