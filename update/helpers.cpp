#include "update/helpers.h"

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/text.h"

#include <QDir>

namespace {

int ShiftDigit(QChar first)
{
    bool ok = false;
    const int k = QString(first).toInt(&ok, 10);
    return ok ? (k & 0xFF) : 0;
}

} // namespace

QString ArchiverPath(const QString& folder)
{
    return folder + QStringLiteral("/winrar/winrar.exe");
}

QString DecodificaTexto(const QString& scrambled)
{
    if (scrambled.isEmpty())
        return {};
    const int k = ShiftDigit(scrambled.front());
    QString plain;
    plain.reserve(scrambled.size() - 1);
    for (qsizetype i = 1; i < scrambled.size(); ++i)
        plain += QChar(char16_t(scrambled.at(i).unicode() - 3 * k));
    return plain;
}

QByteArray DecodificaTextoAnsi(const QByteArray& scrambled)
{
    if (scrambled.isEmpty())
        return {};
    const int k = ShiftDigit(QChar::fromLatin1(scrambled.front()));
    QByteArray plain;
    plain.reserve(scrambled.size() - 1);
    for (qsizetype i = 1; i < scrambled.size(); ++i)
        plain += char(uchar(uchar(scrambled.at(i)) - 3 * k));
    return plain;
}

QVariant LeRegistro(THKey root, const QString& keyPath, const QString& valueName)
{
    TRegistry reg;
    if (!reg.OpenKeyReadOnly(root, keyPath))
        throw EOSError(reg.LastError(), SysErrorMessage(reg.LastError()));
    switch (reg.GetDataType(valueName)) {
    case rdString:
    case rdExpandString:
        return reg.ReadString(valueName);
    case rdInteger:
        return reg.ReadInteger(valueName);
    case rdBinary:
        return QString::fromLatin1(reg.ReadBinaryData(valueName));
    case rdUnknown:
        break;
    }
    throw EOSError(osErrorRegistryIo, SysErrorMessage(osErrorRegistryIo));
}

QString program_files()
{
    const QString candidate = LeRegistro(THKey::LocalMachine, QStringLiteral("\\Software\\Microsoft\\Windows\\CurrentVersion"),
                                         QStringLiteral("ProgramFilesDir"))
                                  .toString();
    if (FileExists(ArchiverPath(candidate)))
        return candidate;
    const qsizetype x86 = candidate.toUpper().indexOf(QLatin1String("(X86)"));
    if (x86 >= 0) {
        const QString plain = TrimControl(candidate.left(x86));
        if (FileExists(ArchiverPath(plain)))
            return plain;
    }
    return candidate;
}

QString UltimaPalavra(const QString& line)
{
    const QString trimmed = TrimControl(line);
    const qsizetype blank = trimmed.lastIndexOf(u' ');
    return TrimControl(trimmed.mid(blank < 0 ? 0 : blank, 1000));
}

QString TrocaCaractere(const QString& text, const QString& find, const QString& replacement)
{
    QString result;
    for (QChar c : text) {
        if (find.size() == 1 && c == find.front())
            result += replacement;
        else
            result += c;
    }
    return result;
}
