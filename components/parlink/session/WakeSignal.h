#pragma once
// A descriptor one thread makes readable to end another's poll early: the
// session's caller wakes its I/O thread when it queues something, instead of
// leaving it asleep until its next time-out. Where the system has no such
// descriptor, Fd() is -1 and the waiting thread sleeps out its time.

class CWakeSignal {
public:
    CWakeSignal();
    ~CWakeSignal();
    CWakeSignal(const CWakeSignal&) = delete;
    CWakeSignal& operator=(const CWakeSignal&) = delete;

    // Readable from Signal until Drain; -1 where there is none.
    int Fd() const { return m_read; }
    void Signal();
    void Drain();

private:
    int m_read = -1;
    int m_write = -1;  // the same as m_read for an eventfd
};
