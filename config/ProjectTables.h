#pragma once
// What a project file consists of: the four tables the program defines, with
// its own CREATE statements and columns. A project file may come from anyone
// (sent by mail, written by another program), so it is read as data only:
// these tables and columns, never its own CREATE statements, CHECK
// constraints, defaults, triggers, views, generated columns or other tables.
// Whatever expression a file carries, reading it runs none of them.

#include "storage/SQLite3.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace ProjectTables {

struct CTableDef {
    QString name;
    QString createSql;     // the statement a new configuration is made with
    QStringList columns;   // in the order of the statement
    bool required = false; // a file without it is no project
};

// ParamsValue, SortOrderOperTypes, ChoiceNames, m_mainmenu.
const QList<CTableDef>& Tables();
const CTableDef& Table(const QString& name);

// The code of the exception raised when a database is not a project (a
// required table is missing, a project table is a view or lacks a column).
// Negative, so it never meets one of the library's own codes.
inline constexpr int kNotAProject = -2;

// The project tables as read from one database: the rows of each table of
// Tables() (in that order; `present` false where the database has none) and
// their digest. Two files (or one file at two moments) with equal digests
// hold the same configuration.
struct CProjectData {
    QList<SQLite3::CSQLiteTable> tables;
    QList<bool> present;
    QByteArray digest;
};

// Reads the project tables of `db`: only the known columns of each, in stored
// order. A required table missing, or a project table that is a view, a
// virtual table or lacks a column, raises kNotAProject; a failing statement
// raises as the access layer does.
CProjectData Read(SQLite3::CSQLiteConnection& db);

// Writes `data` into `to`, inside a write transaction the caller holds: each
// table it has is dropped there and created anew with the program's own
// statement, its rows bound as text. Tables `data` lacks are left in `to` as
// they are.
void Write(const CProjectData& data, SQLite3::CSQLiteConnection& to);

}  // namespace ProjectTables
