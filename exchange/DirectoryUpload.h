#pragma once
// Uploading reference directories (and the info table) to the terminal.

#include "directories/DirectoryCodePage.h"
#include "directories/DirectoryKind.h"
#include "exchange/ExchangeProgress.h"
#include "exchange/ParlinkComponent.h"
#include "exchange/StagedDownload.h"
#include "platform/CodePage.h"

#include <QString>

#include <array>
#include <atomic>

class CParlinkSession;

// What to upload, in upload order: every directory file kind by its code
// (DirectoryKind), then the info table, which is no directory kind.
inline constexpr int UploadInfo = kDirectoryKindCount;
inline constexpr int kUploadItemCount = kDirectoryKindCount + 1;

// One upload (a progress window's worker or a command-line run). The flags may
// be set from another thread while an upload runs: the upload takes a flag that
// was set again in one of its later passes.
class UploadSelection {
public:
    bool showMessages = true;    // error boxes and progress notifications
    QString caption;             // caption of the error boxes
    IExchangeProgress* progressWindow = nullptr;  // none from the command line
    // The terminal's message when it rejected the last upload, else empty.
    QString DiagnosticText;
    // After a failure: one line a person can act on (port, file, the
    // terminal's words).
    QString failureDetail;
    // Records sent of all selected files (or info records received), shown
    // whatever showMessages says; none by default.
    ITransferProgress* transferProgress = nullptr;
    // Code page of the directory files: the program's directory code page when
    // the selection is made. The info file is Windows-1251, as the info
    // download writes it. A file found to be UTF-8 is read as UTF-8 either way
    // (DirectoryEncoding.h).
    CodePage::CCodec codec = DirectoryCodec();
    // How long the info download waits for another run writing the same file.
    int busyFileWaitMs = kDefaultBusyFileWaitMs;

    void Select(int item, bool on = true);
    bool IsSelected(int item) const;
    int SelectedCount() const;
    // Clears the flag of `item` and tells whether it was set.
    bool Take(int item);

private:
    std::array<std::atomic<int>, kUploadItemCount> m_flags{};
};

// Uploads every selected directory from its current DirectoryFiles path (the
// info table from the info path) in one session and waits for the terminal to
// confirm. Clears the flag of each directory it takes. Returns 0, 1-5, 20-26,
// 30-36, 40, 59, 110 or 200 + the terminal's rejection number (ExchangeCodes.h).
int UploadDirectories(UploadSelection& selection, const QString& port);

// Sends one record as pieces of `chunkLength` characters (a record whose length
// is a multiple of the piece length ends with an empty piece). 0 or 4.
inline constexpr int kRecordChunkLength = 200;
int SendRecord(const QString& text, int chunkLength, IParlinkX2& link, bool showMessages,
               IExchangeProgress* progress = nullptr);
// The same for a record in Windows-1251 (one byte a character), sent as its
// bytes where the component takes them (CParlinkSession::SendDataWindows1251).
int SendRecordWindows1251(QByteArrayView bytes, int chunkLength, CParlinkSession& session, bool showMessages,
                          IExchangeProgress* progress = nullptr);
