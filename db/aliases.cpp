#include "db/aliases.h"

#include "db/dberror.h"
#include "platform/ini.h"

QString AliasesFileName()
{
    const QByteArray env = qgetenv("ZEMBO_ALIASES");
    return env.isEmpty() ? QStringLiteral("/etc/zemboupdate/aliases.ini") : QString::fromLocal8Bit(env);
}

TAliasDefinition FindAlias(const QString& alias)
{
    const QString name = alias.left(31);
    QList<TIniSection> sections;
    try {
        sections = ReadIniFile(AliasesFileName());
    } catch (const Exception& e) {
        throw EDBEngineError({QStringLiteral("Cannot read the alias registry."), e.Message()});
    }
    const TIniSection* section = FindIniSection(sections, name);
    if (!section)
        throw EDBEngineError({QStringLiteral("Unknown database alias: %1").arg(name)});
    TAliasDefinition def;
    for (const TIniLine& line : section->Lines) {
        if (line.Name.compare(QLatin1String("TYPE"), Qt::CaseInsensitive) == 0)
            def.Type = line.Value.trimmed().toUpper();
        else
            def.Params.append(line.Name + u'=' + line.Value);
    }
    return def;
}

void GetAliasParams(const QString& alias, QStringList& list)
{
    list.clear();
    list = FindAlias(alias).Params;
}

QString PegaBDEdados(const QString& alias, const QString& param)
{
    QString result;
    if (alias.isEmpty() || param.isEmpty())
        return result;
    try {
        QStringList lines;
        GetAliasParams(alias, lines);
        const QString key = param + u'=';
        for (const QString& line : lines)
            if (line.left(key.size()) == key)
                result = line.mid(key.size(), 100);
    } catch (const Exception&) {
        // an unknown alias or an unreadable alias registry reads as "not found"
    }
    return result;
}

// The value of a "NAME=value" line, names compared without regard to case.
QString ParamValue(const QStringList& lines, const QString& name, bool* found)
{
    for (const QString& line : lines) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq >= 0 && line.left(eq).trimmed().compare(name, Qt::CaseInsensitive) == 0) {
            if (found)
                *found = true;
            return line.mid(eq + 1);
        }
    }
    if (found)
        *found = false;
    return {};
}
