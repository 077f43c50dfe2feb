#include "config/ProjectTables.h"

#include "storage/CopyTables.h"

#include <QCryptographicHash>

using namespace SQLite3;

namespace ProjectTables {
namespace {

[[noreturn]] void NotAProject(const QString& what) {
    throw CSQLiteException(kNotAProject, what, QStringLiteral("ProjectTables"));
}

// Whether `db` has the table of `def` in the form the program reads: a
// stored table (not a view, not a virtual table, whose reads run a module's
// code) holding every column of `def` as a stored column (a generated column
// runs its expression on every read). False when it has no such table at all.
bool CheckTable(CSQLiteConnection& db, const CTableDef& def) {
    CSQLiteTable entry;
    {
        CSQLiteStatement find(db, QStringLiteral("SELECT type, rootpage FROM main.sqlite_master WHERE name = ?1 "
                                                 "COLLATE NOCASE"));
        find.BindText(1, def.name);
        find.StepAll(&entry);
    }
    if (entry.RowCount == 0) return false;
    if (entry.Rows[0][0] != QLatin1String("table") || entry.Rows[0][1] == QLatin1String("0"))
        NotAProject(QStringLiteral("%1 - не таблица данных").arg(def.name));

    CSQLiteTable columns;
    {
        CSQLiteStatement describe(db, QStringLiteral("PRAGMA main.table_xinfo(%1)").arg(QuoteIdentifier(def.name)));
        describe.StepAll(&columns);
    }
    // cid, name, type, notnull, dflt_value, pk, hidden
    for (const QString& column : def.columns) {
        const QStringList* found = nullptr;
        for (const QStringList& row : columns.Rows)
            if (row.size() > 6 && row[1].compare(column, Qt::CaseInsensitive) == 0) found = &row;
        if (!found) NotAProject(QStringLiteral("в таблице %1 нет столбца %2").arg(def.name, column));
        if ((*found)[6] != QLatin1String("0"))
            NotAProject(QStringLiteral("столбец %1 таблицы %2 вычисляется").arg(column, def.name));
    }
    return true;
}

// The rows of the table of `def`, only its known columns, in stored order.
// False (no rows) when `db` has no such table; a required one raises.
bool ReadTable(CSQLiteConnection& db, const CTableDef& def, CSQLiteTable* rows) {
    if (!CheckTable(db, def)) {
        if (def.required) NotAProject(QStringLiteral("в нем нет таблицы %1").arg(def.name));
        return false;
    }
    QStringList columns;
    for (const QString& column : def.columns) columns << QuoteIdentifier(column);
    CSQLiteStatement select(db, QStringLiteral("SELECT %1 FROM main.%2")
                                    .arg(columns.join(QLatin1String(", ")), QuoteIdentifier(def.name)));
    select.StepAll(rows);
    return true;
}

void AddToDigest(QCryptographicHash& hash, const CTableDef& def, const CSQLiteTable* rows) {
    QByteArray bytes = def.name.toUtf8();
    if (!rows) {
        hash.addData(bytes.append(QByteArrayView("\0absent", 7)));
        return;
    }
    // Every value as its length and its UTF-16 units, so no two different
    // tables give the same bytes; one buffer, hashed at once.
    qsizetype size = bytes.size() + 8;
    for (const QStringList& row : rows->Rows)
        for (const QString& value : row) size += 4 + value.size() * 2;
    bytes.reserve(size);
    const auto append = [&bytes](qint32 number) { bytes.append(reinterpret_cast<const char*>(&number), 4); };
    append(rows->RowCount);
    append(rows->ColCount);
    for (const QStringList& row : rows->Rows) {
        for (const QString& value : row) {
            append(static_cast<qint32>(value.size()));
            bytes.append(reinterpret_cast<const char*>(value.utf16()), value.size() * 2);
        }
    }
    hash.addData(bytes);
}

void WriteTable(CSQLiteConnection& to, const CTableDef& def, const CSQLiteTable& rows) {
    to.Exec(QStringLiteral("DROP TABLE IF EXISTS main.%1").arg(QuoteIdentifier(def.name)));
    to.Exec(def.createSql);
    if (rows.RowCount == 0) return;
    QStringList placeholders;
    for (int c = 0; c < def.columns.size(); ++c) placeholders << QStringLiteral("?");
    CSQLiteStatement insert(to, QStringLiteral("INSERT INTO %1(%2) VALUES(%3)")
                                    .arg(QuoteIdentifier(def.name), def.columns.join(QLatin1String(", ")),
                                         placeholders.join(QLatin1String(", "))));
    for (const QStringList& row : rows.Rows) {
        for (int c = 0; c < row.size(); ++c) insert.BindText(c + 1, row[c]);
        insert.StepAll();
    }
}

}  // namespace

const QList<CTableDef>& Tables() {
    static const QList<CTableDef> tables = {
        {QStringLiteral("ParamsValue"),
         QStringLiteral("CREATE TABLE ParamsValue(OperTypeID INTEGER, place_id VARCHAR, param_id VARCHAR, value VARCHAR)"),
         {QStringLiteral("OperTypeID"), QStringLiteral("place_id"), QStringLiteral("param_id"), QStringLiteral("value")},
         true},
        {QStringLiteral("SortOrderOperTypes"), QStringLiteral("CREATE TABLE SortOrderOperTypes(n INTEGER, OperType VARCHAR)"),
         {QStringLiteral("n"), QStringLiteral("OperType")}, true},
        {QStringLiteral("ChoiceNames"), QStringLiteral("CREATE TABLE ChoiceNames(point_id VARCHAR, point_name VARCHAR)"),
         {QStringLiteral("point_id"), QStringLiteral("point_name")}, false},
        {QStringLiteral("m_mainmenu"),
         QStringLiteral("CREATE TABLE IF NOT EXISTS m_mainmenu(id INTEGER,name VARCHAR(50),target VARCHAR(20))"),
         {QStringLiteral("id"), QStringLiteral("name"), QStringLiteral("target")}, false},
    };
    return tables;
}

const CTableDef& Table(const QString& name) {
    for (const CTableDef& def : Tables())
        if (def.name == name) return def;
    Q_UNREACHABLE();
}

CProjectData Read(CSQLiteConnection& db) {
    CProjectData data;
    QCryptographicHash hash(QCryptographicHash::Blake2b_256);
    for (const CTableDef& def : Tables()) {
        CSQLiteTable rows;
        const bool present = ReadTable(db, def, &rows);
        AddToDigest(hash, def, present ? &rows : nullptr);
        data.tables << rows;
        data.present << present;
    }
    data.digest = hash.result();
    return data;
}

void Write(const CProjectData& data, CSQLiteConnection& to) {
    const QList<CTableDef>& tables = Tables();
    for (qsizetype t = 0; t < tables.size() && t < data.tables.size(); ++t)
        if (data.present[t]) WriteTable(to, tables[t], data.tables[t]);
}

}  // namespace ProjectTables
