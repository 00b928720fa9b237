#include "db/ibclient.h"

#include "db/iberror.h"
#include "platform/codepage.h"
#include "platform/errors.h"

#include <QFileInfo>
#include <utility>

namespace {

QString ClientFileName()
{
    const QByteArray env = qgetenv("ZEMBO_IB_CLIENT");
    return env.isEmpty() ? QStringLiteral("libfbclient.so.2") : QString::fromLocal8Bit(env);
}

// The error code of an entry point the client library lacks.
constexpr int osErrorProcNotFound = 127;

[[noreturn]] void MissingEntryPoint(const char* name, const QString& fileName)
{
    throw EOSError(osErrorProcNotFound, QStringLiteral("The specified procedure could not be found (%1 in %2)")
                                            .arg(QLatin1String(name), fileName));
}

} // namespace

IGDSLibrary::IGDSLibrary(QString fileName) : FFileName(std::move(fileName)) {}

void IGDSLibrary::CheckLoaded()
{
    if (FLoaded)
        return;
    FLibrary.setFileName(FFileName);
    // The module stays loaded until the process ends.
    FLibrary.setLoadHints(QLibrary::PreventUnloadHint);
    if (!FLibrary.load())
        IBError(ibxeInterBaseMissing, {QFileInfo(FFileName).fileName()});

    auto required = [this](const char* name) {
        QFunctionPointer p = FLibrary.resolve(name);
        if (!p)
            MissingEntryPoint(name, FFileName);
        return p;
    };
#define ZEMBO_IB_RESOLVE(name) name = reinterpret_cast<decltype(name)>(required(#name));
    ZEMBO_IB_REQUIRED_ENTRY_POINTS(ZEMBO_IB_RESOLVE)
#undef ZEMBO_IB_RESOLVE
    isc_interprete = reinterpret_cast<TIscInterprete>(required("isc_interprete"));
#define ZEMBO_IB_RESOLVE_OPTIONAL(name) name = reinterpret_cast<decltype(name)>(FLibrary.resolve(#name));
    ZEMBO_IB_SERVICE_ENTRY_POINTS(ZEMBO_IB_RESOLVE_OPTIONAL)
#undef ZEMBO_IB_RESOLVE_OPTIONAL

    FRollbackRetaining = reinterpret_cast<TIscRollbackRetaining>(FLibrary.resolve("isc_rollback_retaining"));
    FClientVersion = FRollbackRetaining ? 60000 : 50000;
    if (FLibrary.resolve("isc_get_client_version")) {
        auto major = reinterpret_cast<TIscGetClientVersion>(required("isc_get_client_major_version"));
        auto minor = reinterpret_cast<TIscGetClientVersion>(required("isc_get_client_minor_version"));
        FClientVersion = major() * 10000 + minor() * 1000;
    }
    if (FClientVersion >= 71000) {
        FStartSavepoint = reinterpret_cast<TIscSavepoint>(required("isc_start_savepoint"));
        FReleaseSavepoint = reinterpret_cast<TIscSavepoint>(required("isc_release_savepoint"));
        FRollbackSavepoint = reinterpret_cast<TIscRollbackSavepoint>(required("isc_rollback_savepoint"));
    }
    if (FClientVersion >= 80000)
        FBatchExecuteImmed = reinterpret_cast<TIscBatchExecuteImmed>(required("isc_dsql_batch_execute_immed"));

    // The XML fetch library is optional and never used.
    FXmlLibrary.setFileName(QStringLiteral("ibxml"));
    FXmlLibrary.load();
    FLoaded = true;
}

void IGDSLibrary::CheckServices() const
{
    for (const auto& [name, entry] : {std::pair{"isc_service_attach", bool(isc_service_attach)},
                                      std::pair{"isc_service_detach", bool(isc_service_detach)},
                                      std::pair{"isc_service_start", bool(isc_service_start)},
                                      std::pair{"isc_service_query", bool(isc_service_query)}})
        if (!entry)
            MissingEntryPoint(name, FFileName);
}

ISC_STATUS IGDSLibrary::RollbackRetaining(ISC_STATUS* status, isc_tr_handle* tr) const
{
    if (!FRollbackRetaining)
        IBError(ibxeIB60feature, {QStringLiteral("isc_rollback_retaining")});
    return FRollbackRetaining(status, tr);
}

