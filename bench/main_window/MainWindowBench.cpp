// Figures of the windows, one measurement a process so that the peak memory
// is that measurement's own (offscreen platform, no display needed):
//   kx_bench_main_window main PROJECT.kxc    the main window shown with its counts
//   kx_bench_main_window editor WARES_FILE   the directory editor on a wares file
// Prints "key=value" lines for run_bench.py.

#include "bench/BenchMemory.h"
#include "directories/DirectoryFiles.h"
#include "platform/ProfileFile.h"
#include "platform/ProgramFolder.h"
#include "ui/directories/EditDirGridDlg.h"
#include "ui/main/DirsDlg.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>

#include <cstdio>

namespace {

class CNoTypes : public IOperationTypeNames {
public:
    bool GetOperationTypeName(const QString&, QString*) override { return false; }
    bool GetOperationTypeId(const QString&, QString*) override { return false; }
};

double Ms(const QElapsedTimer& t) { return t.nsecsElapsed() / 1e6; }

// Shows `w` and lets it paint once.
void ShowAndPaint(QWidget* w) {
    w->show();
    QApplication::processEvents();
    w->repaint();
}

int MainWindow(const QString& project) {
    // A program folder of its own: the template of the build and the project.
    QTemporaryDir folder;
    const QString program = folder.path() + QLatin1Char('/');
    QFile::link(QStringLiteral(KX_PROGRAM_DIR "/KXConfigFMT.db"), program + QStringLiteral("KXConfigFMT.db"));
    Profile::WriteString(program + QStringLiteral("kxloader.ini"), QStringLiteral("kxloader.exe"),
                         QStringLiteral("config"), QFileInfo(project).absoluteFilePath());
    SetProgramFolder(program);

    QElapsedTimer t;
    t.start();
    CDirsDlg window(QApplication::font());
    ShowAndPaint(&window);
    const double shownMs = Ms(t);
    int counted = 0;
    for (const DirectorySummary& summary : window.Summaries()) counted += summary.lineCount > 0 ? 1 : 0;
    std::printf("main_shown_ms=%.1f\ncounted_directories=%d\nwares_label=%s\npeak_rss_mb=%.1f\n", shownMs, counted,
                qPrintable(window.findChild<QLabel*>(QStringLiteral("id1035"))->text()), PeakRssMb());
    return counted == 7 ? 0 : 1;
}

int Editor(const QString& file) {
    SetProjectPath(QFileInfo(file).absolutePath() + QStringLiteral("/bench.kxc"));
    SetDirectoryFilePath(Wares, file);
    CNoTypes types;
    const double before = PeakRssMb();

    QElapsedTimer t;
    t.start();
    CEditDirGridDlg editor(&types, QApplication::font());
    editor.SetKind(Wares);
    ShowAndPaint(&editor);
    const double shownMs = Ms(t);

    QTableView* view = editor.View();
    t.restart();
    view->scrollToBottom();
    view->viewport()->repaint();
    const double lastRowMs = Ms(t);
    // Paging through the middle, as a user dragging the scroll bar does.
    t.restart();
    QScrollBar* bar = view->verticalScrollBar();
    for (int i = 1; i <= 20; ++i) {
        bar->setValue(static_cast<int>(qint64(bar->maximum()) * i / 21));
        view->viewport()->repaint();
    }
    const double pageMs = Ms(t) / 20;

    const double fileMb = QFileInfo(file).size() / (1024.0 * 1024.0);
    const double peak = PeakRssMb();
    std::printf("rows=%d\nfile_mb=%.1f\neditor_shown_ms=%.1f\nscroll_last_row_ms=%.2f\nscroll_page_ms=%.2f\n"
                "baseline_rss_mb=%.1f\npeak_rss_mb=%.1f\npeak_per_file=%.2f\n",
                editor.RowCount(), fileMb, shownMs, lastRowMs, pageMs, before, peak, peak / fileMb);
    return editor.RowCount() > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app.setFont(QFont(QStringLiteral("Tahoma"), 10));
    if (argc < 3) {
        std::fprintf(stderr, "usage: kx_bench_main_window main PROJECT.kxc | editor WARES_FILE\n");
        return 2;
    }
    const QString what = QString::fromLocal8Bit(argv[1]);
    const QString path = QString::fromLocal8Bit(argv[2]);
    if (what == QLatin1String("main")) return MainWindow(path);
    if (what == QLatin1String("editor")) return Editor(path);
    return 2;
}
