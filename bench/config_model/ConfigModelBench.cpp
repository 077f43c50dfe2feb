// Figures of the configuration model on a large configuration: 50 operation
// types on a template of 200 parameters per type (10,000 values) plus 100
// global parameters. Prints the time to build the parameter tree (with the
// default-value check of every value), to save, and to print the report, with
// and without the working copy's lookup indexes.
//
// Usage: bench_config_model [operation types] [repeats] [--no-index]
// (--no-index adds the same figures without the index; they take minutes.)

#include "config/ConfigModel.h"
#include "platform/Prompt.h"
#include "storage/SQLite3.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kPagesPerType = 10;      // the type's own page and nine below it
constexpr int kParamsPerPage = 20;     // 200 parameters per type
constexpr int kGlobalPages = 5;        // 100 global parameters

const char* const kTypes[] = {"text", "integer", "multiline text", "path", "combobox"};

void WriteTemplate(const QString& path) {
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

// Says nothing and opens nothing: the figures are the only output.
class CSilentPrompt : public IPrompt {
public:
    int Message(const QString& text, const QString&, PromptIcon, PromptButtons) override {
        std::fprintf(stderr, "%s\n", text.toUtf8().constData());
        return AnswerOk;
    }
    QString OpenFileName(const FileDialogRequest&) override { return QString(); }
    QString SaveFileName(const FileDialogRequest&) override { return QString(); }
    void OpenInViewer(const QString&) override {}
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int types = argc > 1 ? std::max(1, atoi(argv[1])) : 50;
    const int repeats = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    const bool withoutIndex = argc > 3 && QString(argv[3]) == "--no-index";
    CSilentPrompt silent;
    CScopedPrompt scope(silent);
    QTemporaryDir dir;
    const QString templatePath = dir.filePath("KXConfigFMT.db");
    WriteTemplate(templatePath);

    CConfigModel model;
    model.OpenTemplate(templatePath);
    const double create = Seconds([&] {
        model.Create(dir.filePath("big.kxc"));
        for (int t = 0; t < types; ++t) {
            QString id;
            model.AddOperationType(QString("Операция %1").arg(t + 1), &id);
        }
    });
    SQLite3::CSQLiteTable count;
    {
        SQLite3::CSQLiteStatement st(model.Working(), "SELECT count(*) FROM ParamsValue");
        st.StepAll(&count);
    }
    std::printf("configuration: %d operation types x %d parameters + %d global = %s values\n", types,
                kPagesPerType * kParamsPerPage, kGlobalPages * kParamsPerPage,
                count.Rows[0][0].toLatin1().constData());
    std::printf("%-58s %8.3f s\n", "create + add all operation types", create);

    auto figures = [&](const char* label) {
        CParamTree tree;
        const double build = Best(repeats, [&] { model.RebuildParamTree(tree); });
        std::printf("%-58s %8.3f s  (target <= 0.5 s)\n",
                    QString("[%1] build the tree, every value checked").arg(label).toUtf8().constData(), build);
        // An older template's configuration: every per-type value is missing.
        const double fill = Best(1, [&] {
            model.Working().Exec("DELETE FROM ParamsValue WHERE place_id <> 'listparams_operation'");
            model.RebuildParamTree(tree);
        });
        std::printf("%-58s %8.3f s\n",
                    QString("[%1] build the tree, filling in all missing values").arg(label).toUtf8().constData(),
                    fill);
        const double save = Best(repeats, [&] { model.Save(); });
        std::printf("%-58s %8.3f s  (target <= 0.3 s)\n",
                    QString("[%1] save into the project file").arg(label).toUtf8().constData(), save);
        const double report = Best(repeats, [&] { model.PrintConfiguration(dir.filePath("configuration.txt")); });
        std::printf("%-58s %8.3f s\n", QString("[%1] print the report").arg(label).toUtf8().constData(), report);
        QStandardItemModel list;
        const double page = Best(repeats, [&] {
            for (QStandardItem* item : tree.AllItems()) model.ShowParamList(list, item);
        });
        std::printf("%-58s %8.3f s\n",
                    QString("[%1] show the list of every page (%2 pages)").arg(label).arg(tree.AllItems().size())
                        .toUtf8().constData(),
                    page);
    };
    figures("indexed");
    if (withoutIndex) {
        model.Working().Exec("DROP INDEX IF EXISTS kx_ParamsValue_param");
        model.Working().Exec("DROP INDEX IF EXISTS kx_ParamsValue_typed");
        figures("no index");
    }
    model.Close();
    return 0;
}
