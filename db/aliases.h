// The alias registry, an INI file: $ZEMBO_ALIASES, else
// /etc/zemboupdate/aliases.ini, one section per alias
// holding a "TYPE=" line and its parameter lines ("SERVER NAME=..." for a
// customer database, "HOST=", "PORT=", "DATABASE NAME=" for the catalogue).
#pragma once

#include <QString>
#include <QStringList>

QString AliasesFileName();

struct TAliasDefinition {
    QString Type;       // "INTRBASE", "MYSQL", "SQLITE", ...
    QStringList Params; // "NAME=value" lines in file order, without TYPE
};

// The alias name is cut to 31 characters. Raises EDBEngineError for an
// unknown alias or an unreadable registry.
TAliasDefinition FindAlias(const QString& alias);

// Clears the list, then fills it with the alias's parameter lines; the list
// stays empty when FindAlias raises.
void GetAliasParams(const QString& alias, QStringList& list);

// One parameter of a local database alias, or empty; of several matching
// lines the last wins, values are cut to 100 characters, errors swallowed.
QString PegaBDEdados(const QString& alias, const QString& param);

// The value of the first "NAME=value" line of lines, names compared without
// regard to case; found, when given, tells a missing line from an empty value.
QString ParamValue(const QStringList& lines, const QString& name, bool* found = nullptr);
