#pragma once
// The opening sequence every exchange routine shares, and the guarantee that
// goes with it: once the component object exists it is released on every
// path, and once the port is open it is closed before that.

#include "exchange/ComponentRegistry.h"

#include <QString>

// The routine's own texts for the four opening failures (codes 1-4).
struct OpeningMessages {
    QString notRegistered;
    QString notCreated;
    QString portNotOpened;
    QString noAnswer;
};

// The texts of the journal, filter and info-table routines.
OpeningMessages StandardOpeningMessages();

inline constexpr int kOpenWaitLinkMs = 3000;

class CParlinkSession {
public:
    CParlinkSession(bool showMessages, const QString& caption)
        : m_showMessages(showMessages), m_caption(caption) {}
    ~CParlinkSession() { Close(); }
    CParlinkSession(const CParlinkSession&) = delete;
    CParlinkSession& operator=(const CParlinkSession&) = delete;

    // Creates the component, opens `port` ("USB" mapped) and checks that the
    // terminal answers. Returns 0 or 1-4 after showing the matching message;
    // on failure nothing is left open or unreleased.
    int Open(const QString& port, const OpeningMessages& messages);

    IParlinkX2& Link() { return *m_object; }

    // Shows `message` as an error (when messages are on), closes the session
    // and returns `code`.
    int Fail(int code, const QString& message);
    // Closes the session and returns `code` without a message.
    int End(int code);
    void ShowError(const QString& message) const;
    void ShowWarning(const QString& message) const;
    bool ShowsMessages() const { return m_showMessages; }

    // Closes the port if it is open and releases the object; safe to repeat.
    void Close();

private:
    bool m_showMessages;
    QString m_caption;
    CParlinkHolder m_object;
    bool m_portOpen = false;
};
