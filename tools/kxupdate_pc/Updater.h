#pragma once
// kxupdate_pc: sends one file to the terminal over the link component.
//
//   kxupdate_pc /p PORT /u FILE REMOTE
//
// The file goes to the terminal with the file-transfer commands of the link
// (see docs/config-upload.md): "FPB" + the remote path, the content in base64
// data texts, "FPE" + "<size>;<crc32 hex>", and the terminal's answer
// "OK;<size>" or "ERR;<n>;<text>". The terminal stores the file only when it
// arrived whole. The exit code tells what happened (UpdaterExit).

#include "exchange/ExchangeCodes.h"

#include <QString>
#include <QStringList>

class IParlinkX2;
class QTextStream;

// 0-4 are the exchange's own codes for opening a session and talking on it
// (the session's result is the exit code as it stands); the rest are the
// updater's own.
namespace UpdaterExit {
inline constexpr int kOk = ExchangeCode::kOk;
inline constexpr int kComponentNotRegistered = ExchangeCode::kComponentNotRegistered;
inline constexpr int kComponentNotCreated = ExchangeCode::kComponentNotCreated;
inline constexpr int kPortNotOpened = ExchangeCode::kPortNotOpened;
inline constexpr int kNoAnswer = ExchangeCode::kNoAnswer;  // also an answer that makes no sense
inline constexpr int kFileUnreadable = 5;          // the local file cannot be read
inline constexpr int kRefused = 6;                 // the terminal did not store the file
inline constexpr int kBadArguments = 9;
}  // namespace UpdaterExit

struct UpdaterArguments {
    QString port;
    QString file;
    QString remote;
};

// Reads "/p PORT /u FILE REMOTE" (switches in either order, "/" or "-",
// any case). The command line is split at blanks by whoever started us, so a
// port or a local path with blanks in it arrives as several words: the words
// of /p make the port, those of /u all but the last the file, the last one the
// remote path (which never has blanks). False with `error` set when the
// arguments do not fit.
bool ParseUpdaterArguments(const QStringList& arguments, UpdaterArguments* result, QString* error);

// How long the updater waits for the terminal.
inline constexpr int kUpdaterWaitLinkMs = 3000;
// How many empty answers to the final check it accepts before giving up, and
// the pause between them: the component's own time-outs bound each Receive.
inline constexpr int kUpdaterAnswerTries = 20;
inline constexpr int kUpdaterAnswerPauseMs = 250;
// Bytes of the file a data text carries (4096 characters of base64).
inline constexpr int kUpdaterChunkBytes = 3072;

// Sends `content` to the terminal as `remote` on an open link. Returns kOk,
// kNoAnswer or kRefused; `log` gets one line on failure.
int SendFileOverLink(IParlinkX2& link, const QByteArray& content, const QString& remote, QString* log);

// The whole run after the arguments: reads the file, creates the component
// (ComponentRegistry), opens the port ("USB" mapped as everywhere), checks the
// link, sends, closes. `log` receives the line to print.
int RunUpdater(const UpdaterArguments& arguments, QString* log);
