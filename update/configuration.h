// How an update reaches its servers: the settings of atualiza.cfg (or the
// built-in server), the FTP password kept scrambled in the central
// catalogue, the FTP client's bounded waits, and the two database
// connections of an update session (the central catalogue behind the alias
// "Check" with the built-in credentials, the customer database as
// "IBServer", dialect 1, with the customer user).
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>

class TDatabase;
class TIBDatabase;
class TIdFTP;

struct TConfiguracao {
    QString Host;
    std::uint16_t Port = 21;
    bool Passive = true;
    bool SenhaAlternativa = false; // password from senha_ftp2
    bool Tls = false;              // line 5 reads "TLS": encrypted, or no connection
    // Line 1 as a web address (https://HOST[:PORT]/PATH/, or a refused
    // http:// one): the release's folder on a web server; lines 2 to 5 are
    // then not read. Empty for FTP.
    QString Endereco;
    bool Web() const { return !Endereco.isEmpty(); }
    QString PasswordField() const;  // "senha_ftp" or "senha_ftp2"
};

// atualiza.cfg of the working folder, or the built-in server. A first line
// starting with "https://" or "http://" (any letter case) is a web address. Raises
// EInOutError when the file exists but cannot be read, EConvertError for a
// port that is not a number from 0 to 65535.
TConfiguracao LeConfiguracao();
// The decoded FTP password from table principal of the open catalogue
// "Sistema_my"; errors of the query pass through.
QString SenhaFtp(const TConfiguracao& settings);
// The update window's client settings: passive, no MLSD, and the bounded
// waits (30 s for a connection, 60 s for a reply or a data block).
void AjustaFtp(TIdFTP& ftp);

// Digit-shift descrambling: the first character is the shift digit k (any
// other character means 0); every later code unit is lowered by 3*k, with
// wrap-around in 16 bits (UTF-16) or 8 bits (ANSI bytes).
QString DecodificaTexto(const QString& scrambled);
QByteArray DecodificaTextoAnsi(const QByteArray& scrambled);

// Alias, database name, no login prompt.
void ConfiguraCatalogo(TDatabase& catalogue);
// The catalogue's user and password, decoded from the built-in settings.
QStringList ParametrosCatalogo();
// Server type, dialect, no login prompt, the customer user and password.
void ConfiguraBaseCliente(TIBDatabase& customer);
// All of the above.
void ConfiguraConexoes(TDatabase& catalogue, TIBDatabase& customer);
