// Figures of one directory file, one operation a process so that the peak
// memory belongs to that operation alone:
//   kx_bench_directories load  FILE        load into the table model
//   kx_bench_directories save  FILE OUT    load, then save to OUT
//   kx_bench_directories count FILE        the summary count and a full line pass
//   kx_bench_directories plain FILE        the yardstick: a plain table of field
//                                          offsets over the mapped file
// Prints "key=value" lines for run_bench.py.

#include "bench/BenchMemory.h"
#include "directories/DirectorySummary.h"
#include "directories/DirectoryTableModel.h"
#include "directories/LineReader.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

// CPU time of the process (user and system, page faults included): the figure
// that other work on a shared machine disturbs least.
double CpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// What a C programmer would write to get the same rows with no editing, code
// pages or memory budget to care about: the file mapped, each line split at
// ';', a growing array of (offset, length) fields and one of row starts. It
// copies nothing, decodes nothing and keeps the whole file mapped, so the model
// cannot beat it; it is the floor the model's load is measured against.
int PlainTable(const char* path) {
    const double cpu0 = CpuMs();
    QElapsedTimer t;
    t.start();
    const int fd = ::open(path, O_RDONLY);
    if (fd < 0) return 1;
    struct stat st {};
    if (::fstat(fd, &st) != 0) return 1;
    const size_t size = static_cast<size_t>(st.st_size);
    const char* data = size ? static_cast<const char*>(
                                  ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0))
                            : nullptr;
    if (size && data == MAP_FAILED) return 1;
    struct Field {
        uint32_t offset;
        uint32_t length;
    };
    std::vector<Field> fields;
    std::vector<uint32_t> rows;  // index of each row's first field
    const char* p = data;
    const char* const end = data + size;
    while (p < end) {
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        const char* lineEnd = nl ? nl : end;
        const char* textEnd = lineEnd > p && lineEnd[-1] == '\r' ? lineEnd - 1 : lineEnd;
        rows.push_back(static_cast<uint32_t>(fields.size()));
        for (const char* f = p;;) {
            const char* sep = static_cast<const char*>(std::memchr(f, ';', size_t(textEnd - f)));
            const char* stop = sep ? sep : textEnd;
            fields.push_back({static_cast<uint32_t>(f - data), static_cast<uint32_t>(stop - f)});
            if (!sep) break;
            f = sep + 1;
        }
        p = nl ? nl + 1 : end;
    }
    const double ms = t.nsecsElapsed() / 1e6;
    const double cpuMs = CpuMs() - cpu0;
    // Touch what a view would read, so that nothing above can be left out.
    uint64_t check = 0;
    for (size_t i = 0; i < rows.size(); i += 997) check += fields[rows[i]].length;
    std::printf("plain_rows=%zu\nplain_load_ms=%.1f\nplain_load_cpu_ms=%.1f\nplain_peak_rss_mb=%.2f\n"
                "plain_check=%llu\n",
                rows.size(), ms, cpuMs, PeakRssMb(), static_cast<unsigned long long>(check));
    if (size) ::munmap(const_cast<char*>(data), size);
    ::close(fd);
    return 0;
}

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
    std::fprintf(stderr, "usage: kx_bench_directories load|save|count|plain FILE [OUT]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    if (std::strcmp(argv[1], "plain") == 0) return PlainTable(argv[2]);
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
    const double cpu0 = CpuMs();
    t.start();
    if (!model.OpenFile(Wares, path)) {
        std::fprintf(stderr, "load failed\n");
        return 1;
    }
    const double loadMs = t.nsecsElapsed() / 1e6;
    const double loadCpuMs = CpuMs() - cpu0;
    std::printf("load_cpu_ms=%.1f\n", loadCpuMs);
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
