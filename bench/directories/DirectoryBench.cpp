// Figures of one directory file, one operation a process so that the peak
// memory belongs to that operation alone:
//   kx_bench_directories load  FILE        load into the table model
//   kx_bench_directories save  FILE OUT    load, then save to OUT
//   kx_bench_directories count FILE        the summary count and a full line pass
// Prints "key=value" lines for run_bench.py.

#include "bench/BenchMemory.h"
#include "directories/DirectorySummary.h"
#include "directories/DirectoryTableModel.h"
#include "directories/LineReader.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

class CNoTypes : public IOperationTypeNames {
public:
    bool GetOperationTypeName(const QString&, QString*) override { return false; }
    bool GetOperationTypeId(const QString&, QString*) override { return false; }
};

double CurrentRssMb() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * 4096.0 / (1024.0 * 1024.0);
}

int Usage() {
    std::fprintf(stderr, "usage: kx_bench_directories load|save|count FILE [OUT]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const QString mode = QString::fromLocal8Bit(argv[1]);
    const QString path = QString::fromLocal8Bit(argv[2]);
    const double fileMb = QFileInfo(path).size() / (1024.0 * 1024.0);
    std::printf("file_mb=%.2f\n", fileMb);

    if (mode == QLatin1String("count")) {
        QElapsedTimer t;
        t.start();
        DirectorySummary summary;
        summary.path = path;
        summary.CountLines();  // the first file access of the process pays Qt's set-up
        t.restart();
        const int counted = summary.CountLines();
        std::printf("countlines_ms=%.3f\ncountlines_result=%d\n", t.nsecsElapsed() / 1e6, counted);
        t.restart();
        CDirectoryLineReader reader;
        if (!reader.Open(path)) return 1;
        QByteArrayView line;
        qint64 lines = 0;
        while (reader.ReadLine(&line)) ++lines;
        std::printf("fullpass_ms=%.1f\nfullpass_lines=%lld\n", t.nsecsElapsed() / 1e6,
                    static_cast<long long>(lines));
        return 0;
    }

    CNoTypes types;
    CDirectoryTableModel model(&types);
    const double baseline = CurrentRssMb();
    QElapsedTimer t;
    t.start();
    if (!model.OpenFile(Wares, path)) {
        std::fprintf(stderr, "load failed\n");
        return 1;
    }
    const double loadMs = t.nsecsElapsed() / 1e6;
    std::printf("rows=%d\nload_ms=%.1f\nstore_mb=%.2f\nbaseline_rss_mb=%.2f\npeak_rss_mb=%.2f\n",
                model.rowCount(), loadMs,
                model.Table().Rows().MemoryBytes() / (1024.0 * 1024.0), baseline, PeakRssMb());

    // What a view asks for: the cells of the rows it shows, anywhere in the table.
    t.restart();
    qint64 chars = 0;
    const int rows = model.rowCount();
    for (int i = 0; i < 1000 && rows > 0; ++i) {
        const int row = static_cast<int>((qint64(i) * 7919 * 131) % rows);
        for (int c = 0; c < model.columnCount(); ++c)
            chars += model.data(model.index(row, c)).toString().size();
    }
    std::printf("view_1000_rows_ms=%.3f\nview_chars=%lld\n", t.nsecsElapsed() / 1e6,
                static_cast<long long>(chars));

    if (mode == QLatin1String("save")) {
        if (argc < 4) return Usage();
        DirectoryTable& table = const_cast<DirectoryTable&>(model.Table());
        t.restart();
        if (!SaveDirectoryFile(table, QString::fromLocal8Bit(argv[3]))) {
            std::fprintf(stderr, "save failed\n");
            return 1;
        }
        const double saveMs = t.nsecsElapsed() / 1e6;
        std::printf("save_ms=%.1f\nsave_mb_per_s=%.1f\n", saveMs, fileMb / (saveMs / 1000.0));
    }
    return 0;
}
