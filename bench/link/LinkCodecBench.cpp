// Which compressor suits the link: zstd and deflate in the streaming mode the
// link needs (one compressor a direction for the whole session, flushed at
// the end of every unit so the receiver can decode everything sent so far),
// on the message streams of a wares upload and a journal download.
//
// Prints, for each library, level and unit size: wire bytes per stored file
// byte (what the line must carry for each byte the terminal keeps) and the
// CPU time to compress and to decompress a megabyte of stored bytes; then
// what the check sum of every frame and unit costs (CRC-32, with carry-less
// multiplication where the processor has it and with tables alone).
//
//   link_codec_bench [--records N] [--all-units]

#include "bench/link/BenchRecords.h"
#include "components/parlink/protocol/LinkCrc.h"
#include "platform/CodePage.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QStringList>

#include <zlib.h>
#include <zstd.h>

#include <cstdio>
#include <ctime>
#include <functional>

namespace {

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// A message as the link carries it: type, LEB128 length, body.
void AppendMessage(QByteArray& out, char type, const QByteArray& body) {
    out.append(type);
    auto n = static_cast<std::uint32_t>(body.size());
    while (n >= 0x80) {
        out.append(static_cast<char>(0x80 | (n & 0x7F)));
        n >>= 7;
    }
    out.append(static_cast<char>(n));
    out.append(body);
}

struct Workload {
    const char* name;
    QByteArray stream;  // the message stream as sent (texts in Windows-1251)
    qint64 stored = 0;  // bytes the terminal or the program keeps (CR LF lines)
};

struct Result {
    qint64 packed = 0;
    double compressCpu = 0;
    double decompressCpu = 0;
    bool exact = false;
};

// Compresses `plain` in units of `unit` bytes, each flushed, then decompresses.
using Codec = std::function<Result(const QByteArray& plain, int unit, int level)>;

Result RunZstd(const QByteArray& plain, int unit, int level) {
    Result r;
    ZSTD_CCtx* c = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, level);
    ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, 17);
    // Match tables for the window above level 1, as the link's compressor
    // has them (LinkCompression.cpp).
    if (level > 1) {
        ZSTD_CCtx_setParameter(c, ZSTD_c_hashLog, 18);
        ZSTD_CCtx_setParameter(c, ZSTD_c_chainLog, 18);
    }
    QByteArray packed;
    QByteArray buffer(static_cast<qsizetype>(ZSTD_compressBound(static_cast<size_t>(unit)) + 64), Qt::Uninitialized);
    double t0 = CpuSeconds();
    for (qsizetype off = 0; off < plain.size(); off += unit) {
        const qsizetype n = std::min<qsizetype>(unit, plain.size() - off);
        ZSTD_inBuffer in{plain.constData() + off, static_cast<size_t>(n), 0};
        for (;;) {
            ZSTD_outBuffer out{buffer.data(), static_cast<size_t>(buffer.size()), 0};
            const size_t left = ZSTD_compressStream2(c, &out, &in, ZSTD_e_flush);
            packed.append(buffer.constData(), static_cast<qsizetype>(out.pos));
            if (ZSTD_isError(left)) return r;
            if (left == 0) break;
        }
    }
    r.compressCpu = CpuSeconds() - t0;
    ZSTD_freeCCtx(c);
    r.packed = packed.size();

    ZSTD_DCtx* d = ZSTD_createDCtx();
    ZSTD_DCtx_setParameter(d, ZSTD_d_windowLogMax, 17);
    QByteArray restored;
    restored.reserve(plain.size());
    QByteArray chunk(65536, Qt::Uninitialized);
    t0 = CpuSeconds();
    ZSTD_inBuffer in{packed.constData(), static_cast<size_t>(packed.size()), 0};
    for (;;) {
        ZSTD_outBuffer out{chunk.data(), static_cast<size_t>(chunk.size()), 0};
        if (ZSTD_isError(ZSTD_decompressStream(d, &out, &in))) break;
        restored.append(chunk.constData(), static_cast<qsizetype>(out.pos));
        // A full output buffer may leave decoded bytes inside the decoder.
        if (in.pos == in.size && out.pos < out.size) break;
    }
    r.decompressCpu = CpuSeconds() - t0;
    ZSTD_freeDCtx(d);
    r.exact = restored == plain;
    return r;
}

