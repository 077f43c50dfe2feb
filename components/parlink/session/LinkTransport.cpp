#include "components/parlink/session/LinkTransport.h"

#include "components/parlink/session/TcpTransport.h"

#include <QFile>
#include <QLocalSocket>
#include <QSerialPort>

#include <unistd.h>

namespace {

class CSerialTransport final : public ILinkTransport {
public:
    CSerialTransport(const QString& device, const CTransportOptions& options)
        : m_device(device), m_options(options) {}

    bool Open(QString* error) override {
        m_port.setPortName(m_device);
        if (!m_port.open(QIODevice::ReadWrite)) {
            if (error) *error = m_port.errorString();
            // Refused although we may read and write it: another program
            // holds the port's lock, which is a terminal busy with it.
            m_inUse = m_port.error() == QSerialPort::PermissionError &&
                      ::access(QFile::encodeName(m_device).constData(), R_OK | W_OK) == 0;
            return false;
        }
        // Raw 8N1 without flow control; a pseudo-terminal ignores the speed.
        m_port.setBaudRate(m_options.baudRate);
        m_port.setDataBits(QSerialPort::Data8);
        m_port.setParity(QSerialPort::NoParity);
        m_port.setStopBits(QSerialPort::OneStop);
        m_port.setFlowControl(QSerialPort::NoFlowControl);
        // Whatever an earlier session left in the buffers is not ours.
        m_port.clear(QSerialPort::AllDirections);
        m_port.clearError();
        return true;
    }
    void Close() override {
        if (m_port.isOpen()) m_port.close();
    }
    void Write(const QByteArray& bytes) override {
        if (!m_port.isOpen()) return;
        // Written by the next wait, which writes only when the device takes
        // bytes (an explicit flush on a full line reports EAGAIN as an error).
        m_port.write(bytes);
    }
    qint64 PendingWrite() const override { return m_port.bytesToWrite(); }
    QByteArray Wait(int ms) override {
        if (!m_port.isOpen() || m_broken) return QByteArray();
        if (m_port.bytesAvailable() == 0) {
            m_port.waitForReadyRead(ms);
            Check();
        }
        return m_port.readAll();
    }
    bool Broken() const override { return m_broken; }
    QString ErrorText() const override { return m_errorText; }

    bool InUse() const override { return m_inUse; }

private:
    bool m_inUse = false;
    void Check() {
        const auto e = m_port.error();
        if (e == QSerialPort::NoError) return;
        if (e == QSerialPort::TimeoutError) {
            m_port.clearError();
            return;
        }
        if (!m_broken) {
            m_broken = true;
            m_errorText = m_port.errorString();
        }
    }

    QString m_device;
    CTransportOptions m_options;
    QSerialPort m_port;
    bool m_broken = false;
    QString m_errorText;
};

class CLocalTransport final : public ILinkTransport {
public:
    CLocalTransport(const QString& name, const CTransportOptions& options)
        : m_name(name), m_options(options) {}

    bool Open(QString* error) override {
        m_socket.connectToServer(m_name, QIODevice::ReadWrite);
        if (!m_socket.waitForConnected(m_options.connectTimeoutMs)) {
            if (error) *error = m_socket.errorString();
            m_socket.abort();
            return false;
        }
        return true;
    }
    void Close() override {
        if (m_socket.state() != QLocalSocket::UnconnectedState) {
            m_socket.flush();
            m_socket.abort();
        }
    }
    void Write(const QByteArray& bytes) override {
        m_socket.write(bytes);
        m_socket.flush();
    }
    qint64 PendingWrite() const override { return m_socket.bytesToWrite(); }
    QByteArray Wait(int ms) override {
        if (m_socket.bytesAvailable() == 0 && m_socket.state() == QLocalSocket::ConnectedState) {
            if (m_socket.bytesToWrite() > 0) m_socket.flush();
            m_socket.waitForReadyRead(ms);
        }
        return m_socket.readAll();
    }
    bool Broken() const override {
        return m_socket.state() != QLocalSocket::ConnectedState && m_socket.bytesAvailable() == 0;
    }
    QString ErrorText() const override { return m_socket.errorString(); }

private:
    QString m_name;
    CTransportOptions m_options;
    mutable QLocalSocket m_socket;
};

}  // namespace

std::unique_ptr<ILinkTransport> MakeLinkTransport(const CPortTarget& target,
                                                  const CTransportOptions& options) {
    if (target.kind == CPortTarget::Kind::Tcp) return MakeTcpTransport(target, options);
    if (target.kind == CPortTarget::Kind::LocalSocket)
        return std::make_unique<CLocalTransport>(target.address, options);
    return std::make_unique<CSerialTransport>(target.address, options);
}
