#pragma once
// What tells the folder watcher that something in one folder changed: file
// creation, deletion and renaming, size and write-time changes of the files
// directly in it (not in subfolders). On Linux the kernel's inotify reports
// them as they happen; elsewhere the folder is compared with its previous
// listing four times a second.

#include "platform/Threading.h"

#include <QString>

#include <memory>

// The change kinds the watcher can be asked for (bit values of the Windows
// change filter the settings have always used).
namespace FolderChange {
inline constexpr unsigned kFileName = 1;   // created, deleted, renamed
inline constexpr unsigned kSize = 8;
inline constexpr unsigned kLastWrite = 16;
}  // namespace FolderChange

class IFolderChangeSource {
public:
    enum class Wake { Stopped, Changed, Failed };
    virtual ~IFolderChangeSource() = default;
    // Blocks until `stop` is set or a change arrives; every change that
    // arrived before the call is reported at once and then forgotten.
    virtual Wake Wait(CStopEvent& stop) = 0;
};

// Null when the folder cannot be watched (it does not exist).
std::unique_ptr<IFolderChangeSource> OpenFolderChangeSource(const QString& folder, unsigned filter);
// The portable listing comparison, whatever the platform offers.
std::unique_ptr<IFolderChangeSource> OpenPollingFolderChangeSource(const QString& folder, unsigned filter);
