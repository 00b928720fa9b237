#include "db/ibservice.h"

#include "db/aliases.h"
#include "db/ibclient.h"
#include "db/iberror.h"
#include "platform/codepage.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

namespace {

// A host before the colon; a single letter is a drive, not a host.
const QRegularExpression ServerName(QStringLiteral("^([^:/\\\\]{2,}):(.+)$"));

// A parameter block item with a 2-byte length (requests) or a 1-byte one
// (the attachment's login).
void AppendItem(QByteArray& block, char code, const QByteArray& value, bool wide)
{
    block.append(code);
    if (wide) {
        block.append(char(value.size() & 0xFF));
        block.append(char((value.size() >> 8) & 0xFF));
    } else {
        block.append(char(value.size() & 0xFF));
    }
    block.append(value);
}

void AppendNumber(QByteArray& block, char code, quint32 value)
{
    block.append(code);
    for (int i = 0; i < 4; ++i)
        block.append(char((value >> (8 * i)) & 0xFF));
}

IGDSLibrary& ServiceLibrary()
{
    IGDSLibrary& library = *FindServerLibrary(QStringLiteral("IBServer"));
    library.CheckLoaded();
    library.CheckServices();
    return library;
}

// How long one query waits for the engine before the stop flag and the
// deadline are asked again.
constexpr quint32 PollSeconds = 1;

// The attachment to the service manager, detached however the work ends.
class TServiceAttachment {
public:
    TServiceAttachment(IGDSLibrary& library, const QString& database, const QByteArray& login) : FLibrary(library)
    {
        const QByteArray name = ToAnsi(TIBService::ServerPrefix(database) + QStringLiteral("service_mgr"));
        TIBStatus status;
        if (FLibrary.isc_service_attach(status, (unsigned short)name.size(), name.constData(), &FHandle,
                                        (unsigned short)login.size(), login.constData())) {
            FHandle = 0;
            status.Raise(FLibrary);
        }
    }
    ~TServiceAttachment()
    {
        TIBStatus status; // a failed detach leaves nothing to report
        if (FHandle)
            FLibrary.isc_service_detach(status, &FHandle);
    }
    TServiceAttachment(const TServiceAttachment&) = delete;
    TServiceAttachment& operator=(const TServiceAttachment&) = delete;

    void Start(const QByteArray& request)
    {
        TIBStatus status;
        if (FLibrary.isc_service_start(status, &FHandle, nullptr, (unsigned short)request.size(), request.constData()))
            status.Raise(FLibrary);
    }

    // One output line of the running action; false once the action ended.
    // A failed action raises its error here.
    bool Poll()
    {
        QByteArray send;
        AppendNumber(send, char(isc_info_svc_timeout), PollSeconds);
        const char ask = isc_info_svc_line;
        char buffer[1024] = {};
        TIBStatus status;
        if (FLibrary.isc_service_query(status, &FHandle, nullptr, (unsigned short)send.size(), send.constData(), 1,
                                       &ask, sizeof buffer, buffer))
            status.Raise(FLibrary);
        if (buffer[0] != isc_info_svc_line)
            return buffer[0] == isc_info_svc_timeout; // nothing within the wait: still running
        const auto length = FLibrary.isc_vax_integer(buffer + 1, 2);
        // An empty line after the wait timed out means still running.
        return length > 0 || buffer[3] == isc_info_svc_timeout;
    }

private:
    IGDSLibrary& FLibrary;
    isc_svc_handle FHandle = 0;
};

} // namespace

TIBService::TIBService(const QString& database, const QStringList& params)
    : FDatabase(database), FUser(ParamValue(params, QStringLiteral("user_name"))),
      FPassword(ParamValue(params, QStringLiteral("password")))
{
}

QString TIBService::FilePath(const QString& database)
{
    const QRegularExpressionMatch m = ServerName.match(database);
    return m.hasMatch() ? m.captured(2) : database;
}

QString TIBService::ServerPrefix(const QString& database)
{
    const QRegularExpressionMatch m = ServerName.match(database);
    return m.hasMatch() ? m.captured(1) + QLatin1Char(':') : QString();
}

void TIBService::Backup(const QString& file, const std::function<bool()>& stopped, int timeoutSeconds)
{
    QByteArray request(1, char(isc_action_svc_backup));
    AppendItem(request, char(isc_spb_dbname), ToAnsi(FilePath(FDatabase)), true);
    AppendItem(request, char(isc_spb_bkp_file), ToAnsi(file), true);
    Run(request, stopped, timeoutSeconds);
}

void TIBService::Restore(const QString& backup, const QString& target, int timeoutSeconds)
{
    QByteArray request(1, char(isc_action_svc_restore));
    AppendItem(request, char(isc_spb_bkp_file), ToAnsi(backup), true);
    AppendItem(request, char(isc_spb_dbname), ToAnsi(FilePath(target)), true);
    AppendNumber(request, char(isc_spb_options), isc_spb_res_create);
    Run(request, [] { return false; }, timeoutSeconds);
}

void TIBService::Run(const QByteArray& request, const std::function<bool()>& stopped, int timeoutSeconds)
{
    IGDSLibrary& library = ServiceLibrary();
    QByteArray login;
    login.append(char(isc_spb_version));
    login.append(char(isc_spb_current_version));
    AppendItem(login, char(isc_spb_user_name), ToAnsi(FUser), false);
    AppendItem(login, char(isc_spb_password), ToAnsi(FPassword), false);
    TServiceAttachment service(library, FDatabase, login);
    service.Start(request);
    const QDeadlineTimer deadline(qint64(timeoutSeconds) * 1000);
    while (service.Poll()) {
        if (stopped())
            throw EIBClientError(0, 0, QStringLiteral("Interrompido a pedido"));
        if (deadline.hasExpired())
            throw EIBClientError(0, 0, QStringLiteral("Tempo esgotado após %1 s").arg(timeoutSeconds));
    }
}
