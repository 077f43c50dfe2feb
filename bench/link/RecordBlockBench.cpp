// What record blocks carry on the line against today's stream, and what they
// cost each end.
//
// For each workload: the bytes the terminal or program keeps (Windows-1251
// lines with CR LF), the compressed session stream of today (every record a
// message, one zstd stream), and the same records in blocks of 4096 as block
// messages through that stream; the ratio is kept bytes per line byte. Then
// processor time per kept MB on the side that encodes and on the side that
// decodes, blocks against the plain stream, at the level that side uses
// (decoding: the stream's units and the records laid out as the receiver's
// file, as the terminal stores a load).
//
//   record_block_bench [--records N] [--only TEXT] [--digest] [--repeat K]
//     --only: the workloads whose name holds TEXT
//     --digest: a digest of each workload's blocks, to show that a change
//               meant to make the codec faster left its bytes as they were
//     --repeat: the encoding figures as the least of K runs
//     --encode-only K: only the encoding, K times, blocks against today's
//               stream (a profile of the encoding side alone)

#include "bench/link/BenchRecords.h"
#include "components/parlink/protocol/LinkCompression.h"
#include "components/parlink/protocol/LinkLeb128.h"
#include "components/parlink/protocol/LinkMessage.h"
#include "components/parlink/protocol/RecordBlock.h"
#include "components/parlink/session/WaresCopies.h"
#include "platform/CodePage.h"
#include "tools/kxterminal/TerminalWares.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct Workload {
    const char* name;
    std::vector<QByteArray> lines;  // Windows-1251
    // The same lines as the encoding side holds them: views into one file's
    // bytes (the terminal reads its journal so), not one allocation each.
    QByteArray file;
    std::vector<QByteArrayView> views;
    qint64 stored = 0;
    int level = 19;  // the encoding side's level: the program's on a slow line, the terminal's 1
    // A journal's wares: the terminal's directory for encoding, the
    // program's copy for decoding.
    const Link::CBlockReference* encodeWith = nullptr;
    Link::BlockReferences decodeWith;
};

Workload Load(const char* name, const QStringList& lines, int level) {
    Workload w{name, {}, {}, {}, 0, level, nullptr, {}};
    w.lines.reserve(static_cast<size_t>(lines.size()));
    for (const QString& l : lines) {
        w.lines.push_back(CodePage::ToWindows1251(l));
        w.stored += w.lines.back().size() + 2;
    }
    w.file.reserve(w.stored);
    std::vector<qsizetype> starts;
    for (const QByteArray& l : w.lines) {
        starts.push_back(w.file.size());
        w.file += l;
        w.file += "\r\n";
    }
    for (size_t i = 0; i < w.lines.size(); ++i)
        w.views.emplace_back(w.file.constData() + starts[i], w.lines[i].size());
    return w;
}

// The session stream packed in units as the link sends it.
qint64 Packed(const QByteArray& messages, int level, double* cpu) {
    const double start = CpuSeconds();
    Link::CStreamPacker packer(level);
    QByteArray out;
    qint64 total = 0;
    for (qsizetype at = 0; at < messages.size(); at += Link::kUnitPlain) {
        out.clear();
        packer.Seal(messages.constData() + at, std::min<qsizetype>(Link::kUnitPlain, messages.size() - at), out);
        total += out.size();
    }
    *cpu += CpuSeconds() - start;
    return total;
}

QByteArray PlainMessages(const Workload& w) {
    QByteArray s;
    for (const QByteArray& l : w.lines) Link::AppendWindows1251Message(s, Link::MessageType::Data, l.constData(), l.size());
    return s;
}

QByteArray BlockMessages(const Workload& w, double* cpu) {
    const double start = CpuSeconds();
    QByteArray s;
    // One encoder for the whole run, as each end keeps one for a load or a journal.
    Link::CRecordBlockEncoder encoder(w.level);
    std::vector<QByteArrayView> records;
    for (size_t i = 0; i < w.lines.size(); i += Link::kBlockMaxRecords) {
        records.assign(w.views.begin() + static_cast<qsizetype>(i),
                       w.views.begin() + static_cast<qsizetype>(std::min(w.views.size(), i + Link::kBlockMaxRecords)));
        const QByteArray body = encoder.Encode(Link::BlockCoding::Windows1251, records, w.encodeWith);
        s.append('B');
        Link::AppendLeb128(s, static_cast<std::uint32_t>(body.size()));
        s.append(body);
    }
    *cpu += CpuSeconds() - start;
    return s;
}

