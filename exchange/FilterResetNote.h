#pragma once
// The note of the journal filter resets still owed to terminals: the ports on
// which filters this program set may still be on the terminal, one a line
// (UTF-8). It is written before the filters are sent and a port leaves it only
// once the terminal confirmed their reset, so a run killed at any moment in
// between leaves the port noted, and the next exchange on that port resets
// the filters before it downloads or clears anything.
//
// The note is replaced whole (a temporary file renamed over it): a kill while
// it is written leaves the old note or the new one, never a cut one.

#include <QString>
#include <QStringList>

class CFilterResetNote {
public:
    // An empty path keeps no note: nothing is pending and adding always works.
    explicit CFilterResetNote(const QString& path) : m_path(path) {}

    bool Pending(const QString& port) const;
    // Notes `port`; false (with the reason) when the note cannot be written.
    bool Add(const QString& port, QString* error = nullptr) const;
    // The reset on `port` was confirmed. The file goes with its last port.
    bool Remove(const QString& port) const;
    const QString& Path() const { return m_path; }

private:
    QStringList Ports() const;
    bool Write(const QStringList& ports, QString* error) const;

    QString m_path;
};
