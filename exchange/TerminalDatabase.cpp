#include "exchange/TerminalDatabase.h"

#include "config/ConfigModel.h"
#include "directories/DirectoryFields.h"
#include "directories/OperationLine.h"
#include "directories/DirectoryFiles.h"
#include "platform/LeadingInteger.h"
#include "platform/Prompt.h"
#include "filesafety/TempFiles.h"
#include "storage/CopyTables.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QString kCaptionError = QStringLiteral("Ошибка!");

const char* const kCreateKxConfigInfo =
    "CREATE TABLE IF NOT EXISTS ps_kxconfig_info( id INTEGER PRIMARY KEY,keyinfo VARCHAR(40),value VARCHAR(100))";
const char* const kInsertKxConfigInfo = "INSERT INTO ps_kxconfig_info(keyinfo, value) VALUES('%1', '%2')";
const char* const kCreateEngineVars =
    "CREATE TABLE IF NOT EXISTS ps_engine_vars(id INTEGER PRIMARY KEY,cur_oper_id INTEGER,cur_author_id "
    "INTEGER,cur_adr_id INTEGER,cur_doc_id INTEGER,cur_ware_code VARCHAR(40))";
const char* const kInsertEngineVars =
    "INSERT INTO ps_engine_vars(id, cur_oper_id, cur_author_id, cur_adr_id, cur_doc_id, "
    "cur_ware_code)VALUES(1, %1, %2, %3, %4, '%5')";
const char* const kCreateOperations =
    "CREATE TABLE IF NOT EXISTS operations(oper_id INTEGER PRIMARY KEY,opertype_id VARCHAR,oper_name "
    "VARCHAR(40),multiplier INTEGER,oper_barcode VARCHAR(40),popup_advinfo_mode TEXT DEFAULT \"\")";
const char* const kDeleteOperations = "DELETE FROM operations";
const char* const kInsertOperation =
    "INSERT INTO operations(oper_id, opertype_id, oper_name, multiplier, oper_barcode, popup_advinfo_mode) "
    "VALUES(?1, ?2, ?3, ?4, ?5, ?6)";

void Exec(SQLite3::CSQLiteConnection& db, const char* sql) { db.Exec(QString::fromUtf8(sql)); }

// Fills `operations` from the directory file; a file that cannot be opened
// leaves the table empty.
void InsertOperations(SQLite3::CSQLiteConnection& db, const QString& operationsFile) {
    SQLite3::CSQLiteStatement insert(db, QString::fromUtf8(kInsertOperation));
    ForEachDirectoryLine(operationsFile, [&insert](const QStringList& fields) {
        using namespace OperationLine;
        if (fields.size() < kTerminalFields) return true;  // no operation: left out
        insert.BindInt(1, LeadingInteger(fields[kId]));
        insert.BindText(2, fields[kType]);
        insert.BindText(3, fields[kName]);
        insert.BindInt(4, LeadingInteger(fields[kMultiplier]));
        insert.BindText(5, fields[kBarcode]);
        if (fields.size() > kPopupMode)
            insert.BindText(6, fields[kPopupMode]);
        else
            insert.BindNull(6);
        insert.StepAll();
        return true;
    });
}

}  // namespace

TerminalDatabaseSource TerminalDatabaseSourceOf(CConfigModel& model) {
    TerminalDatabaseSource source;
    source.working = &model.Working();
    source.projectPath = model.ProjectPath();
    DirectoryPath(Operations, &source.operationsFile);
    return source;
}

