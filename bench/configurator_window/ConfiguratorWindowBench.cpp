// Figures of the configurator window on a large configuration (50 operation
// types of 200 parameters, 10,100 values): the time from opening the window
// until it is shown, and from a click on a page in the tree until that page's
// parameter list has been filled and painted.
//
// Usage: bench_configurator_window [operation types] [repeats]
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.

#include "bench/support/LargeConfiguration.h"
#include "config/ConfigModel.h"
#include "directories/DirectoryFiles.h"
#include "ui/config/KXConfigDlg.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

using namespace Bench;

namespace {

// The pages to click: every item of the tree, in display order, up to `count`
// spread over the whole tree.
QList<QModelIndex> PagesToClick(QTreeView* tree, int count) {
    QList<QModelIndex> all;
    std::function<void(const QModelIndex&)> walk = [&](const QModelIndex& parent) {
        for (int r = 0; r < tree->model()->rowCount(parent); ++r) {
            const QModelIndex index = tree->model()->index(r, 0, parent);
            all << index;
            walk(index);
        }
    };
    walk(QModelIndex());
    QList<QModelIndex> chosen;
    const int step = std::max<qsizetype>(1, all.size() / count);
    for (qsizetype i = 0; i < all.size() && chosen.size() < count; i += step) chosen << all[i];
    return chosen;
}

// Runs the event loop until `done` holds (at most two seconds), without the
// pauses of the test library's waits, which would be measured too.
bool Spin(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > 2000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    return true;
}

bool Shown(QWidget& window) { return window.windowHandle() && window.windowHandle()->isExposed(); }

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int types = argc > 1 ? std::max(1, atoi(argv[1])) : 50;
    const int repeats = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    CLargeTemplateBench bench;
    CConfigModel& model = bench.Model();
    const QString project = bench.FilePath("big.kxc");
    if (!CreateLargeConfiguration(model, project, types) || !model.Save()) {
        std::fprintf(stderr, "cannot create the configuration\n");
        return 1;
    }
    SetProjectPath(project);
    std::printf("configuration: %d operation types, the tree shows %d pages\n", types,
                types * kPagesPerType + kGlobalPages);

    const QFont font(QStringLiteral("Tahoma"), 10);
    double open = 1e9, openCpu = 1e9;
    for (int round = 0; round < repeats; ++round) {
        double wall = 0;
        std::unique_ptr<CKXConfigDlg> window;
        const double cpu = CpuSeconds([&] {
            wall = Seconds([&] {
                window = std::make_unique<CKXConfigDlg>(model, font);
                window->open();
                if (!Spin([&] { return Shown(*window); })) std::fprintf(stderr, "the window was not shown\n");
            });
        });
        window->done(CKXConfigDlg::kResultClosed);
        open = std::min(open, wall);
        openCpu = std::min(openCpu, cpu);
    }
    std::printf("%-52s %8.3f s  (processor time %.3f s; target <= 0.5 s)\n", "open the window until it is shown",
                open, openCpu);
    // The share of the model: the same tree built without any window.
    double alone = 1e9, aloneCpu = 1e9;
    for (int round = 0; round < repeats; ++round) {
        CParamTree tree;
        double wall = 0;
        aloneCpu = std::min(aloneCpu, CpuSeconds([&] { wall = Seconds([&] { model.RebuildParamTree(tree); }); }));
        alone = std::min(alone, wall);
    }
    std::printf("%-52s %8.3f s  (processor time %.3f s)\n", "  the same tree built by the model alone", alone, aloneCpu);

    CKXConfigDlg window(model, font);
    window.open();
    Spin([&] { return Shown(window); });
    auto* tree = window.findChild<QTreeView*>(QStringLiteral("id1002"));
    auto* list = window.findChild<QTreeView*>(QStringLiteral("id1003"));
    std::vector<double> clicks;
    for (int round = 0; round < repeats; ++round) {
        for (const QModelIndex& page : PagesToClick(tree, 40)) {
            if (tree->currentIndex() == page) continue;
            tree->scrollTo(page);
            QCoreApplication::processEvents();
            const QPoint at = tree->visualRect(page).center();
            int inserted = 0;
            const QMetaObject::Connection counting = QObject::connect(
                list->model(), &QAbstractItemModel::rowsInserted, [&inserted] { ++inserted; });
            clicks.push_back(Seconds([&] {
                QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
                // The list is filled from the event loop, after the click.
                Spin([&] { return inserted > 0; });
                list->viewport()->repaint();
            }));
            QObject::disconnect(counting);
        }
    }
    std::sort(clicks.begin(), clicks.end());
    if (!clicks.empty())
        std::printf("%-52s %8.1f ms median, %.1f ms slowest of %zu  (target <= 50 ms)\n",
                    "click a page until its list is shown", clicks[clicks.size() / 2] * 1000, clicks.back() * 1000,
                    clicks.size());
    window.done(CKXConfigDlg::kResultClosed);
    model.Close();
    return 0;
}
