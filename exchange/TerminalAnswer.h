#pragma once
// What the terminal's words look like on the link: answers split into
// fields, the time stamp it is sent, and the port name the link component
// is given.

#include <QDateTime>
#include <QString>
#include <QStringList>

// The fields of a terminal answer: split at every ';', the text after the last
// one included (possibly empty); an answer without ';' is one field, an empty
// answer has none.
QStringList SplitAnswer(const QString& answer);
// Field `index` (1-based) of an answer, empty when the answer has fewer fields.
QString AnswerField(const QStringList& fields, int index);

// The local date and time as the 14 digits YYYYMMDDhhmmss the terminal expects.
QString TerminalTimeStamp();
QString TerminalTimeStamp(const QDateTime& at);

// The port name handed to the component: "USB" (in any case) means the
// terminal's USB device; every other name is passed as it stands.
QString ComponentPortName(const QString& port);
