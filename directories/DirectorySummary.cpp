#include "directories/DirectorySummary.h"

#include "directories/DirectoryFiles.h"
#include "directories/LineReader.h"

#include <QDateTime>
#include <QFileInfo>

bool DirectorySummary::Refresh(bool updateStamp) {
    if (path.isEmpty()) return false;
    const QFileInfo info(path);
    if (!info.exists()) return true;
    // Milliseconds, not seconds: two saves within one second must both be seen.
    const qint64 now = info.lastModified().toMSecsSinceEpoch();
    if (now == stamp) return false;
    if (updateStamp) stamp = now;
    return true;
}

int DirectorySummary::CountLines() {
    lineCount = 0;
    fieldCount = -1;
    if (path.isEmpty()) return 0;
    CDirectoryLineReader reader(CDirectoryLineReader::kCountLineBytes);
    if (!reader.Open(path)) return 0;
    QByteArrayView line;
    while (lineCount < kLineCountCap && reader.ReadLine(&line)) ++lineCount;
    return lineCount;
}

void RebuildSummaries(QList<DirectorySummary>& summaries) {
    summaries.clear();
    for (int kind = 0; kind < kDirectoryKindCount; ++kind) {
        DirectorySummary summary;
        summary.kind = kind;
        DirectoryPath(kind, &summary.path);
        summary.CountLines();
        summary.Refresh(true);
        summaries.append(summary);
    }
}

QList<DirectorySummary> RebuildSummaries() {
    QList<DirectorySummary> summaries;
    RebuildSummaries(summaries);
    return summaries;
}
