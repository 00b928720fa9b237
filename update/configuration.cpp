#include "update/configuration.h"

#include "db/catalog.h"
#include "db/ibdatabase.h"
#include "ftp/idftp.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/text.h"
#include "settings.h"
#include "update/names.h"

#include <QFileInfo>

namespace {

const QString CatalogueName = QStringLiteral("Sistema_my");

int ShiftDigit(QChar first)
{
    bool ok = false;
    const int k = QString(first).toInt(&ok, 10);
    return ok ? (k & 0xFF) : 0;
}

} // namespace

QString TConfiguracao::PasswordField() const
{
    return SenhaAlternativa ? QStringLiteral("senha_ftp2") : QStringLiteral("senha_ftp");
}

TConfiguracao LeConfiguracao()
{
    TConfiguracao settings;
    settings.Host = QLatin1String(Settings::FtpHost);
    if (!QFileInfo::exists(ConnectionFile))
        return settings;
    const QStringList lines = ReadAnsiLines(ConnectionFile);
    const auto line = [&](int i) { return i < lines.size() ? lines.at(i) : QString(); };
    settings.Host = line(0);
    const QString first = TrimControl(line(0));
    if (first.startsWith(QStringLiteral("https://"), Qt::CaseInsensitive) ||
        first.startsWith(QStringLiteral("http://"), Qt::CaseInsensitive)) {
        settings.Endereco = first;
        return settings;
    }
    bool ok = false;
    const int port = line(1).trimmed().toInt(&ok, 10);
    if (!ok || port < 0 || port > 65535)
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(line(1)));
    settings.Port = std::uint16_t(port);
    settings.Passive = UpperCase(line(2)) != QStringLiteral("FALSE");
    settings.SenhaAlternativa = !line(3).isEmpty();
    settings.Tls = UpperCase(TrimControl(line(4))) == QStringLiteral("TLS");
    return settings;
}

QString SenhaFtp(const TConfiguracao& settings)
{
    TQuery query;
    query.setObjectName(QStringLiteral("Query3"));
    query.SetDatabaseName(CatalogueName);
    query.SetSQL({QStringLiteral("select ") + settings.PasswordField() + QStringLiteral(" from principal")});
    query.Open();
    const QString scrambled = query.FieldByName(settings.PasswordField()).AsString();
    query.Close();
    return DecodificaTexto(scrambled);
}

void AjustaFtp(TIdFTP& ftp)
{
    ftp.Passive = true;
    ftp.ConnectTimeout = 30000;
    ftp.ReadTimeout = 60000;
    ftp.TransferTimeout = 60000;
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
