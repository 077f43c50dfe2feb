#pragma once
// Downloading the terminal's info table into the info file. The upload of the
// table is a step of the directory upload (DirectoryUpload.h).

#include "exchange/DirectoryUpload.h"

#include <QString>

// Downloads the terminal's info table into the DirectoryFiles info path,
// replacing it. Uses the selection's show-messages flag and caption.
// Returns 0, 1-4 or 69.
int DownloadInfoTable(UploadSelection& selection, const QString& port);
