#pragma once
// The folder watcher of the main window: a thread that watches one folder and
// posts a notification to the window whenever something in it changed, at
// most once per 500 ms however many changes arrive. Start() returns once the
// watch is in place, so no change made after it is missed. A folder that does
// not exist ends the thread at once.

#include "platform/FolderChangeSource.h"
#include "platform/Threading.h"

#include <QString>

#include <mutex>

class CFFCNotify : public CThreading {
public:
    CFFCNotify() { UseReadyHandshake(); }
    ~CFFCNotify() override;

    // Stores the folder, the subfolder flag (only the folder itself is
    // watched on every platform) and the change filter (FolderChange bits).
    // When any of them changed and the watcher is running it restarts on the
    // new values; a watcher that is not running stays stopped.
    void SetFolder(const QString& folder, bool watchSubfolders, unsigned filter);
    QString Folder() const;

    static constexpr int kQuietTimeMs = 500;

protected:
    int Run() override;

private:
    mutable std::mutex m_lock;
    QString m_folder;
    bool m_watchSubfolders = false;
    unsigned m_filter = FolderChange::kFileName;
};
