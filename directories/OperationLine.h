#pragma once
// The fields of an operations directory line, id;type;name;multiplier;barcode
// with an optional pop-up mode, and what each reader of the file needs of a
// line. The configurator offers a line as a choice once it has its id and its
// name closed by ';' (four fields); the terminal's database takes only whole
// operations (five fields), and the configuration upload warns about every
// other line before it loads anything. So a line of four fields is a choice in
// the configurator that never reaches the terminal, and the upload says so.

#include "directories/DirectoryKind.h"

#include <iterator>

namespace OperationLine {

// The fields by position.
enum Field : int { kId, kType, kName, kMultiplier, kBarcode, kPopupMode };

// Fields a line needs to be offered in the configurator's choice of operations.
inline constexpr int kChoiceFields = kName + 2;
// Fields a line needs to be an operation of the terminal.
inline constexpr int kTerminalFields = kBarcode + 1;

static_assert(std::size(DirectoryKindTable::kOperationsColumns) == kPopupMode + 1,
              "the editor's operations columns are the fields of an operations line");

}  // namespace OperationLine
