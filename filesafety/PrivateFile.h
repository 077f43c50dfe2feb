#pragma once
// Secrets written whole: the link's key and certificate, its pins, the
// emulator's pairing state. Nobody else may read them, not even for an
// instant, and a kill or power cut must leave the old bytes or the new ones.

#include <QByteArray>
#include <QString>

// Writes `data` to `path` whole, readable and writable by the owner only: a
// temporary file in the same folder, synced, renamed over the old one, the
// folder synced. A kill at any instant leaves the old bytes or the new ones.
bool WritePrivateFile(const QString& path, const QByteArray& data, QString* error);

// A new owner-only file next to `path` holding `data`, synced; its name in
// `temp`. For a caller that puts it in place by other means than a rename
// (link() to keep the first of two writers); it removes `temp` itself.
bool WritePrivateTemp(const QString& path, const QByteArray& data, QString* temp, QString* error);

// Makes `folder` and the folders missing on the way to it, each owner-only
// (0700); true when it is a folder now.
bool MakePrivateFolder(const QString& folder);
