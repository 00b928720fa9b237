#include "platform/ini.h"

#include "platform/files.h"
#include "platform/text.h"

QList<TIniSection> ReadIniFile(const QString& path)
{
    const QString text = QString::fromUtf8(ReadFileBytes(path));
    QList<TIniSection> sections;
    for (const QString& raw : SplitLines(text, lsLineFeedOnly)) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            sections.append({line.mid(1, line.size() - 2).trimmed(), {}});
            continue;
        }
        if (sections.isEmpty())
            continue; // lines before the first section belong to nothing
        const qsizetype eq = raw.indexOf(u'=');
        if (eq < 0)
            sections.last().Lines.append({line, QString()});
        else
            sections.last().Lines.append({raw.left(eq).trimmed(), raw.mid(eq + 1)});
    }
    return sections;
}

const TIniSection* FindIniSection(const QList<TIniSection>& sections, const QString& name)
{
    for (const TIniSection& s : sections)
        if (s.Name.compare(name, Qt::CaseInsensitive) == 0)
            return &s;
    return nullptr;
}
