#pragma once
// The benches' command-line options: "--name value" pairs and bare flags.

#include <QStringList>

// The number after `name`, else `fallback`.
inline int IntOption(const QStringList& args, const QString& name, int fallback) {
    const qsizetype at = args.indexOf(name);
    return at > 0 && at + 1 < args.size() ? args[at + 1].toInt() : fallback;
}

// The text after `name`, else the empty text.
inline QString TextOption(const QStringList& args, const QString& name) {
    const qsizetype at = args.indexOf(name);
    return at > 0 && at + 1 < args.size() ? args[at + 1] : QString();
}

inline bool FlagOption(const QStringList& args, const QString& name) { return args.indexOf(name) > 0; }
