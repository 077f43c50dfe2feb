#include "app/CommandLineGrammar.h"

#include "app/CommandLine.h"
#include "directories/DirectoryKind.h"
#include "exchange/JournalExchange.h"

#include <algorithm>

namespace {

QList<BatchSwitch> MakeSwitches() {
    QList<BatchSwitch> all{
        {QStringLiteral("/h"), SwitchShape::Alone, {}},
        {QStringLiteral("/?"), SwitchShape::Alone, {}},
        {QStringLiteral("/j"), SwitchShape::JournalFile, QStringLiteral("journal.txt")},
        {QStringLiteral("/n"), SwitchShape::CountFile, QStringLiteral("j_count.txt")},
        {QStringLiteral("/i"), SwitchShape::OptionalOutputFile, QStringLiteral("id_term.txt")},
        {QStringLiteral("/c"), SwitchShape::Alone, {}},
    };
    for (const DirectoryKindInfo& info : kDirectoryKinds) {
        if (!info.commandLineSwitch) continue;
        bool takesSecond = false;
        for (const DirectoryKindInfo& other : kDirectoryKinds) takesSecond |= other.secondFileOf == info.kind;
        all.append({QString::fromLatin1(info.commandLineSwitch),
                    takesSecond ? SwitchShape::InputFiles : SwitchShape::InputFile, {}});
    }
    all.append({
        {QStringLiteral("/q"), SwitchShape::InfoTable, QStringLiteral("info.txt")},
        {QStringLiteral("/s"), SwitchShape::FilterWords, {}},
        {QStringLiteral("/f"), SwitchShape::OptionalFilterWords, {}},
        {QStringLiteral("/x"), SwitchShape::OptionalOutputFile, QStringLiteral("errors.txt")},
        {QStringLiteral("/pair"), SwitchShape::PairingCode, {}},
    });
    return all;
}

class CReader {
public:
    explicit CReader(const QStringList& arguments) {
        m_r.words = arguments;
        const int end = TakeEndOfSwitches(m_r.words);
        m_r.switchesEnd = end == kNoSwitchesEnd ? static_cast<int>(m_r.words.size()) : end;
    }

    BatchReading Run() {
        for (int i = 1; i < m_r.words.size(); ++i) {
            BatchStep step;
            step.first = i;
            step.what = i < m_r.switchesEnd ? FindBatchSwitch(m_r.words[i]) : nullptr;
            if (step.what) Read(step, i);
            // A parser that met the end of the list stands one past it.
            i = std::min(i, static_cast<int>(m_r.words.size()) - 1);
            step.last = i;
            m_r.steps.append(step);
        }
        return m_r;
    }

private:
    bool Has(int i) const { return i < m_r.words.size(); }
    QString Word(int i) const { return Has(i) ? m_r.words[i] : QString(); }
    bool IsSwitch(int i) const { return i < m_r.switchesEnd && Has(i) && LooksLikeSwitch(m_r.words[i]); }
    int End() const { return m_r.switchesEnd == m_r.words.size() ? kNoSwitchesEnd : m_r.switchesEnd; }
    bool FilterWords(int& i) {
        FilterSet ignored;
        return ParseFilterWords(i, m_r.words, ignored, nullptr, End());
    }

    void Read(BatchStep& step, int& i) {
        const QString next = Word(i + 1);
        switch (step.what->shape) {
        case SwitchShape::Alone: return;
        case SwitchShape::OptionalOutputFile:
            step.writesFile = true;
            if (!next.isEmpty() && !IsSwitch(i + 1)) step.outputFile = ++i;
            return;
        case SwitchShape::JournalFile:
        case SwitchShape::CountFile: {
            step.writesFile = true;
            const bool count = step.what->shape == SwitchShape::CountFile;
            if (!next.isEmpty() && !IsSwitch(i + 1) &&
                (count || next != QLatin1String("filter:") || i + 1 >= m_r.switchesEnd))
                step.outputFile = ++i;
            if (!Has(i + 1)) return;
            if (Word(i + 1) == QLatin1String("filter:") && i + 1 < m_r.switchesEnd) {
                ++i;
                step.malformed = !FilterWords(i);
            } else if (!IsSwitch(i + 1)) {
                step.malformed = true;
            }
            return;
        }
        case SwitchShape::InputFile:
            if (Has(i + 1)) ++i;
            else step.malformed = true;
            return;
        case SwitchShape::InputFiles: {
            QString first, second;
            step.malformed = ParseFileNames(i, m_r.words, &first, &second, End()) == 0;
            return;
        }
        case SwitchShape::InfoTable: {
            if (!Has(i + 1) || (i + 1 < m_r.switchesEnd && IsKnownSwitch(next))) {
                step.malformed = true;
                return;
            }
            const int name = ++i;
            const QString option = Word(i + 1);
            if (option == QLatin1String("-s")) {
                ++i;
                return;
            }
            step.writesFile = true;
            if (!m_r.words[name].isEmpty()) step.outputFile = name;
            if (option == QLatin1String("-r")) ++i;
            else if (Has(i + 1) && !IsSwitch(i + 1)) step.malformed = true;
            return;
        }
        case SwitchShape::OptionalFilterWords:
            if (!next.isEmpty() && !IsSwitch(i + 1)) step.malformed = !FilterWords(i);
            return;
        case SwitchShape::FilterWords: step.malformed = !FilterWords(i); return;
        case SwitchShape::PairingCode:
            if (Has(i + 1) && !IsSwitch(i + 1)) ++i;
            return;
        }
    }

    BatchReading m_r;
};

}  // namespace

const QList<BatchSwitch>& BatchSwitches() {
    static const QList<BatchSwitch> all = MakeSwitches();
    return all;
}

const BatchSwitch* FindBatchSwitch(const QString& word) {
    for (const BatchSwitch& s : BatchSwitches())
        if (s.name == word) return &s;
    return nullptr;
}

QString DefaultOutputFile(const QString& switchName) {
    const BatchSwitch* s = FindBatchSwitch(switchName);
    return s ? s->defaultOutputFile : QString();
}

BatchReading ReadBatch(const QStringList& arguments) { return CReader(arguments).Run(); }

LoaderOptionCheck CheckLoaderOptions(const QStringList& arguments) {
    LoaderOptionCheck check;
    // The information switches as every program of the package takes them.
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& word = arguments[i];
        if (word == QLatin1String("--")) break;
        if (word == QLatin1String("--help") || word == QLatin1String("-h")) {
            check.kind = LoaderOptionCheck::Kind::Help;
            return check;
        }
        if (word == QLatin1String("--version") || word == QLatin1String("-V")) {
            check.kind = LoaderOptionCheck::Kind::Version;
            return check;
        }
    }
    // Up to the first step whose words do not fit: the batch ends there anyway.
    const BatchReading reading = ReadBatch(arguments);
    for (const BatchStep& step : reading.steps) {
        if (step.malformed) break;
        if (step.what && step.what->shape == SwitchShape::Alone &&
            (step.what->name == QLatin1String("/h") || step.what->name == QLatin1String("/?")))
            break;  // the help ends the batch: nothing after it is read
        const QString& word = reading.words[step.first];
        if (!step.what && step.first < reading.switchesEnd && word.startsWith(QLatin1Char('-')) && word.size() > 1) {
            check.kind = LoaderOptionCheck::Kind::UnknownOption;
            check.word = word;
            return check;
        }
    }
    return check;
}
