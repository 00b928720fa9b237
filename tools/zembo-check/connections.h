// The two database connections of an update, configured as the upgrade
// window configures its own: the central catalogue behind the alias "Check"
// with the built-in credentials, and the customer database as "IBServer",
// dialect 1, with the customer user.
#pragma once

class TDatabase;
class TIBDatabase;

void ConfiguraConexoes(TDatabase& catalogue, TIBDatabase& customer);
