#pragma once
// The operation types of the demo configuration, as the directory code asks
// for them: IDs 1, 2, 3 named "Приемка", "Отгрузка", "Инвентаризация".

#include "directories/OperationTypeNames.h"

#include <QString>
#include <QStringList>

class CFuzzOperationTypes : public IOperationTypeNames {
public:
    bool GetOperationTypeName(const QString& id, QString* name) override {
        const qsizetype at = m_ids.indexOf(id);
        if (at < 0) return false;
        *name = m_names[at];
        return true;
    }
    bool GetOperationTypeId(const QString& name, QString* id) override {
        const qsizetype at = m_names.indexOf(name);
        if (at < 0) return false;
        *id = m_ids[at];
        return true;
    }
    QStringList GetOperationTypeNameList() override { return m_names; }

private:
    QStringList m_ids{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")};
    QStringList m_names{QStringLiteral("Приемка"), QStringLiteral("Отгрузка"), QStringLiteral("Инвентаризация")};
};
