#include "platform/FolderChangeSource.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>

#ifdef Q_OS_LINUX
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

// ---------------------------------------------------------------- polling

class CPollingSource : public IFolderChangeSource {
public:
    CPollingSource(const QString& folder, unsigned filter) : m_folder(folder), m_filter(filter) {
        m_listing = List();
    }
    bool Exists() const { return QFileInfo(m_folder).isDir(); }

    Wake Wait(CStopEvent& stop) override {
        for (;;) {
            if (stop.Wait(kPeriodMs)) return Wake::Stopped;
            if (!Exists()) return Wake::Failed;
            Listing now = List();
            const bool changed = now != m_listing;
            m_listing = std::move(now);
            if (changed) return Wake::Changed;
        }
    }

private:
    static constexpr int kPeriodMs = 250;
    using Listing = QHash<QString, QPair<qint64, qint64>>;  // name -> size, write time

    Listing List() const {
        Listing listing;
        const QFileInfoList files = QDir(m_folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
        for (const QFileInfo& file : files) {
            const qint64 size = (m_filter & FolderChange::kSize) ? file.size() : 0;
            const qint64 written =
                (m_filter & FolderChange::kLastWrite) ? file.lastModified().toMSecsSinceEpoch() : 0;
            listing.insert(file.fileName(), {size, written});
        }
        return listing;
    }

    QString m_folder;
    unsigned m_filter;
    Listing m_listing;
};

// ---------------------------------------------------------------- inotify

#ifdef Q_OS_LINUX
class CInotifySource : public IFolderChangeSource {
public:
    ~CInotifySource() override {
        if (m_fd >= 0) ::close(m_fd);
    }

    bool Open(const QString& folder, unsigned filter) {
        m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_fd < 0) return false;
        uint32_t mask = IN_ONLYDIR | IN_DELETE_SELF | IN_MOVE_SELF;
        if (filter & FolderChange::kFileName) mask |= IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
        if (filter & FolderChange::kSize) mask |= IN_MODIFY;
        // A finished write and a changed time stamp (touch) both move the write time.
        if (filter & FolderChange::kLastWrite) mask |= IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB;
        return ::inotify_add_watch(m_fd, QFile::encodeName(folder).constData(), mask) >= 0;
    }

    Wake Wait(CStopEvent& stop) override {
        if (m_gone) return Wake::Failed;
        pollfd fds[2] = {{stop.Descriptor(), POLLIN, 0}, {m_fd, POLLIN, 0}};
        for (;;) {
            fds[0].revents = fds[1].revents = 0;
            const int ready = ::poll(fds, 2, -1);
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0 || (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL))) return Wake::Failed;
            if (fds[0].revents & POLLIN) return Wake::Stopped;
            if (fds[1].revents & POLLIN) break;
        }
        Drain();
        return Wake::Changed;
    }

private:
    // Reads every queued event: however many arrived, they make one change.
    void Drain() {
        alignas(inotify_event) char buffer[8192];
        for (;;) {
            const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
            if (got <= 0) return;
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                // The folder itself went away: this change is the last one.
                if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) m_gone = true;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

    int m_fd = -1;
    bool m_gone = false;
};
#endif

}  // namespace

std::unique_ptr<IFolderChangeSource> OpenPollingFolderChangeSource(const QString& folder, unsigned filter) {
    auto source = std::make_unique<CPollingSource>(folder, filter);
    if (folder.isEmpty() || !source->Exists()) return nullptr;
    return source;
}

std::unique_ptr<IFolderChangeSource> OpenFolderChangeSource(const QString& folder, unsigned filter) {
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) return nullptr;
#ifdef Q_OS_LINUX
    auto source = std::make_unique<CInotifySource>();
    if (source->Open(folder, filter)) return source;
#endif
    return OpenPollingFolderChangeSource(folder, filter);
}
