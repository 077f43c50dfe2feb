#include "platform/Threading.h"

#include <QMetaObject>

#include <chrono>

#ifdef Q_OS_LINUX
#include <sys/eventfd.h>
#include <unistd.h>
#endif

CStopEvent::CStopEvent() {
#ifdef Q_OS_LINUX
    m_fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
#endif
}

CStopEvent::~CStopEvent() {
#ifdef Q_OS_LINUX
    if (m_fd >= 0) ::close(m_fd);
#endif
}

void CStopEvent::Set() {
    std::lock_guard guard(m_lock);
    if (m_set) return;
    m_set = true;
#ifdef Q_OS_LINUX
    if (m_fd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(m_fd, &one, sizeof one);
    }
#endif
    m_changed.notify_all();
}

void CStopEvent::Reset() {
    std::lock_guard guard(m_lock);
    m_set = false;
#ifdef Q_OS_LINUX
    if (m_fd >= 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto read = ::read(m_fd, &count, sizeof count);
    }
#endif
}

bool CStopEvent::IsSet() const {
    std::lock_guard guard(m_lock);
    return m_set;
}

bool CStopEvent::Wait(int ms) {
    std::unique_lock guard(m_lock);
    if (ms < 0) {
        m_changed.wait(guard, [this] { return m_set; });
        return true;
    }
    return m_changed.wait_for(guard, std::chrono::milliseconds(ms), [this] { return m_set; });
}

CThreading::~CThreading() { Stop(); }

bool CThreading::Start() {
    if (m_thread.joinable()) {
        if (IsRunning()) return true;
        m_thread.join();
    }
    m_stop.Reset();
    m_finished = false;
    {
        std::lock_guard guard(m_readyLock);
        m_ready = false;
    }
    m_thread = std::thread([this] {
        Run();
        m_finished = true;
        Ready();
    });
    if (m_handshake) {
        std::unique_lock guard(m_readyLock);
        m_readyChanged.wait(guard, [this] { return m_ready; });
    }
    return true;
}

void CThreading::Ready() {
    std::lock_guard guard(m_readyLock);
    m_ready = true;
    m_readyChanged.notify_all();
}

void CThreading::Stop() {
    m_stop.Set();
    if (m_thread.joinable()) m_thread.join();
}

bool CThreading::IsRunning() const { return m_thread.joinable() && !m_finished; }

void CThreading::SetNotifyWindow(QObject* target, std::function<void()> handler) {
    std::lock_guard guard(m_notifyLock);
    m_target = target;
    m_handler = std::move(handler);
}

void CThreading::Notify() {
    QObject* target = nullptr;
    std::function<void()> handler;
    {
        std::lock_guard guard(m_notifyLock);
        target = m_target;
        handler = m_handler;
    }
    // Posted, never sent: the watcher must not wait for the window.
    if (target && handler) QMetaObject::invokeMethod(target, std::move(handler), Qt::QueuedConnection);
}
