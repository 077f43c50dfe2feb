#pragma once
// The code page of every directory, journal and CSV file. The terminal reads
// single-byte Cyrillic text, Windows-1251 unless the settings name another
// ("DirectoryCodePage" in kxloader.ini, section "kxloader.exe"). Start-up sets
// it once; the directory code and the exchange code read it.

#include "platform/CodePage.h"

#include <QString>

inline constexpr const char* kDirectoryCodePageKey = "DirectoryCodePage";

// Sets the process-wide code page. An empty, unknown or non-ASCII-compatible
// name (UTF-16, UTF-32: the line and field separators would not be single
// bytes) keeps Windows-1251. Returns false when the name was not taken.
bool SetDirectoryCodePage(const QString& name);

// The current code page (a copy; cheap and safe to keep on another thread).
CodePage::CCodec DirectoryCodec();
