#include "app/ReportFile.h"

#include "app/ResultCodes.h"
#include "platform/CodePage.h"
#include "platform/LocalFileName.h"
#include "platform/SystemFile.h"
#include "filesafety/TargetWriter.h"
#include "platform/TextFile.h"

#include <cerrno>

#include <sys/stat.h>

namespace {
// Another run writing the same report holds it only for its own rename.
constexpr int kReportWaitMs = 10000;
}  // namespace

bool RemoveOldReport(const QString& path, QString* problem) {
    struct stat status;
    if (path.isEmpty() || !LocalStatus(path, &status, false) || !S_ISREG(status.st_mode)) return true;
    if (RemoveLocalFile(path)) return true;
    if (problem) *problem = SystemErrorText(errno);
    return false;
}

bool TakeReportFile(const QString& path, CFileLock& lock, QString* problem) {
    switch (lock.LockFile(path + QStringLiteral(".lock"), 0)) {
    case CFileLock::Outcome::Locked:
        lock.SetContent(LockHolderLine());
        return true;
    case CFileLock::Outcome::Busy:
        if (problem) *problem = QStringLiteral("the report file %1 belongs to %2, which still runs").arg(path, lock.Holder());
        return false;
    case CFileLock::Outcome::Failed:
        break;
    }
    // No lock file can be made there: the report's own writing says why.
    return true;
}

bool WriteReportFile(const QString& path, int code, const QString& diagnosticText, QString* problem,
                     bool lockFileHeld) {
    if (path.isEmpty()) return false;
    // The whole line is kept however long the terminal's message is.
    const QByteArray line = ToCrLf(CodePage::CCodec().Encode(FormatReportLine(code, diagnosticText)));
    QString error;
    if (WriteFileWhole(path, line, kReportWaitMs, &error, lockFileHeld)) return true;
    QString removal;
    struct stat status;
    const bool oldOne = LocalStatus(path, &status, false) && S_ISREG(status.st_mode);
    QString text = QStringLiteral("cannot write the report file %1").arg(error);
    if (oldOne && RemoveOldReport(path, &removal))
        text += QStringLiteral("; the old report was removed");
    else if (oldOne)
        text += QStringLiteral("; the old report %1 could not be removed either (%2): it is not this run's")
                    .arg(path, removal);
    if (problem) *problem = text;
    return false;
}
