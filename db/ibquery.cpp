#include "db/ibquery.h"

#include "db/dberror.h"
#include "db/ibclient.h"
#include "db/iberror.h"

namespace {

// Bytes per character of the character sets with multi-byte characters.
int BytesPerCharacter(int charSet)
{
    switch (charSet) {
    case 3: return 3;           // UNICODE_FSS
    case 4: return 4;           // UTF8
    case 5: case 6: case 44: case 56: case 57: case 64: case 67: case 68: case 69:
        return 2;               // the two-byte Asian sets
    default: return 1;
    }
}

} // namespace

TIBQuery::TIBQuery(QObject* owner) : QObject(owner)
{
    FBase.BeforeTransactionEnd = [this] {
        if (FActive)
            Close();
        FQSelect.FreeHandle();
        FPrepared = false;
    };
    FBase.BeforeDatabaseDisconnect = [this] {
        if (FActive)
            Close();
        FPrepared = false;
    };
    FBase.DatasetActive = [this] { return FActive; };
}

TIBQuery::~TIBQuery()
{
    try {
        if (FActive)
            Close();
    } catch (...) {
    }
}

void TIBQuery::SetDatabase(TIBDatabase* database)
{
    FBase.SetDatabase(database);
    FQSelect.SetDatabase(database);
    FQSelect.SetTransaction(FBase.Transaction());
}

void TIBQuery::SetTransaction(TIBTransaction* transaction)
{
    FBase.SetTransaction(transaction);
    FQSelect.SetTransaction(transaction);
    FQSelect.SetDatabase(FBase.Database());
}

void TIBQuery::SetSQL(const QStringList& lines)
{
    if (FActive)
        Close();
    FQSelect.FreeHandle();
    FPrepared = false;
    FSQL = lines;
    FParamNames.clear();
    if (FParamCheck) {
        QString text;
        for (const QString& line : lines)
            text += line + QStringLiteral("\r\n");
        try {
            PreprocessSQL(text, true, FParamNames);
        } catch (const EIBError&) {
            FParamNames.clear(); // reported again when the text is prepared
        }
    }
}

void TIBQuery::Connect(bool& startedTransaction)
{
    FBase.CheckDatabase();
    FBase.CheckTransaction();
    if (!Database()->Connected())
        Database()->Open();
    startedTransaction = !Transaction()->Active();
    Transaction()->AutoStartTransaction();
    startedTransaction = startedTransaction && Transaction()->Active();
}

void TIBQuery::PrepareQuery()
{
    if (FPrepared)
        return;
    const QString text = FSQL.join(QStringLiteral("\r\n"));
    if (text.size() < 2 || text.trimmed().isEmpty())
        IBError(ibxeEmptySQLStatement);
    FQSelect.SetParamCheck(FParamCheck);
    FQSelect.SetSQL(FSQL);
    FQSelect.Prepare();

    FFields.Clear();
    FFieldColumns.clear();
    TIBXSQLDA& out = FQSelect.Current();
    for (int i = 0; i < out.Count(); ++i) {
        const XSQLVAR& v = Var(out, i);
        const QString name = FQSelect.FieldName(i);
        if (name == QLatin1String("IB_INTERNAL_DBKEY"))
            continue;
        const bool tableColumn = v.relname_length > 0;
        TFieldType type = ftUnknown;
        int size = 0;
        switch (v.sqltype & ~1) {
        case SQL_VARYING:
        case SQL_TEXT:
            type = (v.sqltype & ~1) == SQL_TEXT ? ftFixedChar : ftString;
            size = tableColumn ? v.sqllen / BytesPerCharacter(v.sqlsubtype & 0xFF) : v.sqllen;
            break;
        case SQL_SHORT:
            type = v.sqlscale == 0 ? ftSmallint : ftBCD;
            size = -v.sqlscale;
            break;
        case SQL_LONG:
        case SQL_INT64:
            if (v.sqlscale == 0)
                type = (v.sqltype & ~1) == SQL_LONG ? ftInteger : ftLargeint;
            else if (v.sqlscale >= -4)
                type = ftBCD, size = -v.sqlscale;
            else
                type = ftFloat;
            break;
        case SQL_DOUBLE: case SQL_FLOAT: case SQL_D_FLOAT: type = ftFloat; break;
        case SQL_TIMESTAMP: type = ftDateTime; break;
        case SQL_TYPE_DATE: type = ftDate; break;
        case SQL_TYPE_TIME: type = ftTime; break;
        case SQL_BLOB: type = v.sqlsubtype == 1 ? ftMemo : ftBlob; break;
        case sqlBooleanInterBase: case SQL_BOOLEAN: type = ftBoolean; break;
        default: break;
        }
        if (type == ftUnknown)
            continue;
        FFields.Add(name, type, size, !(v.sqltype & 1) && tableColumn);
        FFieldColumns.append(i);
    }
    FPrepared = true;
}

void TIBQuery::FetchRow()
{
    QVector<QVariant> row;
    TIBXSQLDA& out = FQSelect.Current();
    for (int f = 0; f < FFields.Count(); ++f) {
        const int column = FFieldColumns[f];
        QVariant value = FQSelect.FieldValue(column);
        if (FFields[f].DataType() == ftFixedChar && Var(out, column).relname_length > 0 && value.isValid())
            value = value.toString().left(FFields[f].Size());
        row.append(value);
    }
    if (FRows.size() == FRows.capacity())
        FRows.reserve(FRows.size() + FBufferChunks);
    FRows.append(row);
}

void TIBQuery::ShowRow(int index)
{
    FRecNo = index;
    for (int f = 0; f < FFields.Count(); ++f)
        FFields[f].SetValue(index >= 0 && index < FRows.size() ? FRows[index][f] : QVariant());
}

void TIBQuery::Open()
{
    if (FActive)
        return;
    bool started = false;
    Connect(started);
    PrepareQuery();
    if (FQSelect.SQLType() != SQLSelect && FQSelect.SQLType() != SQLSelectForUpdate)
        IBError(ibxeNotPermitted);
    FRows.clear();
    FQSelect.ExecQuery();
    FActive = true;
    FEof = FQSelect.Eof();
    if (!FEof)
        FetchRow();
    ShowRow(FEof ? -1 : 0);
}

void TIBQuery::Next()
{
    if (!FActive || FEof)
        return;
    if (FRecNo + 1 < FRows.size()) {
        ShowRow(FRecNo + 1);
        return;
    }
    if (FQSelect.Open() && FQSelect.Next()) {
        FetchRow();
        ShowRow(FRecNo + 1);
    } else {
        FEof = true;
    }
}

void TIBQuery::Close()
{
    if (!FActive)
        return;
    FActive = false;
    FEof = false;
    FRows.clear();
    FFields.ClearValues();
    FRecNo = -1;
    FQSelect.Close();
    if (Transaction())
        Transaction()->CheckAutoStop();
}

void TIBQuery::ExecSQL()
{
    if (FActive) {
        const QString message = QStringLiteral("Cannot perform this operation on an open dataset");
        throw EDatabaseError(objectName().isEmpty() ? message : objectName() + QStringLiteral(": ") + message);
    }
    if (FSQL.isEmpty())
        IBError(ibxeEmptySQLStatement);
    bool started = false;
    Connect(started);
    PrepareQuery();
    if (FQSelect.SQLType() == SQLSelect)
        IBError(ibxeIsASelectStatement);
    FQSelect.ExecQuery();
    if (started)
        Transaction()->CheckAutoStop();
}
