#include "tools/zembo-check/connections.h"

#include "db/catalog.h"
#include "db/ibdatabase.h"
#include "platform/codepage.h"
#include "settings.h"
#include "update/helpers.h"

void ConfiguraConexoes(TDatabase& catalogue, TIBDatabase& customer)
{
    catalogue.SetAliasName(QStringLiteral("Check"));
    catalogue.SetDatabaseName(QStringLiteral("Sistema_my"));
    catalogue.SetLoginPrompt(false);
    catalogue.SetParams(
        {QStringLiteral("USER NAME=") + FromAnsi(DecodificaTextoAnsi(Settings::CatalogUserScrambled)),
         QStringLiteral("PASSWORD=") + FromAnsi(DecodificaTextoAnsi(Settings::CatalogPasswordScrambled))});

    customer.SetServerType(QStringLiteral("IBServer"));
    customer.SetSQLDialect(1);
    customer.SetLoginPrompt(false);
    customer.SetParams({QStringLiteral("user_name=") + QLatin1String(Settings::CustomerDbUser),
                        QStringLiteral("password=") + QLatin1String(Settings::CustomerDbPassword)});
}