bool BuildTerminalDatabase(const TerminalDatabaseSource& source, QString* path, int startOperationId) {
    // Checked before anything is deleted.
    if (source.working == nullptr || !source.working->IsOpen()) {
        Prompt().Warning(QStringLiteral("Не открыта конфигурация!"), kCaptionError);
        return false;
    }
    if (path->isEmpty()) {
        *path = CreateKxTempFile();
        if (path->isEmpty()) {
            // No temporary file can be made: say where it was tried.
            Prompt().Message(QStringLiteral("Ошибка перезаписи файла ") + QDir::toNativeSeparators(KxTempFolderPath()),
                             QString(), PromptIcon::None, PromptButtons::Ok);
            return false;
        }
    }
    QFile::remove(*path);
    if (QFileInfo::exists(*path) || QFileInfo(*path).isSymLink()) {
        Prompt().Message(QStringLiteral("Ошибка перезаписи файла ") + *path, QString(), PromptIcon::None,
                         PromptButtons::Ok);
        return false;
    }
    try {
        SQLite3::CSQLiteConnection db;
        db.OpenConnection(*path);
        db.SetSynchronous(0);
        // A terminal database without the configuration is worse than none:
        // the copy's failure (already shown) fails the build.
        if (!SQLite3::CopyAllTables(*source.working, db)) return false;

        Exec(db, kCreateKxConfigInfo);
        // The project's name is a file name: it may hold an apostrophe.
        db.Exec(QString::fromUtf8(kInsertKxConfigInfo)
                    .arg(QStringLiteral("project_name"),
                         SQLite3::Quote(QFileInfo(source.projectPath).completeBaseName())));
        Exec(db, kCreateEngineVars);
        db.Exec(QString::fromUtf8(kInsertEngineVars)
                    .arg(QString::number(startOperationId), QString::number(-1), QString::number(-1),
                         QString::number(-1), QString()));
        Exec(db, kCreateOperations);
        Exec(db, kDeleteOperations);
        InsertOperations(db, source.operationsFile);
        db.CloseConnection();
    } catch (const SQLite3::CSQLiteException& e) {
        e.Show(QString());
        return false;
    }
    return true;
}

bool BuildTerminalDatabase(CConfigModel& model, QString* path, int startOperationId) {
    return BuildTerminalDatabase(TerminalDatabaseSourceOf(model), path, startOperationId);
}

bool ValidateOperationsDirectory(const QString& operationsFile) {
    // Every line must be an operation the terminal gets (a file that cannot
    // be opened gives the terminal none, which is no error here).
    bool whole = true;
    ForEachDirectoryLine(operationsFile, [&whole](const QStringList& fields) {
        whole = fields.size() >= OperationLine::kTerminalFields;
        return whole;
    });
    if (!whole)
        Prompt().Warning(QStringLiteral("Справочник операций содержит неправильного формата данные!"), kCaptionError);
    return whole;
}

bool ValidateOperationsDirectory() {
    QString file;
    DirectoryPath(Operations, &file);
    return ValidateOperationsDirectory(file);
}

namespace {

bool SameFile(const QString& a, const QString& b) {
    if (a.isEmpty() || b.isEmpty()) return false;
    const QString ca = QFileInfo(a).canonicalFilePath();
    const QString cb = QFileInfo(b).canonicalFilePath();
    if (!ca.isEmpty() && !cb.isEmpty()) return ca == cb;
    return QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
}

}  // namespace

bool ExportConfiguration(CConfigModel& model) {
    if (!model.IsConfigurationOpen()) {
        Prompt().Warning(QStringLiteral("Не открыта конфигурация!"), kCaptionError);
        return false;
    }
    FileDialogRequest request;
    request.defaultExt = QStringLiteral("kxc_db");
    request.initialName = model.ProjectPath() + QStringLiteral("_db");
    request.overwritePrompt = true;
    request.filter = QStringLiteral("БД конфигурации Orvane (*.kxc_db)|*.kxc_db|Все файлы (*.*)|*.*||");
    QString path = Prompt().SaveFileName(request);
    if (path.isEmpty()) return false;
    // The build replaces the chosen file: never the project or its working
    // copy, which are open and would be lost.
    const bool done = !SameFile(path, model.ProjectPath()) && !SameFile(path, model.WorkingPath()) &&
                      BuildTerminalDatabase(model, &path, -1);
    Prompt().Message(done ? QStringLiteral("БД конфигурации экспортирована успешно.")
                          : QStringLiteral("Ошибка экспорта БД конфигурации!"),
                     QString(), PromptIcon::None, PromptButtons::Ok);
    return done;
}
