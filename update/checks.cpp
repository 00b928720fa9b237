#include "update/checks.h"

#include "db/aliases.h"
#include "db/catalog.h"
#include "db/ibdatabase.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/text.h"
#include "settings.h"
#include "update/names.h"

QString ArchiverDownloadPage()
{
    return QLatin1String(Settings::DownloadSite) + QStringLiteral("/winrar.exe");
}

std::optional<TCheckFailure> VerificaProgramFiles(QString& progr)
{
    try {
        progr = program_files();
    } catch (const std::exception& error) {
        return TCheckFailure{ckRegistry, QStringLiteral("Não foi possível ler a pasta de programas no registro: ") +
                                             ErrorText(error)};
    }
    return std::nullopt;
}

QString AliasDoIni(const QString& path)
{
    const QStringList lines = ReadAnsiLines(path);
    return TrimControl(lines.isEmpty() ? QString() : lines.front().mid(14, 30));
}

std::optional<TCheckFailure> VerificaArquivos(const QString& progr, QString& alias)
{
    if (!FileExists(ArchiverPath(progr)))
        return TCheckFailure{ckArchiver, QStringLiteral("Favor fazer a instalação do Winrar Primeiro. Voce será "
                                                        "redirecionado para o download.")};
    if (!FileExists(MainExecutable) && !FileExists(MainBackup))
        return TCheckFailure{ckMainExecutable, QStringLiteral("Arquivo Quendarive.exe não encontrado nesta pasta que "
                                                              "você executou o atualiza_keldarin.exe")};
    if (!FileExists(SettingsFile))
        return TCheckFailure{ckSettingsFile, QStringLiteral("Arquivo Tolvenra.ini não encontrado nesta pasta que "
                                                            "você executou o atualiza_keldarin.exe")};
    try {
        alias = AliasDoIni(SettingsFile);
    } catch (const std::exception& error) {
        return TCheckFailure{ckSettingsUnreadable,
                             QStringLiteral("Arquivo Tolvenra.ini encontrado, mas não pôde ser lido: ") + ErrorText(error)};
    }
    return std::nullopt;
}

std::optional<TCheckFailure> VerificaBases(const QString& alias, TDatabase& catalogue, TIBDatabase& customer)
{
    const QString path = PegaBDEdados(alias, QStringLiteral("SERVER NAME"));
    if (path.isEmpty())
        return TCheckFailure{ckAlias, QStringLiteral("Alias ") + alias + QStringLiteral(" do BDE não encontrado.")};
    customer.SetDatabaseName(path);
    try {
        catalogue.Open();
    } catch (const std::exception&) {
        catalogue.Close();
        return TCheckFailure{ckCatalogue, QStringLiteral("Conexão com o MYSQL da internet não localizado.")};
    }
    // A failure to close it again counts like a failure to open it.
    try {
        customer.Open();
        customer.Close();
    } catch (const std::exception&) {
        catalogue.Close();
        try {
            customer.Close();
        } catch (const std::exception&) {
            // it never opened, or is lost already
        }
        return TCheckFailure{ckCustomerDatabase, QStringLiteral("Alias ") + alias +
                                                     QStringLiteral(" encontrado, mas arquivo apontado por ele ") +
                                                     path + QStringLiteral(" não foi encontrado.")};
    }
    return std::nullopt;
}

QString ArchiverPath(const QString& folder)
{
    return folder + QStringLiteral("/winrar/winrar.exe");
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
