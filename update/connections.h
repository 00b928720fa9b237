// The two database connections of an update session: the central catalogue
// behind the alias "Check" with the built-in credentials, and the customer
// database as "IBServer", dialect 1, with the customer user.
#pragma once

#include <QStringList>

class TDatabase;
class TIBDatabase;

// Alias, database name, no login prompt.
void ConfiguraCatalogo(TDatabase& catalogue);
// The catalogue's user and password, decoded from the built-in settings.
QStringList ParametrosCatalogo();
// Server type, dialect, no login prompt, the customer user and password.
void ConfiguraBaseCliente(TIBDatabase& customer);
// All of the above.
void ConfiguraConexoes(TDatabase& catalogue, TIBDatabase& customer);
