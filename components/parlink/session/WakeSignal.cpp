#include "components/parlink/session/WakeSignal.h"

#include <cerrno>
#include <cstdint>

#if defined(__linux__)
#include <sys/eventfd.h>
#include <unistd.h>
#elif !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

CWakeSignal::CWakeSignal() {
#if defined(__linux__)
    m_read = m_write = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
#elif !defined(_WIN32)
    int fds[2];
    if (::pipe(fds) == 0) {
        for (const int fd : fds) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        m_read = fds[0];
        m_write = fds[1];
    }
#endif
}

CWakeSignal::~CWakeSignal() {
#if !defined(_WIN32)
    if (m_write >= 0 && m_write != m_read) ::close(m_write);
    if (m_read >= 0) ::close(m_read);
#endif
}

void CWakeSignal::Signal() {
#if !defined(_WIN32)
    if (m_write < 0) return;
    // An eventfd takes eight bytes, a pipe one; a full pipe is readable already.
    const std::uint64_t one = 1;
    ssize_t n;
    do {
        n = ::write(m_write, &one, m_write == m_read ? sizeof one : 1);
    } while (n < 0 && errno == EINTR);
#endif
}

void CWakeSignal::Drain() {
#if !defined(_WIN32)
    if (m_read < 0) return;
    char bytes[64];
    while (::read(m_read, bytes, sizeof bytes) > 0) {
    }
#endif
}
