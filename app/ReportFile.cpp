#include "app/ReportFile.h"

#include "app/ResultCodes.h"
#include "platform/TextFile.h"

bool WriteReportFile(const QString& path, int code, const QString& diagnosticText) {
    if (path.isEmpty()) return false;
    // The whole line is kept however long the terminal's message is.
    return WriteTextFile(path, FormatReportLine(code, diagnosticText), TextFileMode::Replace);
}
