#pragma once
// The terminal-link component as the fuzz targets script it: answers come
// from a list the input gives (when the list is used up, Receive fails as a
// lost link does), any one call may fail, and every object made and port
// opened is counted, so a target can check that each was given back.

#include "exchange/ComponentRegistry.h"

#include <QStringList>

class CFuzzParlink : public IParlinkX2, public IParlinkProvider {
public:
    QStringList answers;  // what Receive gives, in order
    int failCall = -1;    // the call (counted from 1 over all calls) that fails
    QStringList sent;     // "C <command>" and "D <data>" in order

    int creations = 0, releases = 0, opens = 0, closes = 0;
    bool portOpen = false;
    bool Balanced() const { return creations == releases && opens == closes && !portOpen; }

    bool FindComponent() override { return Step(); }
    IParlinkX2* CreateObject() override {
        if (!Step()) return nullptr;
        ++creations;
        return this;
    }
    int OpenPort(const QString&) override {
        if (!Step()) return 0;
        ++opens;
        portOpen = true;
        return 1;
    }
    int ClosePort() override {
        ++closes;
        portOpen = false;
        return 1;
    }
    int SendCommand(const QString& command) override {
        sent << QStringLiteral("C ") + command;
        return Step() ? 1 : 0;
    }
    int SendData(const QString& data) override {
        sent << QStringLiteral("D ") + data;
        return Step() ? 1 : 0;
    }
    int Receive(QString* answer) override {
        if (!Step() || answers.isEmpty()) return 0;
        *answer = answers.takeFirst();
        return 1;
    }
    int EndData() override { return Step() ? 1 : 0; }
    QString GetComponentVersion() override { return QStringLiteral("2.1"); }
    QString GetProtocolVersion() override { return QStringLiteral("2"); }
    int WaitLink(int) override { return Step() ? 1 : 0; }
    void Release() override { ++releases; }

private:
    bool Step() { return ++m_calls != failCall; }
    int m_calls = 0;
};
