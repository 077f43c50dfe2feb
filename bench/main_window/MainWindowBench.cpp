// Figures of the windows, one measurement a process so that the peak memory
// is that measurement's own (offscreen platform, no display needed):
//   kx_bench_main_window main PROJECT.kxc          the main window shown with its counts
//   kx_bench_main_window editor WARES_FILE         the directory editor on a wares file
//   kx_bench_main_window upload PROJECT.kxc PORT   the upload window sending the wares
//   kx_bench_main_window journal PROJECT.kxc PORT  the journal window downloading
// Prints "key=value" lines for run_bench.py.

#include "bench/BenchMemory.h"
#include "directories/DirectoryFiles.h"
#include "exchange/DirectoryUpload.h"
#include "platform/ProfileFile.h"
#include "platform/ProgramFolder.h"
#include "ui/directories/EditDirGridDlg.h"
#include "ui/exchange/RecvJournalDlg.h"
#include "ui/exchange/UploadingDirDlg.h"
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
#include <ctime>
#include <sys/resource.h>

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

// A program folder of its own: the template and the link component of the
// build, and settings naming the project (and the port, when given).
void UseProgramFolder(const QTemporaryDir& folder, const QString& project, const QString& port = QString()) {
    const QString program = folder.path() + QLatin1Char('/');
    const QString built = QStringLiteral(KX_PROGRAM_DIR "/");
    QFile::link(built + QStringLiteral("KXConfigFMT.db"), program + QStringLiteral("KXConfigFMT.db"));
    QFile::link(built + QStringLiteral("libparlink.so"), program + QStringLiteral("libparlink.so"));
    QFile components(program + QStringLiteral("components.ini"));
    if (components.open(QIODevice::WriteOnly)) components.write("[KXC.ParlinkX2]\nlibrary=libparlink.so\n");
    components.close();
    // The emulator is unpaced: the link is told it is a fast line, as the
    // command line's runs beside it are, so both compress alike.
    QFile link(program + QStringLiteral("parlink.ini"));
    if (link.open(QIODevice::WriteOnly)) link.write("[link]\nBaudRate=4000000\n");
    link.close();
    const QString ini = program + QStringLiteral("kxloader.ini");
    Profile::WriteString(ini, QStringLiteral("kxloader.exe"), QStringLiteral("config"),
                         QFileInfo(project).absoluteFilePath());
    if (!port.isEmpty()) Profile::WriteString(ini, QStringLiteral("kxloader.exe"), QStringLiteral("port"), port);
    SetProgramFolder(program);
}

// Processor time of the calling thread (the window's) and of the whole
// process (window and worker), in seconds.
double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}
double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& v) { return static_cast<double>(v.tv_sec) + v.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

qint64 CountLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return -1;
    qint64 lines = 0;
    while (!file.atEnd()) {
        const QByteArray block = file.read(1 << 20);
        lines += block.count('\n');
    }
    return lines;
}

// Counts the paint events of a window and its children: how often the window
// redrew while the exchange ran.
class CPaintCounter : public QObject {
public:
    explicit CPaintCounter(QWidget* window) : m_window(window) { qApp->installEventFilter(this); }
    ~CPaintCounter() override { qApp->removeEventFilter(this); }
    int Paints() const { return m_paints; }

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Paint && object->isWidgetType() &&
            (object == m_window || m_window->isAncestorOf(static_cast<QWidget*>(object))))
            ++m_paints;
        return false;
    }

private:
    QWidget* m_window;
    int m_paints = 0;
};

// Runs an exchange window to its end and prints its figures.
int RunExchangeWindow(QDialog& window, const char* what, qint64 records) {
    CPaintCounter paints(&window);
    QElapsedTimer t;
    const double threadBefore = ThreadCpuSeconds(), processBefore = ProcessCpuSeconds();
    t.start();
    const int result = window.exec();
    const double seconds = Ms(t) / 1000.0;
    const double windowCpu = ThreadCpuSeconds() - threadBefore;
    const double processCpu = ProcessCpuSeconds() - processBefore;
    std::printf("%s_result=%d\n%s_records=%lld\n%s_seconds=%.3f\n%s_window_cpu_s=%.3f\n%s_process_cpu_s=%.3f\n"
                "%s_paints=%d\n",
                what, result, what, static_cast<long long>(records), what, seconds, what, windowCpu, what, processCpu,
                what, paints.Paints());
    return result == 1 ? 0 : 1;
}

int Upload(const QString& project, const QString& port) {
    QTemporaryDir folder;
    UseProgramFolder(folder, project, port);
    SetProjectPath(QFileInfo(project).absoluteFilePath());
    CUploadingDirDlg upload;
    upload.Choose(Wares);
    return RunExchangeWindow(upload, "upload", CountLines(CurrentDirectoryFiles().directories[Wares]));
}

int Journal(const QString& project, const QString& port) {
    QTemporaryDir folder;
    UseProgramFolder(folder, project, port);
    SetProjectPath(QFileInfo(project).absoluteFilePath());
    CRecvJournalDlg download(QStringLiteral("KXLoader"), false, true);
    const int code = RunExchangeWindow(download, "journal", -1);
    std::printf("journal_lines=%lld\n", static_cast<long long>(CountLines(CurrentDirectoryFiles().journalFile)));
    return code;
}

int MainWindow(const QString& project) {
    QTemporaryDir folder;
    UseProgramFolder(folder, project);

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
        std::fprintf(stderr, "usage: kx_bench_main_window main PROJECT.kxc | editor WARES_FILE | "
                             "upload PROJECT.kxc PORT | journal PROJECT.kxc PORT\n");
        return 2;
    }
    const QString what = QString::fromLocal8Bit(argv[1]);
    const QString path = QString::fromLocal8Bit(argv[2]);
    const QString port = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    if (what == QLatin1String("main")) return MainWindow(path);
    if (what == QLatin1String("editor")) return Editor(path);
    if (what == QLatin1String("upload")) return Upload(path, port);
    if (what == QLatin1String("journal")) return Journal(path, port);
    return 2;
}