// Steps over the type and the LEB128 length of the block message at `*at`
// (the bench's own messages: sound by construction); the body's size.
std::uint32_t NextBlockBody(const QByteArray& messages, qsizetype* at) {
    ++*at;
    std::uint32_t n = 0;
    for (int shift = 0;; shift += 7) {
        const auto b = static_cast<std::uint8_t>(messages[(*at)++]);
        n |= std::uint32_t(b & 0x7F) << shift;
        if (!(b & 0x80)) return n;
    }
}

double Unpack(const QByteArray& messages, int level, bool blocks, qint64 stored,
              const Link::BlockReferences* references = nullptr) {
    // Packs once (not timed), then times the receiving side: units, and blocks.
    Link::CStreamPacker packer(level);
    QByteArray wire;
    for (qsizetype at = 0; at < messages.size(); at += Link::kUnitPlain)
        packer.Seal(messages.constData() + at, std::min<qsizetype>(Link::kUnitPlain, messages.size() - at), wire);
    const double start = CpuSeconds();
    Link::CStreamUnpacker unpacker;
    QByteArray plain;
    unpacker.Feed(wire.constData(), wire.size(), plain);
    qint64 records = 0;
    if (!blocks) {
        // As the terminal stores a load today: each message read back to a
        // text and written in its code page with CR LF.
        Link::CMessageParser parser;
        parser.SetTextCoding(Link::TextCoding::Windows1251);
        parser.Feed(plain);
        Link::Message m;
        QByteArray file;
        while (parser.Next(&m)) {
            CodePage::AppendWindows1251(m.text, file);
            file.append("\r\n", 2);
            ++records;
        }
    } else {
        // As the terminal stores a load: the records laid out as its file.
        Link::RecordLines block;
        for (qsizetype at = 0; at < plain.size();) {
            const std::uint32_t n = NextBlockBody(plain, &at);
            if (!Link::DecodeRecordLines(plain.constData() + at, n, "\r\n", &block, references))
                std::printf("  DECODE FAILED\n");
            records += static_cast<qint64>(block.ends.size());
            at += n;
        }
    }
    const double cpu = CpuSeconds() - start;
    (void)records;
    return cpu / (static_cast<double>(stored) / 1e6);
}

QString g_only;
bool g_digest = false;
int g_repeat = 1;
int g_encodeOnly = 0;

bool Wanted(const char* name) { return g_only.isEmpty() || QString::fromUtf8(name).contains(g_only); }

