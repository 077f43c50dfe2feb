#pragma once
// A directory file's lines as fields, for code that needs a few fields of each
// line rather than the editor's table (the configurator's choice of
// operations, the terminal database's operations table): the same lines, code
// page and byte-order mark as the editor reads, so the three never read one
// file differently. What makes a line usable stays with each caller.

#include <QString>
#include <QStringList>

#include <functional>

// Hands every line of the file at `path` to `take`, decoded and split at ';'
// (empty fields kept: an empty line is one empty field), until `take` returns
// false. False when the file cannot be opened.
bool ForEachDirectoryLine(const QString& path, const std::function<bool(const QStringList& fields)>& take);
