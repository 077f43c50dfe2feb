#pragma once
// Private profile files ("ini" files) with the semantics the program has always
// relied on: [section] headers and key=value lines, section and key names
// compared without regard to case, values taken verbatim (no quoting, no
// escapes; surrounding blanks are trimmed), unknown sections, keys, comments
// and blank lines kept when a value is written, and the file, section or key
// created on first write. Text is UTF-8.

#include <QString>
#include <QStringList>

namespace Profile {

// The value of `key` in `section`, or `defaultValue` when the file, the section
// or the key is missing. Values are cut to 1023 characters, as the program's
// settings buffers always were.
QString ReadString(const QString& file, const QString& section, const QString& key,
                   const QString& defaultValue = QString());

// The leading decimal integer of the value (optional sign), 0 when the value
// has no digits, `defaultValue` when the key is missing.
int ReadInt(const QString& file, const QString& section, const QString& key, int defaultValue);

// Layered settings (the administrator's file, then the user's): the value in
// the last of `files` that has the key, so a later file overrides the earlier
// ones key by key; `defaultValue` when none has it.
QString ReadLayeredString(const QStringList& files, const QString& section, const QString& key,
                          const QString& defaultValue = QString());
int ReadLayeredInt(const QStringList& files, const QString& section, const QString& key, int defaultValue);

// Writes `value` under `section`/`key`, replacing the first such key or adding
// it at the end of the section (a missing section is appended to the file).
// The file is replaced atomically. Returns false when it cannot be written,
// with the system's reason in `error` when one is given.
bool WriteString(const QString& file, const QString& section, const QString& key,
                 const QString& value, QString* error = nullptr);

}  // namespace Profile
