#pragma once
// A small template with every parameter type, pages two levels below the
// operation node and a few combo sources, and a fixture holding a model with a
// new project made from it.

#include "config/ConfigModel.h"
#include "directories/DirectoryFiles.h"
#include "platform/ProgramFolder.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

// Global parameters of the small template (OperTypeID "NULL" rows of a new project).
inline constexpr int kSmallGlobalParams = 8;
// Parameters of one operation type in the small template.
inline constexpr int kSmallOperationParams = 8;

void WriteSmallTemplate(const QString& path);

SQLite3::CSQLiteTable Query(SQLite3::CSQLiteConnection& db, const QString& sql);
// The first cell of a query, "" when it returns no row.
QString Scalar(SQLite3::CSQLiteConnection& db, const QString& sql);
// Every row of a query joined as "a|b" texts.
QStringList Rows(SQLite3::CSQLiteConnection& db, const QString& sql);

// Texts of the items of a tree, depth-first, indented by two blanks a level.
QStringList TreeOutline(CParamTree& tree);
QStandardItem* FindItem(CParamTree& tree, const QString& text);
// Column 1 (the value) of every row of a parameter list.
QStringList ListValues(const QStandardItemModel& list);

class ConfigFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A new operation type; its identifier.
    QString AddType(const QString& name);
    QString Value(const QString& operTypeId, const QString& place, const QString& param);
    QString ProjectValue(const QString& operTypeId, const QString& place, const QString& param);

    CTestDir dir;
    CRecordingPrompt prompt;
    CScopedPrompt scope{prompt};
    QString previousProgramFolder;
    QString templatePath;
    QString projectPath;
    CConfigModel model;
};
