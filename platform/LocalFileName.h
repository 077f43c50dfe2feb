#pragma once
// File names exactly as the system has them. A Linux file name is a string
// of bytes; the desktop gives UTF-8, but a warehouse script may pass
// Windows-1251 bytes. Qt turns every byte that is not UTF-8 into U+FFFD, so two
// different names would become one and a file would be written under a name
// nobody gave. Here such a byte is kept in the text as a lone low surrogate
// U+DC80..U+DCFF (the "surrogate escape" of other systems) and turned back
// into the same byte whenever the name reaches the system.

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QString>
#include <QStringList>

// The text of system bytes: UTF-8 where the bytes are UTF-8, every other byte
// kept as U+DC00 + byte.
QString DecodeLocalName(QByteArrayView bytes);
// The system bytes of a name made by DecodeLocalName (or any ordinary text).
// False in `usable` (when given) for a text no file can have: a NUL, or a lone
// surrogate that stands for no byte.
QByteArray EncodeLocalName(const QString& name, bool* usable = nullptr);
// The name holds bytes that are not UTF-8: Qt's own file classes cannot reach it.
bool HasRawBytes(const QString& name);
bool IsUsableLocalName(const QString& name);
// A name for messages: the raw bytes shown as \xHH.
QString PrintableLocalName(const QString& name);

// The program's arguments as given, argument 0 first.
QStringList DecodeArguments(int argc, char** argv);

// Opens `file` on `path` with `mode` (reading, or writing without create
// semantics Qt does not offer) reaching names with raw bytes too. On failure
// `error` (when given) holds the system's reason.
bool OpenLocalFile(QFile& file, const QString& path, QIODevice::OpenMode mode, QString* error = nullptr);

// The system's words for an errno value ("No space left on device").
QString SystemErrorText(int error);
