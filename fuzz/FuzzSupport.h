#pragma once
// What every fuzz target shares: one Qt core application for the process, a
// scratch folder on a memory file system where there is one, the check that
// fails a run when a property does not hold (it aborts, so libFuzzer keeps the
// input as a crash file), and stand-ins of the prompt and the clock that never
// block.

#include "platform/Clock.h"
#include "platform/Prompt.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>

// Every target gets this file's LLVMFuzzerInitialize: the application and the
// scratch folder exist before the first input.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

// A folder of this process, empty at start, for the files a target reads and
// writes; `name` below it.
QString ScratchPath(const QString& name);
bool WriteScratchFile(const QString& path, const QByteArray& bytes);
QByteArray ReadScratchFile(const QString& path);
// Removes everything below the scratch folder.
void ClearScratch();

// Reports a property that does not hold and aborts the run.
[[noreturn]] void FuzzFail(const char* condition, const char* file, int line, const QString& detail);

#define KX_FUZZ_CHECK(condition, detail)                                          \
    do {                                                                          \
        if (!(condition)) FuzzFail(#condition, __FILE__, __LINE__, (detail));     \
    } while (false)

// Hex of at most `limit` bytes, for failure reports.
QString HexPreview(const QByteArray& bytes, int limit = 64);

// Answers questions from a list (then `defaultAnswer`), counts every box.
class CFuzzPrompt : public IPrompt {
public:
    int Message(const QString& text, const QString& caption, PromptIcon icon,
                PromptButtons buttons) override;
    QString OpenFileName(const FileDialogRequest&) override { return QString(); }
    QString SaveFileName(const FileDialogRequest&) override { return QString(); }
    void OpenInViewer(const QString&) override {}

    QList<int> answers;
    int defaultAnswer = AnswerNo;
    QStringList texts;
};

// Time that moves only when someone sleeps: every wait of the exchange code
// runs at once.
class CFuzzClock : public IClock {
public:
    std::int64_t NowMs() override { return m_now; }
    void SleepMs(int ms) override {
        if (ms > 0) m_now += ms;
    }

private:
    std::int64_t m_now = 1'000'000;
};

// Installs (once) a CFuzzPrompt and a CFuzzClock for the code under test;
// returns the prompt with its texts and answers cleared.
CFuzzPrompt& QuietPlatform();

// Up to eight piece sizes (1..largest) from the input: how a stream is cut
// on its way (how the reads of a port happen to fall).
QList<int> ConsumePieces(FuzzedDataProvider& fdp, int largest);

// The raw input of the stream targets: after the first byte (the mode) the
// stream, then - when there is enough of it - eight bytes at the end that say
// in pieces of which sizes (1..largest) the stream arrives.
struct CutStream {
    QByteArray stream;
    QList<int> pieces;
};
CutStream SplitCutStream(const std::uint8_t* data, std::size_t size, int largest);

// The entry of the stream targets: an even first byte makes the input a raw
// stream (SplitCutStream with `largest`) handed to `raw` with that byte, an
// odd one leaves the rest to `built` to make a stream of. An empty input does
// nothing.
int RunStreamTarget(const std::uint8_t* data, std::size_t size, int largest,
                    const std::function<void(std::uint8_t mode, const CutStream& raw)>& raw,
                    const std::function<void(FuzzedDataProvider& fdp)>& built);

// Up to `length` UTF-16 code units (fewer when the input runs out), each one
// any unit (one in four), one of the `letterCount` letters from `firstLetter`,
// or one from `lowest` to `highest`.
QString ConsumeMixedText(FuzzedDataProvider& fdp, int length, int firstLetter, int letterCount, int lowest,
                         int highest);