Result RunDeflate(const QByteArray& plain, int unit, int level) {
    Result r;
    z_stream c{};
    deflateInit2(&c, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    QByteArray packed;
    QByteArray buffer(static_cast<qsizetype>(deflateBound(&c, static_cast<uLong>(unit)) + 64), Qt::Uninitialized);
    double t0 = CpuSeconds();
    for (qsizetype off = 0; off < plain.size(); off += unit) {
        const qsizetype n = std::min<qsizetype>(unit, plain.size() - off);
        c.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.constData() + off));
        c.avail_in = static_cast<uInt>(n);
        do {
            c.next_out = reinterpret_cast<Bytef*>(buffer.data());
            c.avail_out = static_cast<uInt>(buffer.size());
            deflate(&c, Z_SYNC_FLUSH);
            packed.append(buffer.constData(), buffer.size() - static_cast<qsizetype>(c.avail_out));
        } while (c.avail_out == 0);
    }
    r.compressCpu = CpuSeconds() - t0;
    deflateEnd(&c);
    r.packed = packed.size();

    z_stream d{};
    inflateInit2(&d, -15);
    QByteArray restored;
    restored.reserve(plain.size());
    QByteArray chunk(65536, Qt::Uninitialized);
    t0 = CpuSeconds();
    d.next_in = reinterpret_cast<Bytef*>(packed.data());
    d.avail_in = static_cast<uInt>(packed.size());
    for (;;) {
        d.next_out = reinterpret_cast<Bytef*>(chunk.data());
        d.avail_out = static_cast<uInt>(chunk.size());
        const int rc = inflate(&d, Z_SYNC_FLUSH);
        restored.append(chunk.constData(), chunk.size() - static_cast<qsizetype>(d.avail_out));
        if (rc != Z_OK && rc != Z_BUF_ERROR) break;
        if (d.avail_in == 0 && d.avail_out > 0) break;
    }
    r.decompressCpu = CpuSeconds() - t0;
    inflateEnd(&d);
    r.exact = restored == plain;
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int records = 200000;
    bool allUnits = false;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--records") && i + 1 < args.size()) records = args[++i].toInt();
        if (args[i] == QLatin1String("--all-units")) allUnits = true;
    }

    // The realistic workloads are the figures to go by; the synthetic ones
    // (counting numbers, one repeated phrase) are kept for comparison.
    Workload wares{"wares realistic", {}, 0};
    Workload journal{"journal realistic", {}, 0};
    Workload syntheticWares{"wares synthetic", {}, 0};
    Workload syntheticJournal{"journal synthetic", {}, 0};
    const auto add = [](Workload& w, char type, const QString& line) {
        const QByteArray bytes = CodePage::ToWindows1251(line);
        AppendMessage(w.stream, static_cast<char>(type | 0x80), bytes);
        w.stored += bytes.size() + 2;
    };
    CRealisticRecords realistic(records);
    const QStringList scans = realistic.Journal(records);
    for (int i = 0; i < records; ++i) {
        add(wares, 'D', realistic.Wares()[i]);
        add(journal, 'A', scans[i]);
        add(syntheticWares, 'D', BenchWareLine(i));
        add(syntheticJournal, 'A', BenchJournalLine(i));
    }

    struct Candidate {
        const char* name;
        int level;
        Codec run;
    };
    // The negative (fast) levels are what a sender may choose where its
    // processor, not the line, is the limit.
    const Candidate candidates[] = {
        {"zstd", -8, RunZstd}, {"zstd", -4, RunZstd}, {"zstd", -2, RunZstd}, {"zstd", 1, RunZstd},  {"zstd", 3, RunZstd},  {"zstd", 6, RunZstd},  {"zstd", 9, RunZstd},
        {"zstd", 12, RunZstd}, {"zstd", 15, RunZstd}, {"zstd", 17, RunZstd}, {"zstd", 19, RunZstd},
        {"deflate", 6, RunDeflate}, {"deflate", 9, RunDeflate},
    };
    // The link seals units of 16 KiB (LinkCompression.h); --all-units tries others.
    const QList<int> units = allUnits ? QList<int>{1024, 4096, 16384, 65536} : QList<int>{16384};
    // The check sums over the journal stream, cut as frames and as units.
    for (const int piece : {1024, 4096, 16384}) {
        for (const bool tables : {false, true}) {
            const QByteArray& bytes = journal.stream;
            std::uint32_t sink = 0;
            const double t0 = CpuSeconds();
            for (int round = 0; round < 5; ++round)
                for (qsizetype at = 0; at + piece <= bytes.size(); at += piece)
                    sink ^= tables ? Link::Crc32WithTables(bytes.constData() + at, static_cast<std::size_t>(piece))
                                   : Link::Crc32(bytes.constData() + at, static_cast<std::size_t>(piece));
            const double seconds = CpuSeconds() - t0;
            std::printf("CRC-32 of %5d-byte pieces, %-26s %8.0f MB/s  (%08x)\n", piece,
                        tables ? "tables alone:" : "as the link sums them:", 5.0 * bytes.size() / 1e6 / seconds, sink);
        }
    }
    std::printf("%d records a workload; wire = compressed stream bytes, stored = file bytes kept\n", records);
    std::printf("%-18s %-8s %5s %7s %12s %14s %16s %s\n", "workload", "library", "level", "unit",
                "wire/stored", "stored/wire", "compress ms/MB", "decompress ms/MB");
    for (const Workload* w : {&wares, &journal, &syntheticWares, &syntheticJournal}) {
        const double mb = static_cast<double>(w->stored) / 1e6;
        for (const Candidate& c : candidates) {
            for (const int unit : units) {
                const Result r = c.run(w->stream, unit, c.level);
                std::printf("%-18s %-8s %5d %7d %12.3f %14.2f %16.1f %16.1f%s\n", w->name, c.name, c.level, unit,
                            static_cast<double>(r.packed) / static_cast<double>(w->stored),
                            static_cast<double>(w->stored) / static_cast<double>(r.packed),
                            1000.0 * r.compressCpu / mb, 1000.0 * r.decompressCpu / mb, r.exact ? "" : "  NOT EXACT");
            }
        }
    }
    return 0;
}
