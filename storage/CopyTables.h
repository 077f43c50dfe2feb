#pragma once
// Copies every table of one database into another, as text.

#include "storage/SQLite3.h"

namespace SQLite3 {

// Makes each table of `destination` an exact copy of the same table of
// `source` (dropped, recreated from the source's own CREATE statement and
// filled row by row; values arrive as text and take the column's affinity).
// Tables only the destination has are left alone. The source is read in one
// read transaction, so the copy is one state of it even while another program
// saves into it. The whole copy runs in one write transaction on the
// destination: on any failure it is rolled back, so the
// destination keeps what it had, the error is shown (empty caption argument)
// and false is returned.
bool CopyAllTables(CSQLiteConnection& source, CSQLiteConnection& destination);

// The same without showing anything: raises CSQLiteException on failure (after
// the rollback).
void CopyAllTablesOrThrow(CSQLiteConnection& source, CSQLiteConnection& destination);

// "name" for SQL, with embedded quotes doubled.
QString QuoteIdentifier(const QString& name);

}  // namespace SQLite3
