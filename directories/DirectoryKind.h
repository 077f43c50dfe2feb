#pragma once
// The kinds of reference directory of a project, with their fixed codes.

enum DirectoryKind : int {
    Operations = 0,
    Executors = 1,
    Addresses = 2,
    Documents = 3,
    Wares = 4,
    WareDetails = 5,
    DocumentPlan = 6,
    JournalView = 10,
};

inline constexpr int kDirectoryKindCount = 7;  // kinds 0..6 are files of their own

inline bool IsDirectoryFileKind(int kind) { return kind >= Operations && kind <= DocumentPlan; }
