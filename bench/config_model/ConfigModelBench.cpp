// Figures of the configuration model on a large configuration: 50 operation
// types on a template of 200 parameters per type (10,000 values) plus 100
// global parameters. Prints the time to build the parameter tree (with the
// default-value check of every value), to save, and to print the report, with
// and without the working copy's lookup indexes.
//
// Usage: bench_config_model [operation types] [repeats] [--no-index]
// (--no-index adds the same figures without the index; they take minutes.)

#include "bench/support/LargeConfiguration.h"
#include "config/ConfigModel.h"
#include "platform/Prompt.h"
#include "storage/SQLite3.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace Bench;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int types = argc > 1 ? std::max(1, atoi(argv[1])) : 50;
    const int repeats = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    const bool withoutIndex = argc > 3 && QString(argv[3]) == "--no-index";
    CLargeTemplateBench bench;
    CConfigModel& model = bench.Model();
    const double create = Seconds([&] {
        CreateLargeConfiguration(model, bench.FilePath("big.kxc"), types);
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
        const double report = Best(repeats, [&] { model.PrintConfiguration(bench.FilePath("configuration.txt")); });
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
