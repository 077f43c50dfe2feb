// Copies a configuration of 20,000 parameter values into a project file the
// way a save does, and prints the time beside two references measured in the
// same run: the sqlite3 shell's text round trip (.dump piped into a new
// database) and a copy that writes one INSERT text per row with no enclosing
// transaction.
//
//   bench_copy_tables [rows]

#include "storage/CopyTables.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace SQLite3;

namespace {

void MakeSource(const QString& path, int rows) {
    CSQLiteConnection db;
    db.OpenConnection(path);
    db.SetSynchronous(0);
    db.Exec("CREATE TABLE ParamsValue(OperTypeID INTEGER, place_id VARCHAR, param_id VARCHAR, value VARCHAR)");
    db.Exec("CREATE TABLE SortOrderOperTypes(n INTEGER, OperType VARCHAR)");
    db.Exec("CREATE TABLE ChoiceNames(point_id VARCHAR, point_name VARCHAR)");
    db.Exec("CREATE TABLE IF NOT EXISTS m_mainmenu(id INTEGER,name VARCHAR(50),target VARCHAR(20))");
    db.Exec("BEGIN");
    CSQLiteStatement insert(db, "INSERT INTO ParamsValue VALUES(?, ?, ?, ?)");
    for (int i = 0; i < rows; ++i) {
        const int type = i / 200;
        insert.BindText(1, type == 0 ? QStringLiteral("NULL") : QString::number(type));
        insert.BindText(2, QStringLiteral("listparams_page_%1").arg(i % 20));
        insert.BindText(3, QStringLiteral("p_param_%1").arg(i % 200));
        insert.BindText(4, i % 7 == 0 ? QStringLiteral("Склад 'А' №%1").arg(i) : QString::number(i));
        insert.StepAll();
    }
    for (int t = 1; t <= rows / 200; ++t)
        db.Exec(QStringLiteral("INSERT INTO SortOrderOperTypes VALUES(%1, '%1')").arg(t));
    for (int p = 1; p <= 10; ++p)
        db.Exec(QStringLiteral("INSERT INTO ChoiceNames VALUES('%1', 'Пункт %1')").arg(p));
    db.Exec("COMMIT");
}

// One INSERT text per row, each statement committing on its own.
void CopyWithoutTransaction(CSQLiteConnection& src, CSQLiteConnection& dst) {
    CSQLiteTable tables;
    {
        CSQLiteStatement list(src, "SELECT tbl_name, sql FROM sqlite_master WHERE type = 'table'");
        list.StepAll(&tables);
    }
    for (const QStringList& t : tables.Rows) {
        dst.Exec(QStringLiteral("DROP TABLE IF EXISTS %1").arg(t[0]));
        dst.Exec(t[1]);
        CSQLiteTable data;
        {
            CSQLiteStatement select(src, QStringLiteral("SELECT * FROM %1").arg(t[0]));
            select.StepAll(&data);
        }
        const QString columns = "(" + data.ColumnNames.join(", ") + ") VALUES(";
        for (const QStringList& row : data.Rows) {
            QStringList values;
            for (const QString& v : row) values << "'" + Quote(v) + "'";
            dst.Exec(QStringLiteral("INSERT INTO %1%2%3)").arg(t[0], columns, values.join(", ")));
        }
    }
}

// Times `copy` from `src` into a new database at `dst`.
double TimeCopy(const QString& src, const QString& dst,
                const std::function<void(CSQLiteConnection&, CSQLiteConnection&)>& copy) {
    QFile::remove(dst);
    CSQLiteConnection s, d;
    s.OpenConnection(src);
    d.OpenConnection(dst);
    s.SetSynchronous(0);
    d.SetSynchronous(0);
    QElapsedTimer timer;
    timer.start();
    copy(s, d);
    return timer.nsecsElapsed() / 1e9;
}

double TimeDumpRoundTrip(const QString& src, const QString& dst) {
    QFile::remove(dst);
    QElapsedTimer timer;
    timer.start();
    const int rc = QProcess::execute("sh", {"-c", QStringLiteral("sqlite3 '%1' .dump | sqlite3 '%2'").arg(src, dst)});
    const double seconds = timer.nsecsElapsed() / 1e9;
    return rc == 0 ? seconds : -1.0;
}

double Best(int runs, const std::function<double()>& f) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) best = std::min(best, f());
    return best;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 20000;
    QTemporaryDir dir;
    const QString src = dir.filePath("source.kxc");
    MakeSource(src, rows);

    const double ours = Best(5, [&] { return TimeCopy(src, dir.filePath("ours.kxc"), CopyAllTablesOrThrow); });
    const double dump = Best(5, [&] { return TimeDumpRoundTrip(src, dir.filePath("dump.kxc")); });
    const double plain = Best(2, [&] { return TimeCopy(src, dir.filePath("plain.kxc"), CopyWithoutTransaction); });

    std::printf("copy of a configuration with %d ParamsValue rows (best of runs)\n", rows);
    std::printf("  CopyAllTables (one transaction, bound values): %8.1f ms\n", ours * 1000);
    if (dump >= 0)
        std::printf("  sqlite3 SRC .dump | sqlite3 DST:               %8.1f ms\n", dump * 1000);
    else
        std::printf("  sqlite3 SRC .dump | sqlite3 DST:               (sqlite3 shell not available)\n");
    std::printf("  row-by-row INSERT texts, no transaction:       %8.1f ms\n", plain * 1000);
    if (dump > 0) std::printf("  ours / dump round trip: %.2fx (target <= 1.5x)\n", ours / dump);
    return 0;
}