ISC_STATUS IGDSLibrary::StartSavepoint(ISC_STATUS* status, isc_tr_handle* tr, const char* name) const
{
    if (!FStartSavepoint)
        IBFeatureError(QStringLiteral("isc_start_savepoint"), 71000);
    return FStartSavepoint(status, tr, name);
}

ISC_STATUS IGDSLibrary::ReleaseSavepoint(ISC_STATUS* status, isc_tr_handle* tr, const char* name) const
{
    if (!FReleaseSavepoint)
        IBFeatureError(QStringLiteral("isc_release_savepoint"), 71000);
    return FReleaseSavepoint(status, tr, name);
}

ISC_STATUS IGDSLibrary::RollbackSavepoint(ISC_STATUS* status, isc_tr_handle* tr, const char* name,
                                          unsigned short option) const
{
    if (!FRollbackSavepoint)
        IBFeatureError(QStringLiteral("isc_rollback_savepoint"), 71000);
    return FRollbackSavepoint(status, tr, name, option);
}

ISC_STATUS IGDSLibrary::BatchExecuteImmed(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                          unsigned short dialect, ISC_LONG count, char** statements,
                                          ISC_LONG* results) const
{
    if (!FBatchExecuteImmed)
        IBFeatureError(QStringLiteral("isc_dsql_batch_execute_immed"), 80000);
    return FBatchExecuteImmed(status, db, tr, dialect, count, statements, results);
}

TIBServerLibrary::TIBServerLibrary() : IGDSLibrary(ClientFileName()) {}

TIBEmbeddedLibrary::TIBEmbeddedLibrary() : IGDSLibrary(ClientFileName()) {}

IGDSLibrary* FindServerLibrary(const QString& serverType, QString* registeredName)
{
    static TIBServerLibrary server;
    static TIBEmbeddedLibrary embedded;
    static const struct {
        const char* Name;
        IGDSLibrary* Library;
    } registry[] = {{"IBServer", &server}, {"IBEmbedded", &embedded}};
    for (const auto& entry : registry)
        if (serverType.compare(QLatin1String(entry.Name), Qt::CaseInsensitive) == 0) {
            if (registeredName)
                *registeredName = QLatin1String(entry.Name);
            return entry.Library;
        }
    return nullptr;
}

bool TIBStatus::Holds(ISC_STATUS code) const
{
    // Clusters: type, then one value (two for a counted string).
    for (const ISC_STATUS* p = FVector; *p != isc_arg_end;) {
        const ISC_STATUS type = *p++;
        if (type == isc_arg_gds || type == isc_arg_number) {
            if (*p == code)
                return true;
            ++p;
        } else if (type == isc_arg_cstring) {
            p += 2;
        } else {
            ++p;
        }
    }
    return false;
}

bool TIBStatus::ConnectionLost() const
{
    // Firebird reports a server that went away during a call as a network
    // read or write error, or, on ending a transaction, as the network error
    // itself, not always as "connection lost".
    return Holds(iscLostDbConnection) || Holds(iscNetReadError) || Holds(iscNetWriteError) || Code() == iscNetwork;
}

QString TIBStatus::Message(IGDSLibrary& library) const
{
    constexpr int bufferSize = 20480;
    QByteArray buffer(bufferSize, '\0');
    QString message;
    const ISC_STATUS* cursor = FVector;
    while (library.isc_interprete(buffer.data(), &cursor) > 0) {
        if (!message.isEmpty() && !message.endsWith(u'\n'))
            message += QStringLiteral("\r\n");
        message += FromAnsi(QByteArray(buffer.constData(), qstrnlen(buffer.constData(), bufferSize - 1)));
    }
    if (message.endsWith(u'.'))
        message.chop(1);
    return message;
}

void TIBStatus::Raise(IGDSLibrary& library) const
{
    const int sqlCode = library.isc_sqlcode(FVector);
    const int errorCode = int(Code());
    const QString message = Message(library);
    if (sqlCode == -551)
        throw EIBInterBaseRoleError(sqlCode, errorCode, message);
    throw EIBInterBaseError(sqlCode, errorCode, message);
}
