#pragma once
// What the main window shows for each directory file: its line count and
// whether the file changed since it was last looked at. Counting stops at
// 1000 lines so that the window stays quick on very large ware directories.

#include <QList>
#include <QString>

struct DirectorySummary {
    int kind = 0;            // DirectoryKind; the list is indexed by it
    QString path;            // the kind's directory file; empty without a project
    qint64 stamp = 0;        // last-modification time (ms since the epoch) when last looked at
    int lineCount = -1;      // -1 until first counted; 1000 means 1000 or more after CountLines
    int fieldCount = -1;     // -1 after CountLines; 0 or more marks lineCount as exact

    static constexpr int kLineCountCap = 1000;

    // Whether the file changed since the stored stamp; stores the new stamp
    // when `updateStamp` is set. False for an empty path; a file whose status
    // cannot be read counts as changed.
    bool Refresh(bool updateStamp);
    // Counts up to 1000 lines (of up to 8191 bytes each); 0 when the path is
    // empty or the file cannot be opened.
    int CountLines();
};

// Rebuilds the summaries, one a directory file kind in code order, from the current
// directory files: counted and stamped.
void RebuildSummaries(QList<DirectorySummary>& summaries);
QList<DirectorySummary> RebuildSummaries();
