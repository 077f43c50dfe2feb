#include "bench/support/LargeConfiguration.h"

#include "config/ConfigModel.h"
#include "storage/SQLite3.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace Bench {

namespace {

const char* const kTypes[] = {"text", "integer", "multiline text", "path", "combobox"};

}  // namespace

void WriteLargeTemplate(const QString& path) {
    SQLite3::CSQLiteConnection db;
    db.OpenConnection(path);
    db.SetSynchronous(0);
    db.Exec("BEGIN");
    const QString nodeColumns = "(name VARCHAR, table_nodes VARCHAR, table_listparams VARCHAR, caption VARCHAR)";
    const QString listColumns =
        "(name VARCHAR, type VARCHAR, source_data VARCHAR, default_value VARCHAR, param_help_text VARCHAR, "
        "param_id VARCHAR)";
    db.Exec("CREATE TABLE combosource_choice(id INTEGER, name VARCHAR)");
    for (int i = 0; i < 10; ++i)
        db.Exec(QString("INSERT INTO combosource_choice VALUES(%1, 'Вариант %1')").arg(i));
    db.Exec("CREATE TABLE combosource_operations(id INTEGER, name VARCHAR)");
    db.Exec("INSERT INTO combosource_operations VALUES(0, '')");

    auto listTable = [&](const QString& name, bool operation) {
        db.Exec("CREATE TABLE " + name + listColumns);
        for (int p = 0; p < kParamsPerPage; ++p) {
            const bool nameParam = operation && p == 0;
            const QString type = nameParam ? "text" : kTypes[p % 5];
            const QString source = type == "combobox" ? "combosource_choice" : "";
            const QString def = nameParam ? "Операция" : type == "combobox" ? QString::number(p % 10)
                                                                              : QString("Значение %1").arg(p);
            const QString id = nameParam ? "oper_type" : QString("p_%1_%2").arg(name).arg(p);
            db.Exec(QString("INSERT INTO %1 VALUES('Параметр %2', '%3', '%4', '%5', 'Подсказка %2', '%6')")
                        .arg(name).arg(p).arg(type, source, def, id));
        }
    };

    db.Exec("CREATE TABLE nodes_root" + nodeColumns);
    for (int g = 0; g < kGlobalPages; ++g) {
        const QString list = QString("listparams_global%1").arg(g);
        listTable(list, false);
        db.Exec(QString("INSERT INTO nodes_root VALUES('Общая страница %1', '', '%2', 'Описание')").arg(g).arg(list));
    }
    db.Exec("INSERT INTO nodes_root VALUES('__OPERATION', 'nodes_operation', 'listparams_operation', 'Тип')");
    listTable("listparams_operation", true);
    // Nine pages below each type: three pages, each with two sub-pages.
    db.Exec("CREATE TABLE nodes_operation" + nodeColumns);
    int page = 1;
    for (int i = 0; i < 3; ++i) {
        const QString list = QString("listparams_oper%1").arg(page++);
        const QString children = QString("nodes_oper_sub%1").arg(i);
        listTable(list, false);
        db.Exec(QString("INSERT INTO nodes_operation VALUES('Страница %1', '%2', '%3', 'Описание')")
                    .arg(i).arg(children, list));
        db.Exec("CREATE TABLE " + children + nodeColumns);
        for (int j = 0; j < 2; ++j) {
            const QString sub = QString("listparams_oper%1").arg(page++);
            listTable(sub, false);
            db.Exec(QString("INSERT INTO %1 VALUES('Подстраница %2', '', '%3', 'Описание')").arg(children).arg(j).arg(sub));
        }
    }
    db.Exec("COMMIT");
}

bool CreateLargeConfiguration(CConfigModel& model, const QString& projectPath, int types) {
    if (!model.Create(projectPath)) return false;
    for (int t = 0; t < types; ++t) {
        QString id;
        if (!model.AddOperationType(QString("Операция %1").arg(t + 1), &id)) return false;
    }
    return true;
}

CLargeTemplateBench::CLargeTemplateBench() {
    const QString templatePath = m_dir.filePath(QStringLiteral("KXConfigFMT.db"));
    WriteLargeTemplate(templatePath);
    m_model.OpenTemplate(templatePath);
}

double Seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Best(int repeats, const std::function<void()>& work) {
    double best = 1e9;
    for (int i = 0; i < repeats; ++i) best = std::min(best, Seconds(work));
    return best;
}

double CpuSeconds(const std::function<void()>& work) {
    const std::clock_t start = std::clock();
    work();
    return double(std::clock() - start) / CLOCKS_PER_SEC;
}

int CSilentPrompt::Message(const QString& text, const QString&, PromptIcon, PromptButtons) {
    std::fprintf(stderr, "%s\n", text.toUtf8().constData());
    return AnswerOk;
}

}  // namespace Bench
