#pragma once
// The grammar of kxloader's batch in one place: its switches, which words
// each takes, the file each writes and the name it gets when none is given,
// and the result codes of a batch that cannot be read. The batch itself
// (CommandLine.cpp) and every program that prepares a batch for kxloader
// (kxsync) read the words through it, so a word means the same to both; a new
// directory kind's switch comes from the directory kinds' table alone.

#include <QList>
#include <QString>
#include <QStringList>

// Result codes of the batch's own words.
inline constexpr int kCommandLineSyntaxError = 100;   // a switch's words do not fit it
inline constexpr int kCommandLineUnknownSwitch = 105;  // a word that is no switch, or an unknown option
inline constexpr int kCommandLineConfigurationNotOpened = 150;

// What follows a switch.
enum class SwitchShape {
    Alone,                // /c, and /h /? (which end the batch)
    OptionalOutputFile,   // /i /x: [file]
    JournalFile,          // /j: [file] ["filter:" words]; "filter:" right after it starts the filters
    CountFile,            // /n: as /j, but "filter:" right after it is the file's name
    InputFile,            // a directory kind's switch with one file: file (required)
    InputFiles,           // a directory kind's switch with two: file [file2]
    InfoTable,            // /q: file [-r | -s]; written unless -s
    OptionalFilterWords,  // /f: [words]
    FilterWords,          // /s: words (required)
    PairingCode,          // /pair: [code | -]
};

struct BatchSwitch {
    QString name;
    SwitchShape shape;
    // The name of the file the switch writes when the batch gives none
    // (empty for switches that write nothing).
    QString defaultOutputFile;
};

// Every switch, in the help's order; the directory kinds' switches from
// their table.
const QList<BatchSwitch>& BatchSwitches();
// The switch `word` is (compared exactly), or null.
const BatchSwitch* FindBatchSwitch(const QString& word);
QString DefaultOutputFile(const QString& switchName);

// One switch of a batch with the words it takes, or one word that is no switch.
struct BatchStep {
    int first = 0;                 // the switch's (or the stray word's) index
    int last = 0;                  // the last word the step takes
    const BatchSwitch* what = nullptr;  // null: a word that is no switch (105)
    int outputFile = -1;           // the index of the name of the file written; -1: none given
    bool writesFile = false;       // the step writes a file (named at outputFile, or its default)
    bool malformed = false;        // its words do not fit it: the batch ends there with 100
};

struct BatchReading {
    QStringList words;             // the arguments, program first, without the "--"
    int switchesEnd = 0;           // index of the first word that came after "--" (words.size() without one)
    QList<BatchStep> steps;
};

// Reads `arguments` (the program's name first) as the batch will.
BatchReading ReadBatch(const QStringList& arguments);

// The information switches and options of the command line, before anything
// is opened: -h/--help and -V/--version anywhere before "--"; any other word
// that starts with '-' where a switch is expected is an unknown option.
struct LoaderOptionCheck {
    enum class Kind { None, Help, Version, UnknownOption } kind = Kind::None;
    QString word;  // the unknown option
};
LoaderOptionCheck CheckLoaderOptions(const QStringList& arguments);
