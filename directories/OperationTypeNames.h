#pragma once
// What the directory code asks of the open configuration: the name of an
// operation type for its identifier and back. The configuration model
// implements it; tests use a small map.

#include <QString>
#include <QStringList>

class IOperationTypeNames {
public:
    virtual ~IOperationTypeNames() = default;
    // False when no operation type has this identifier.
    virtual bool GetOperationTypeName(const QString& id, QString* name) = 0;
    // False when no operation type has this name.
    virtual bool GetOperationTypeId(const QString& name, QString* id) = 0;
    // Every operation type name in the configuration's order, for the type
    // drop-down list of the operations editor. The default offers none.
    virtual QStringList GetOperationTypeNameList() { return {}; }
};
