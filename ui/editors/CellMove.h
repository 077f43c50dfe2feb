#pragma once
// How the directory grid's in-place editors report: the text, whether to
// store it, and where the user asked to go next.

#include <QString>

#include <functional>

// Enter and leaving the editor stay; Tab goes to the next cell (the next
// column, then column 1 of the next row); Shift+Tab to the one before.
enum class CellMove { Stay, Next, Previous };

// The owner's CommitCell: `commit` true stores `text`, false tells that
// nothing changed; then the owner moves as asked.
using CommitCellCallback = std::function<void(const QString& text, bool commit, CellMove move)>;
