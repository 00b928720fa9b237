#include "db/fields.h"

#include "db/dberror.h"
#include "platform/errors.h"

qint64 TField::AsLargeInt() const
{
    if (IsNull())
        return 0;
    switch (FValue.typeId()) {
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        bool ok = false;
        const qint64 v = FValue.toString().trimmed().toLongLong(&ok);
        if (!ok)
            throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(FValue.toString()));
        return v;
    }
    case QMetaType::Double:
    case QMetaType::Float: return qRound64(FValue.toDouble());
    default: return FValue.toLongLong();
    }
}

QString TField::AsString() const
{
    if (IsNull())
        return {};
    if (FValue.typeId() == QMetaType::QByteArray)
        return QString::fromLatin1(FValue.toByteArray());
    return FValue.toString();
}

TField& TFields::Add(const QString& name, TFieldType type, int size, bool required)
{
    FList.append(std::make_shared<TField>(name, type, size, required));
    return *FList.last();
}

TField* TFields::FindField(const QString& name) const
{
    for (const auto& f : FList)
        if (f->FieldName().compare(name, Qt::CaseInsensitive) == 0)
            return f.get();
    return nullptr;
}

TField& TFields::FieldByName(const QString& name, const QString& owner) const
{
    TField* f = FindField(name);
    if (!f) {
        const QString message = QStringLiteral("Field '%1' not found").arg(name);
        throw EDatabaseError(owner.isEmpty() ? message : owner + QStringLiteral(": ") + message);
    }
    return *f;
}

void TFields::ClearValues()
{
    for (const auto& f : FList)
        f->SetValue({});
}
