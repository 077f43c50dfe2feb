#pragma once
// The result codes the exchange routines return (0 = no error). Their texts for
// the report file are kept with the rest of the application's codes
// (ResultCodeText); the exchange code only needs the numbers.

namespace ExchangeCode {

inline constexpr int kOk = 0;
inline constexpr int kComponentNotRegistered = 1;  // no registry entry for the component
inline constexpr int kComponentNotCreated = 2;     // library or factory failed
inline constexpr int kPortNotOpened = 3;
inline constexpr int kNoAnswer = 4;                // link check or any later send/receive failed
inline constexpr int kSyncTimeout = 5;             // no synchronisation answer after an upload
inline constexpr int kTerminalBusy = 6;            // the terminal serves another program's session
inline constexpr int kJournalFileNotCreated = 10;
inline constexpr int kTerminalFileNotCreated = 11;  // /i output file (command line)
inline constexpr int kJournalShort = 12;           // fewer journal lines than announced

// Directory upload: a directory's file cannot be opened (20-26) or read
// (30-36): each kind's two codes stand in its row of the directory kinds'
// table (directories/DirectoryKind.h). The info table's:
inline constexpr int kReadInfo = 40;
inline constexpr int kOpenInfo = 59;

inline constexpr int kJournalEmpty = 50;
inline constexpr int kTerminalNotReady = 55;
inline constexpr int kFirmwareTooOld = 57;         // terminal program older than 4.3.5
inline constexpr int kInfoFileNotCreated = 69;
inline constexpr int kBadSyncAnswer = 110;         // rejection answer with too few fields
inline constexpr int kRejectedBase = 200;          // 200 + the terminal's rejection number

}  // namespace ExchangeCode
