#pragma once
// A small template with every parameter type, pages two levels below the
// operation node and a few combo sources, and a fixture holding a model with a
// new project made from it.

#include "config/ConfigModel.h"
#include "tests/config/ConfigModelFixture.h"
#include "tests/support/SQLiteQuery.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

// Global parameters of the small template (OperTypeID "NULL" rows of a new project).
inline constexpr int kSmallGlobalParams = 8;
// Parameters of one operation type in the small template.
inline constexpr int kSmallOperationParams = 8;

void WriteSmallTemplate(const QString& path);

// Texts of the items of a tree, depth-first, indented by two blanks a level.
QStringList TreeOutline(CParamTree& tree);
QStandardItem* FindItem(CParamTree& tree, const QString& text);
// Column 1 (the value) of every row of a parameter list.
QStringList ListValues(const QStandardItemModel& list);

class ConfigFixture : public ConfigModelFixture {
protected:
    void SetUp() override;

    // A new operation type; its identifier.
    QString AddType(const QString& name);
    QString Value(const QString& operTypeId, const QString& place, const QString& param);
    QString ProjectValue(const QString& operTypeId, const QString& place, const QString& param);
};
