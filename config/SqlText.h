#pragma once
// The model's statements are fixed texts with %s and %i placeholders filled in
// by plain formatting. A text that stands between apostrophes in the template
// has its apostrophes doubled, so a name like Склад 'А' is stored as typed and
// never breaks the statement.

#include <QString>
#include <QStringList>

namespace ConfigSql {

// Fills the placeholders in order with `args` (numbers given as their text).
QString Format(QStringView sqlTemplate, const QStringList& args);

// A value that the template puts into the statement without apostrophes (an
// id compared with a number column): a decimal integer stays as it is, any
// other text becomes a quoted literal, so an empty or odd value cannot turn
// into a syntax error or into SQL of its own.
QString Number(const QString& value);

}  // namespace ConfigSql