void Run(const Workload& w, int decodeLevel) {
    if (!Wanted(w.name)) return;
    if (g_encodeOnly > 0) {
        double cpu = 0, least = 1e9;
        for (int k = 0; k < g_encodeOnly; ++k) {
            double one = 0;
            BlockMessages(w, &one);
            cpu += one;
            least = std::min(least, one);
        }
        // Today's stream of the same records beside it.
        const QByteArray plain = PlainMessages(w);
        double today = 1e9;
        for (int k = 0; k < g_encodeOnly; ++k) {
            double one = 0;
            Packed(plain, w.level, &one);
            today = std::min(today, one);
        }
        const double mb = static_cast<double>(w.stored) / 1e6;
        std::printf("%-34s blocks encode CPU s/MB: mean %.4f, least %.4f; today least %.4f (%d runs)\n", w.name,
                    cpu / g_encodeOnly / mb, least / mb, today / mb, g_encodeOnly);
        return;
    }
    double plainCpu = 0, blockCpu = 0;
    const QByteArray plain = PlainMessages(w);
    const qint64 today = Packed(plain, w.level, &plainCpu);
    const QByteArray blocks = BlockMessages(w, &blockCpu);
    const qint64 withBlocks = Packed(blocks, w.level, &blockCpu);
    // --repeat K: the encoding figures are the least of K runs, which a busy
    // machine disturbs least.
    for (int k = 1; k < g_repeat; ++k) {
        double plainAgain = 0, blockAgain = 0;
        Packed(plain, w.level, &plainAgain);
        Packed(BlockMessages(w, &blockAgain), w.level, &blockAgain);
        plainCpu = std::min(plainCpu, plainAgain);
        blockCpu = std::min(blockCpu, blockAgain);
    }
    // The blocks must come back as they went.
    bool exact = true;
    {
        Link::RecordBlock block;
        qsizetype at = 0;
        size_t next = 0;
        while (at < blocks.size() && exact) {
            const std::uint32_t n = NextBlockBody(blocks, &at);
            exact = Link::DecodeRecordBlock(blocks.constData() + at, n, &block, &w.decodeWith);
            for (size_t i = 0; exact && i < block.records.size(); ++i) exact = block.records[i] == w.lines[next++];
            at += n;
        }
        exact = exact && next == w.lines.size();
    }
    const double mb = static_cast<double>(w.stored) / 1e6;
    // Every figure is taken before the printing: the blocks made again for
    // the decoding side count on no encoding figure.
    double again = 0;
    const double plainDecode = Unpack(plain, decodeLevel, false, w.stored);
    const double blockDecode = Unpack(BlockMessages(w, &again), decodeLevel, true, w.stored, &w.decodeWith);
    std::printf("%-34s %9.1f MB  level %2d  today %5.2fx  blocks %5.2fx  %s\n", w.name, mb, w.level,
                double(w.stored) / double(today), double(w.stored) / double(withBlocks), exact ? "exact" : "NOT EXACT");
    std::printf("%-34s encode CPU s/MB: today %.4f  blocks %.4f;  decode CPU s/MB (level %d): today %.4f  blocks %.4f\n",
                "", plainCpu / mb, blockCpu / mb, decodeLevel, plainDecode, blockDecode);
    if (g_digest)
        std::printf("%-34s blocks digest %s\n", "",
                    QCryptographicHash::hash(blocks, QCryptographicHash::Sha256).toHex().left(32).constData());
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int records = 1000000;
    const QStringList args = app.arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--records"));
    if (at >= 0 && at + 1 < args.size()) records = args[at + 1].toInt();
    const qsizetype only = args.indexOf(QStringLiteral("--only"));
    if (only >= 0 && only + 1 < args.size()) g_only = args[only + 1];
    g_digest = args.contains(QStringLiteral("--digest"));
    const qsizetype repeat = args.indexOf(QStringLiteral("--repeat"));
    if (repeat >= 0 && repeat + 1 < args.size()) g_repeat = std::max(1, args[repeat + 1].toInt());
    const qsizetype encodeOnly = args.indexOf(QStringLiteral("--encode-only"));
    if (encodeOnly >= 0 && encodeOnly + 1 < args.size()) g_encodeOnly = std::max(1, args[encodeOnly + 1].toInt());

    CRealisticRecords realistic(records);
    std::printf("record blocks: %d records a workload\n", records);
    Run(Load("wares upload (program, slow line)", realistic.Wares(), 19), 19);
    const QStringList journal = realistic.Journal(records);
    Run(Load("journal download (terminal)", journal, 1), 1);
    {
        // The terminal keeps the wares the program uploaded, and the program
        // its copy of them: barcodes go as rows.
        QTemporaryDir folder;
        QFile file(folder.filePath(QStringLiteral("wares.ux7")));
        if (!file.open(QIODevice::WriteOnly)) return 1;
        for (const QString& w : realistic.Wares()) file.write(CodePage::ToWindows1251(w) + "\r\n");
        file.close();
        const auto terminal = CTerminalWares::Read(file.fileName());
        const auto copy = Link::CWaresCopy::FromRecords(realistic.Wares());
        if (!terminal || !copy || terminal->Digest() != copy->Digest()) {
            std::printf("the terminal's wares and the program's copy differ\n");
            return 1;
        }
        Workload w = Load("journal, terminal holds the wares", journal, 1);
        w.encodeWith = terminal.get();
        w.decodeWith = [&](QByteArrayView digest) -> const Link::CBlockReference* {
            return digest == copy->Digest() ? copy.get() : nullptr;
        };
        Run(w, 1);
    }
    if (Wanted("other wares upload (slow line)"))
        Run(Load("other wares upload (slow line)", COtherShapeRecords(records).Wares(), 19), 19);
    if (Wanted("synthetic wares (not realistic)")) {
        QStringList synthetic;
        for (int i = 0; i < records; ++i) synthetic << BenchWareLine(i);
        Run(Load("synthetic wares (not realistic)", synthetic, 19), 19);
    }
    if (Wanted("synthetic journal (not realistic)")) {
        QStringList synthetic;
        for (int i = 0; i < records; ++i) synthetic << BenchJournalLine(i);
        Run(Load("synthetic journal (not realistic)", synthetic, 1), 1);
    }
    // Where the terminal encodes and decodes: its level on both.
    Run(Load("wares, terminal decoding at level 1", realistic.Wares(), 1), 1);
    return 0;
}
