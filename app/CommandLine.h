#pragma once
// The command-line batch: kxloader /x /j journal.txt filter: o=3 /o ops.txt ...
// Switches are processed left to right against the remembered project; the
// run stops at the first switch that fails and leaves one result code (the
// process exit code, and the report file line when /x came first).

#include "exchange/JournalExchange.h"

#include <QString>
#include <QStringList>

#include <limits>

class CKXConfigApp;

// What the batch needs of the configuration.
class ICommandLineConfiguration {
public:
    virtual ~ICommandLineConfiguration() = default;
    // Opens the template and the remembered project; false when either fails
    // (its messages go to standard error).
    virtual bool LoadConfigFileFMT() = 0;
    virtual bool IsUploadJournalIdOn() = 0;
};

// Which fields of a FilterSet the words named (the /s switch sends only those).
struct FilterWordsGiven {
    bool operation = false;
    bool executor = false;
    bool address = false;
    bool document = false;
    bool ware = false;
    bool barcode = false;
};

// Words from index `switchesEnd` on came after "--": none of them is a switch.
inline constexpr int kNoSwitchesEnd = std::numeric_limits<int>::max();

// Reads filter words starting after `index` ("o=3", "e=7", "a=1", "d=12",
// "w=TEXT", "b=TEXT"; the second character is skipped whatever it is) until
// the list ends or the next word looks like a switch. Leaves `index` on the
// last word read. False on a word with another first letter, an empty word,
// or no word at all.
bool ParseFilterWords(int& index, const QStringList& arguments, FilterSet& filters,
                      FilterWordsGiven* given = nullptr, int switchesEnd = kNoSwitchesEnd);

// The first name is the next word whatever it is; a second name follows unless
// the list ends or the word after looks like a switch. Leaves `index` on the
// last name. Returns 1 or 2, or 0 when there is no next word at all.
int ParseFileNames(int& index, const QStringList& arguments, QString* first, QString* second,
                   int switchesEnd = kNoSwitchesEnd);

// One of the switches of the help: /h /? /j /n /i /c /o /e /a /d /w /q /s /f /x.
bool IsKnownSwitch(const QString& word);
// A word looks like a switch when it starts with '/', unless it names a path
// on Linux, where every absolute path starts with '/': a word with a second
// '/' that is no known switch is a file name (/home/u/wares.ux7).
bool LooksLikeSwitch(const QString& word);
// "--" ends the switches: every word after it is a name, whatever it looks
// like. Removes the first "--" after the program name and returns the index
// the words after it now start at (kNoSwitchesEnd without one).
int TakeEndOfSwitches(QStringList& arguments);

// Where a journal filter reset that could not be sent is remembered: beside
// the loader settings, so every settings file (every terminal) has its own.
// The note of owed filter resets that earlier versions kept beside the
// settings file (read once more, never written).
QString FilterResetMarkerFile(const QString& loaderSettings);

// The help text of /h and /?.
QString CommandLineHelpText();
inline constexpr const char* kHelpCaption = "Справка по параметрам командной строки";

// Runs the whole batch of `arguments` (the program path first) and leaves the
// result in app.ResultCode (and app.ReportFilePath / app.DiagnosticText). A
// failure also leaves one line on standard error (through the prompt, caption
// "kxloader") that says what to look at; long transfers show their progress
// there when it is a terminal.
void RunCommandLine(CKXConfigApp& app, ICommandLineConfiguration& configuration,
                    const QStringList& arguments);
