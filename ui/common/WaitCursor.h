#pragma once
// The wait cursor over the whole program while a scope runs (loading, saving,
// importing a large directory). Message boxes raised meanwhile show the
// ordinary cursor (CQtPrompt).

#include <QGuiApplication>

class CWaitCursor {
public:
    CWaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~CWaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};
