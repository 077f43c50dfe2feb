#pragma once
// What the directory code asks of the open configuration: the name of an
// operation type for its identifier and back. The configuration model
// implements it; tests use a small map.

#include <QString>

class IOperationTypeNames {
public:
    virtual ~IOperationTypeNames() = default;
    // False when no operation type has this identifier.
    virtual bool GetOperationTypeName(const QString& id, QString* name) = 0;
    // False when no operation type has this name.
    virtual bool GetOperationTypeId(const QString& name, QString* id) = 0;
};
