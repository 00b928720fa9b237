#include "update/connections.h"

#include "db/catalog.h"
#include "db/ibdatabase.h"
#include "platform/codepage.h"
#include "settings.h"
#include "update/helpers.h"

void ConfiguraCatalogo(TDatabase& catalogue)
{
    catalogue.SetAliasName(QStringLiteral("Check"));
    catalogue.SetDatabaseName(QStringLiteral("Sistema_my"));
    catalogue.SetLoginPrompt(false);
}

QStringList ParametrosCatalogo()
{
    return {QStringLiteral("USER NAME=") + FromAnsi(DecodificaTextoAnsi(Settings::CatalogUserScrambled)),
            QStringLiteral("PASSWORD=") + FromAnsi(DecodificaTextoAnsi(Settings::CatalogPasswordScrambled))};
}

void ConfiguraBaseCliente(TIBDatabase& customer)
{
    customer.SetServerType(QStringLiteral("IBServer"));
    customer.SetSQLDialect(1);
    customer.SetLoginPrompt(false);
    customer.SetParams({QStringLiteral("user_name=") + QLatin1String(Settings::CustomerDbUser),
                        QStringLiteral("password=") + QLatin1String(Settings::CustomerDbPassword)});
}

void ConfiguraConexoes(TDatabase& catalogue, TIBDatabase& customer)
{
    ConfiguraCatalogo(catalogue);
    catalogue.SetParams(ParametrosCatalogo());
    ConfiguraBaseCliente(customer);
}
