#include "platform/FFCNotify.h"

CFFCNotify::~CFFCNotify() { Stop(); }

void CFFCNotify::SetFolder(const QString& folder, bool watchSubfolders, unsigned filter) {
    bool changed = false;
    {
        std::lock_guard guard(m_lock);
        changed = folder != m_folder || watchSubfolders != m_watchSubfolders || filter != m_filter;
        m_folder = folder;
        m_watchSubfolders = watchSubfolders;
        m_filter = filter;
    }
    if (changed && IsRunning()) {
        Stop();
        Start();
    }
}

QString CFFCNotify::Folder() const {
    std::lock_guard guard(m_lock);
    return m_folder;
}

int CFFCNotify::Run() {
    QString folder;
    unsigned filter = 0;
    {
        std::lock_guard guard(m_lock);
        folder = m_folder;
        filter = m_filter;
    }
    const auto source = OpenFolderChangeSource(folder, filter);
    if (!source) return 1;
    Ready();
    for (;;) {
        switch (source->Wait(StopEvent())) {
        case IFolderChangeSource::Wake::Stopped:
        case IFolderChangeSource::Wake::Failed:
            return 0;
        case IFolderChangeSource::Wake::Changed:
            break;
        }
        Notify();
        // Changes of the quiet time wait in the source and come as one.
        if (StopEvent().Wait(kQuietTimeMs)) return 0;
    }
}
