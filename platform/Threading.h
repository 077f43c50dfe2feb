#pragma once
// A worker thread with a stop event and a thread-safe notification, the base
// of the folder watcher. The routine runs on its own thread and may only reach
// windows through Notify(), which posts a call to the user-interface thread.

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// A manual-reset event: once set it stays set until Reset(). On Linux it also
// has a descriptor that polls readable while set, so a routine can wait for
// it together with other descriptors.
class CStopEvent {
public:
    CStopEvent();
    ~CStopEvent();
    CStopEvent(const CStopEvent&) = delete;
    CStopEvent& operator=(const CStopEvent&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;
    // True when the event is (or becomes) set within `ms` milliseconds.
    bool Wait(int ms);
    // Readable while set; -1 where the platform has no such descriptor.
    int Descriptor() const { return m_fd; }

private:
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_set = false;
    int m_fd = -1;
};

class CThreading {
public:
    CThreading() = default;
    // Stops the thread; a derived class must stop it in its own destructor,
    // before the routine's object is gone.
    virtual ~CThreading();
    CThreading(const CThreading&) = delete;
    CThreading& operator=(const CThreading&) = delete;

    // Resets the stop event and starts the routine on a new thread (a thread
    // that is still running is left as it is). With the ready handshake on,
    // returns only once the routine has called Ready() or has ended.
    bool Start();
    // Sets the stop event and waits, without a time limit, for the thread.
    void Stop();
    // The thread exists and its routine has not returned.
    bool IsRunning() const;

    // Where Notify() delivers: `handler` runs on `target`'s thread. The
    // target must outlive the thread or be cleared first.
    void SetNotifyWindow(QObject* target, std::function<void()> handler);
    // Posts the handler to its target (never waits for it).
    void Notify();

protected:
    // The thread routine; its return value ends the thread.
    virtual int Run() = 0;
    CStopEvent& StopEvent() { return m_stop; }
    // For a routine that must be set up before Start() returns (a watcher
    // whose watch must be in place before anybody writes).
    void UseReadyHandshake() { m_handshake = true; }
    void Ready();

private:
    CStopEvent m_stop;
    std::thread m_thread;
    std::atomic<bool> m_finished{true};
    bool m_handshake = false;
    std::mutex m_readyLock;
    std::condition_variable m_readyChanged;
    bool m_ready = false;
    std::mutex m_notifyLock;
    QObject* m_target = nullptr;
    std::function<void()> m_handler;
};
