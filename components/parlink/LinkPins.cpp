#include "components/parlink/LinkPins.h"

#include "components/parlink/TlsIdentity.h"
#include "platform/FileLock.h"

#include <QDir>

#include <QFile>
#include <QFileInfo>

#include <cctype>

namespace {
constexpr qsizetype kMaxName = 300;
constexpr qsizetype kFingerprintSize = 32;
}  // namespace

QList<CLinkPin> ParseLinkPins(const QByteArray& text) {
    QList<CLinkPin> pins;
    for (const QByteArray& raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() != 2 || words[0].size() > kMaxName || words[1].size() != 2 * kFingerprintSize) continue;
        bool hex = true;
        for (const char c : words[1]) hex = hex && std::isxdigit(static_cast<unsigned char>(c));
        if (!hex) continue;
        CLinkPin pin;
        pin.name = QString::fromUtf8(words[0]);
        // A name that does not survive UTF-8 could never be matched again.
        if (pin.name.toUtf8() != words[0]) continue;
        pin.fingerprint = QByteArray::fromHex(words[1]);
        pins.push_back(std::move(pin));
    }
    return pins;
}

QByteArray FormatLinkPins(const QList<CLinkPin>& pins) {
    QByteArray text("# Pinned certificates of the paired link peers: name SHA-256\n");
    for (const CLinkPin& pin : pins) text += pin.name.toUtf8() + ' ' + pin.fingerprint.toHex() + '\n';
    return text;
}

bool ReadLinkPins(const QString& path, QList<CLinkPin>* pins, QString* error) {
    pins->clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (!QFileInfo::exists(path)) return true;
        if (error) *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    *pins = ParseLinkPins(file.read(4 * 1024 * 1024));
    return true;
}

bool StoreLinkPin(const QString& path, const CLinkPin& pin, QString* error) {
    // Read, change, write under a lock: two pairings at once (two programs,
    // or two terminals' sessions) each keep their pin.
    MakePrivateFolder(QFileInfo(path).absolutePath());
    CFileLock lock;
    // (A link or a FIFO named like the lock file is refused, never followed.)
    if (const auto outcome = lock.LockFile(path + QStringLiteral(".lock"), 10000); outcome != CFileLock::Outcome::Locked) {
        if (error)
            *error = outcome == CFileLock::Outcome::Failed ? lock.Error()
                                                          : QStringLiteral("%1: busy or cannot be locked").arg(path);
        return false;
    }
    QList<CLinkPin> pins;
    if (!ReadLinkPins(path, &pins, error)) return false;
    CLinkPin stored = pin;
    // A name with blanks would not read back as one word.
    stored.name = pin.name.simplified().replace(QLatin1Char(' '), QLatin1Char('_')).left(kMaxName);
    if (stored.name.isEmpty()) stored.name = QStringLiteral("peer");
    pins.removeIf([&](const CLinkPin& p) { return p.name == stored.name; });
    pins.push_back(stored);
    return WritePrivateFile(path, FormatLinkPins(pins), error);
}
