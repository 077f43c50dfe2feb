#include "tools/kxterminal/TerminalLine.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

namespace {

void MakeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return;
    cfmakeraw(&t);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &t);
}

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

class CPtyLine final : public CTerminalLine {
public:
    ~CPtyLine() override {
        if (m_slave >= 0) ::close(m_slave);
        if (m_master >= 0) ::close(m_master);
    }
    bool Open(QString* error) {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
            *error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        char name[256] = {};
        if (ptsname_r(m_master, name, sizeof name) != 0) {
            *error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        m_name = QString::fromLocal8Bit(name);
        MakeRaw(m_master);
        m_slave = ::open(name, O_RDWR | O_NOCTTY);
        if (m_slave < 0) {
            *error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        // The line discipline's settings belong to the slave side: no echo,
        // no line editing, no translation of CR or LF.
        MakeRaw(m_slave);
        SetNonBlocking(m_master);
        return true;
    }
    int DataFd() const override { return m_master; }
    QString PortName() const override { return m_name; }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_name;
};

class CSocketLine final : public CTerminalLine {
public:
    ~CSocketLine() override {
        Disconnect();
        if (m_listen >= 0) {
            ::close(m_listen);
            ::unlink(QFile::encodeName(m_path).constData());
        }
    }
    bool Open(const QString& name, QString* error) {
        m_name = name;
        m_path = QDir::isAbsolutePath(name) ? name : QDir::tempPath() + QLatin1Char('/') + name;
        const QByteArray path = QFile::encodeName(m_path);
        sockaddr_un addr{};
        if (path.size() >= static_cast<qsizetype>(sizeof addr.sun_path)) {
            *error = QStringLiteral("socket path too long");
            return false;
        }
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, path.constData(), static_cast<size_t>(path.size()));
        ::unlink(path.constData());
        m_listen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(m_listen, 4) != 0) {
            *error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        SetNonBlocking(m_listen);
        return true;
    }
    bool IsSocket() const override { return true; }
    int DataFd() const override { return m_conn; }
    int ListenFd() const override { return m_listen; }
    bool Accept() override {
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return false;
        Disconnect();
        m_conn = fd;
        return true;
    }
    void Disconnect() override {
        if (m_conn >= 0) ::close(m_conn);
        m_conn = -1;
    }
    QString PortName() const override { return QStringLiteral("local:") + m_name; }

private:
    int m_listen = -1;
    int m_conn = -1;
    QString m_name;
    QString m_path;
};

}  // namespace

std::unique_ptr<CTerminalLine> CTerminalLine::OpenPty(QString* error) {
    auto line = std::make_unique<CPtyLine>();
    if (!line->Open(error)) return nullptr;
    return line;
}

std::unique_ptr<CTerminalLine> CTerminalLine::Listen(const QString& name, QString* error) {
    auto line = std::make_unique<CSocketLine>();
    if (!line->Open(name, error)) return nullptr;
    return line;
}

namespace {

// A pseudo-terminal's master reads EIO while no program has the slave open:
// the line is there, only nobody is on it.
bool Transient(int error) { return error == EAGAIN || error == EINTR || error == EIO; }

}  // namespace

qint64 CTerminalLine::Read(char* data, qint64 size) {
    const ssize_t n = ::read(DataFd(), data, static_cast<size_t>(size));
    if (n > 0) return n;
    return n < 0 && Transient(errno) ? 0 : -1;
}

qint64 CTerminalLine::Write(const char* data, qint64 size) {
    const ssize_t n = ::write(DataFd(), data, static_cast<size_t>(size));
    if (n >= 0) return n;
    return Transient(errno) ? 0 : -1;
}

CPacer::CPacer(int baud) {
    if (baud > 0) {
        m_rate = baud / 10.0 / 1000.0;
        // About 50 ms of line time may pass at once, at least one byte: a
        // real port's driver and UART keep sending while the process waits for
        // the processor, so a late wake-up on a busy machine must not cost
        // line time; over a run the rate stays the line's.
        m_burst = std::max(1.0, m_rate * 50.0);
        m_idleBurst = std::max(1.0, m_rate * 10.0);
    }
}

void CPacer::Idle(std::int64_t nowMs) {
    if (!Enabled()) return;
    Allowance(nowMs);
    m_tokens = std::min(m_tokens, m_idleBurst);
}

qint64 CPacer::Allowance(std::int64_t nowMs) {
    if (!Enabled()) return std::numeric_limits<qint64>::max();
    if (m_last < 0) {
        m_last = nowMs;
        m_tokens = m_idleBurst;
    }
    m_tokens = std::min(m_burst, m_tokens + (nowMs - m_last) * m_rate);
    m_last = nowMs;
    return static_cast<qint64>(std::floor(m_tokens));
}

void CPacer::Consume(qint64 bytes) {
    if (Enabled()) m_tokens -= static_cast<double>(bytes);
}

std::int64_t CPacer::NextAllowanceMs(std::int64_t nowMs) const {
    if (!Enabled() || m_tokens >= 1.0) return nowMs;
    return nowMs + static_cast<std::int64_t>(std::ceil((1.0 - m_tokens) / m_rate));
}
