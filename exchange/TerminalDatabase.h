#pragma once
// The terminal database: one SQLite file with the whole configuration, the
// project's name, the engine's start values and the operations directory. The
// terminal keeps it as \Application\Orvane\mainbase.db; the upload builds it
// into a temporary file for the updater, the export into a file of the user's
// choice (*.kxc_db).

#include "storage/SQLite3.h"

#include <QString>

class CConfigModel;

// Where the terminal keeps the database.
inline constexpr const char* kTerminalDatabaseRemotePath = "\\Application\\Orvane\\mainbase.db";

// What a terminal database is made of.
struct TerminalDatabaseSource {
    SQLite3::CSQLiteConnection* working = nullptr;  // the configuration's working copy
    QString projectPath;     // its project file: the name the terminal shows
    QString operationsFile;  // the operations directory file; missing: no operations
};

// The open configuration of `model` with the current operations directory file.
TerminalDatabaseSource TerminalDatabaseSourceOf(CConfigModel& model);

// Writes the terminal database into `*path`. An empty `*path` is replaced by a
// new "kx_" file in the temporary folder, which the caller then owns (also
// after a failure, when the file may be left partly written). An existing file
// is replaced. Every failure is shown (a file that cannot be replaced with
// "Ошибка перезаписи файла <path>", a database failure as the SQLite error)
// and gives false.
// Operations lines with fewer than five fields are skipped: the upload window
// has already warned about them (ValidateOperationsDirectory).
bool BuildTerminalDatabase(const TerminalDatabaseSource& source, QString* path, int startOperationId);
bool BuildTerminalDatabase(CConfigModel& model, QString* path, int startOperationId);

// Checks that every line of the operations directory file has at least four
// ';' (five fields) and warns once, about the first line that has not. A file
// that cannot be opened is not checked and not reported. True when no warning
// was shown.
bool ValidateOperationsDirectory(const QString& operationsFile);
// The current project's operations file.
bool ValidateOperationsDirectory();

// The main window's "Экспорт конфигурации": asks for a *.kxc_db file, builds
// the terminal database into it and says how that went. False when nothing
// was exported (no configuration, cancelled, failed).
bool ExportConfiguration(CConfigModel& model);
