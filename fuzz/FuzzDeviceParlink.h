#pragma once
// The terminal-link component as a direct line to kxterminal's command
// handling in this process: commands and data go to a CTerminalDevice as
// messages, answers come back from it; no frames, no port, no waiting.

#include "components/parlink/protocol/LinkMessage.h"
#include "exchange/ComponentRegistry.h"
#include "tools/kxterminal/TerminalDevice.h"

#include <QStringList>

#include <cstdint>
#include <utility>

class CDeviceParlink : public IParlinkX2, public IParlinkProvider {
public:
    explicit CDeviceParlink(CTerminalDevice& device) : m_device(device) {}

    bool FindComponent() override { return true; }
    IParlinkX2* CreateObject() override { return this; }

    int opens = 0, closes = 0;
    bool Balanced() const { return opens == closes; }

    int OpenPort(const QString&) override {
        ++opens;
        m_device.BeginSession();
        return 1;
    }
    int ClosePort() override {
        ++closes;
        Put(Link::MessageType::Bye, QString());
        m_device.EndSession();
        return 1;
    }
    int SendCommand(const QString& command) override { return Put(Link::MessageType::Command, command); }
    int SendData(const QString& data) override { return Put(Link::MessageType::Data, data); }
    int EndData() override { return Put(Link::MessageType::EndData, QString()); }
    int Receive(QString* answer) override {
        Pump();
        answer->clear();
        if (!m_answers.isEmpty()) *answer = m_answers.takeFirst();
        return 1;
    }
    QString GetComponentVersion() override { return QStringLiteral("fuzz"); }
    QString GetProtocolVersion() override { return QStringLiteral("2"); }
    int WaitLink(int) override { return 1; }
    void Release() override {}

private:
    int Put(Link::MessageType type, const QString& text) {
        Link::Message message;
        message.type = type;
        message.text = text;
        m_device.Handle(std::move(message));
        Pump();
        return 1;
    }
    void Pump() {
        QByteArray out;
        bool urgent = false;
        do {
            out.clear();
            m_device.Pump(m_now, out, 1 << 16, &urgent);
            m_parser.Feed(out);
        } while (!out.isEmpty());
        Link::Message m;
        while (m_parser.Next(&m))
            if (m.type == Link::MessageType::Answer) m_answers << m.text;
        m_now += 50;
    }

    CTerminalDevice& m_device;
    Link::CMessageParser m_parser;
    QStringList m_answers;
    std::int64_t m_now = 0;
};

