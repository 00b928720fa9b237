// Fields of a dataset: the value of one column of the current row, read as
// the data-access layer's fields read it. Shared by the catalogue queries
// and the InterBase queries.
#pragma once

#include <QList>
#include <QString>
#include <QVariant>
#include <memory>

enum TFieldType {
    ftUnknown, ftString, ftFixedChar, ftSmallint, ftInteger, ftLargeint, ftBCD, ftFloat, ftDateTime, ftDate,
    ftTime, ftMemo, ftBlob, ftBoolean
};

class TField {
public:
    TField(QString name, TFieldType type, int size = 0, bool required = false)
        : FFieldName(std::move(name)), FDataType(type), FSize(size), FRequired(required) {}

    QString FieldName() const { return FFieldName; }
    TFieldType DataType() const { return FDataType; }
    int Size() const { return FSize; }
    bool Required() const { return FRequired; }

    bool IsNull() const { return !FValue.isValid() || FValue.isNull(); }
    const QVariant& Value() const { return FValue; }
    void SetValue(const QVariant& value) { FValue = value; }

    // Null gives 0; a text that is no integer raises EConvertError.
    qint64 AsLargeInt() const;
    int AsInteger() const { return int(AsLargeInt()); }
    // Null gives an empty text; numbers give their decimal form.
    QString AsString() const;

private:
    QString FFieldName;
    TFieldType FDataType;
    int FSize;
    bool FRequired;
    QVariant FValue;
};

class TFields {
public:
    void Clear() { FList.clear(); }
    TField& Add(const QString& name, TFieldType type, int size = 0, bool required = false);
    int Count() const { return int(FList.size()); }
    TField& operator[](int i) { return *FList[i]; }
    const TField& operator[](int i) const { return *FList[i]; }
    // Compared without regard to case.
    TField* FindField(const QString& name) const;
    // A missing name raises EDatabaseError "owner: Field 'name' not found".
    TField& FieldByName(const QString& name, const QString& owner) const;
    void ClearValues();

private:
    QList<std::shared_ptr<TField>> FList;
};
