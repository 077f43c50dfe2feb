#pragma once
// What the directory targets share: the kinds and code page settings the
// input picks from, and the comparison of two tables' contents.

#include "directories/DirectoryTable.h"

#include <QString>
#include <QStringList>

#include <cstdint>

// Kinds 0..6 and the journal view, picked by a byte.
int FuzzDirectoryKind(std::uint8_t byte);
// "windows-1251", "utf-8", "cp866" or "koi8-r", picked by a byte.
QString FuzzCodePage(std::uint8_t byte);

// Every row's cells, as the editor shows them.
QList<QStringList> TableRows(const DirectoryTable& table);
// Empty when both tables hold the same rows, data columns and (when asked)
// encoding; else what differs first.
QString TableDifference(const DirectoryTable& a, const DirectoryTable& b, bool compareEncoding = true);
