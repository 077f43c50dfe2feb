#include "fuzz/FuzzSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// Both live until the process ends: libFuzzer leaves through exit(), after
// which Qt's own globals may already be gone, so neither is destroyed then.
QCoreApplication* g_app = nullptr;
QTemporaryDir* g_scratch = nullptr;
std::string g_scratchPath;

void RemoveScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(g_scratchPath, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    if (!g_app) g_app = new QCoreApplication(*argc, *argv);
    if (!g_scratch) {
        // Millions of small files are written: a memory file system keeps the
        // disk (and the run's speed) out of it.
        const QString shm = QStringLiteral("/dev/shm");
        const QString base = QFileInfo(shm).isDir() && QFileInfo(shm).isWritable() ? shm : QDir::tempPath();
        g_scratch = new QTemporaryDir(base + QStringLiteral("/kx_fuzz_XXXXXX"));
        if (!g_scratch->isValid()) {
            std::fprintf(stderr, "cannot make a scratch folder below %s\n", qPrintable(base));
            std::abort();
        }
        g_scratch->setAutoRemove(false);
        g_scratchPath = QFile::encodeName(g_scratch->path()).toStdString();
        std::atexit(RemoveScratch);
    }
    return 0;
}

QString ScratchPath(const QString& name) { return g_scratch->filePath(name); }

bool WriteScratchFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return file.write(bytes) == bytes.size();
}

QByteArray ReadScratchFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QByteArray();
    return file.readAll();
}

void ClearScratch() {
    QDir dir(g_scratch->path());
    for (const QFileInfo& entry : dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                     QDir::NoDotAndDotDot)) {
        if (entry.isDir() && !entry.isSymLink())
            QDir(entry.filePath()).removeRecursively();
        else
            QFile::remove(entry.filePath());
    }
}

void FuzzFail(const char* condition, const char* file, int line, const QString& detail) {
    std::fprintf(stderr, "\n==== property failed: %s\n     at %s:%d\n     %s\n", condition, file, line,
                 detail.toLocal8Bit().constData());
    std::fflush(stderr);
    std::abort();
}

QString HexPreview(const QByteArray& bytes, int limit) {
    QString hex = QString::fromLatin1(bytes.left(limit).toHex(' '));
    if (bytes.size() > limit) hex += QStringLiteral(" ... (%1 bytes)").arg(bytes.size());
    return hex;
}

CFuzzPrompt& QuietPlatform() {
    static CFuzzPrompt prompt;
    static CScopedPrompt scopedPrompt(prompt);
    static CFuzzClock clock;
    static CScopedClock scopedClock(clock);
    prompt.texts.clear();
    prompt.answers.clear();
    return prompt;
}

CutStream SplitCutStream(const std::uint8_t* data, std::size_t size, int largest) {
    CutStream cut;
    if (size == 0) return cut;
    const std::size_t tail = size > 9 ? 8 : 0;
    cut.stream = QByteArray(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1 - tail));
    FuzzedDataProvider fdp(data + size - tail, tail);
    cut.pieces = ConsumePieces(fdp, largest);
    return cut;
}

int RunStreamTarget(const std::uint8_t* data, std::size_t size, int largest,
                    const std::function<void(std::uint8_t mode, const CutStream& raw)>& raw,
                    const std::function<void(FuzzedDataProvider& fdp)>& built) {
    if (size == 0) return 0;
    if ((data[0] & 1) == 0) {
        raw(data[0], SplitCutStream(data, size, largest));
        return 0;
    }
    FuzzedDataProvider fdp(data + 1, size - 1);
    built(fdp);
    return 0;
}

QString ConsumeMixedText(FuzzedDataProvider& fdp, int length, int firstLetter, int letterCount, int lowest,
                         int highest) {
    QString text;
    for (int i = 0; i < length && fdp.remaining_bytes() > 0; ++i) {
        switch (fdp.ConsumeIntegralInRange(0, 3)) {
        case 0: text += QChar(fdp.ConsumeIntegral<char16_t>()); break;
        case 1:
            text += QChar(static_cast<char16_t>(firstLetter + fdp.ConsumeIntegralInRange(0, letterCount - 1)));
            break;
        default: text += QChar(static_cast<char16_t>(fdp.ConsumeIntegralInRange(lowest, highest))); break;
        }
    }
    return text;
}

QList<int> ConsumePieces(FuzzedDataProvider& fdp, int largest) {
    QList<int> pieces;
    while (pieces.size() < 8 && fdp.remaining_bytes() > 0) pieces << fdp.ConsumeIntegralInRange(1, largest);
    return pieces;
}

int CFuzzPrompt::Message(const QString& text, const QString&, PromptIcon, PromptButtons buttons) {
    texts << text;
    if (buttons == PromptButtons::Ok) return AnswerOk;
    return answers.isEmpty() ? defaultAnswer : answers.takeFirst();
}
