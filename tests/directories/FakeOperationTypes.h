#pragma once
// The operation types of a small configuration, as the directory code sees them.

#include "directories/OperationTypeNames.h"

#include <QList>
#include <QPair>
#include <QString>

class CFakeOperationTypes : public IOperationTypeNames {
public:
    CFakeOperationTypes() {
        types = {{"1", QStringLiteral("Приемка")},
                 {"2", QStringLiteral("Отгрузка")},
                 {"3", QStringLiteral("Инвентаризация")}};
    }
    bool GetOperationTypeName(const QString& id, QString* name) override {
        ++nameLookups;
        for (const auto& t : types)
            if (t.first == id) {
                *name = t.second;
                return true;
            }
        return false;
    }
    bool GetOperationTypeId(const QString& name, QString* id) override {
        for (const auto& t : types)
            if (t.second == name) {
                *id = t.first;
                return true;
            }
        return false;
    }
    QStringList GetOperationTypeNameList() override {
        QStringList names;
        for (const auto& t : types) names << t.second;
        return names;
    }

    QList<QPair<QString, QString>> types;
    int nameLookups = 0;
};
