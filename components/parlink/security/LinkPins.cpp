#include "components/parlink/security/LinkPins.h"

#include "components/parlink/security/TlsIdentity.h"
#include "filesafety/FileLock.h"
#include "filesafety/PrivateFile.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cctype>
#include <functional>

namespace {

constexpr qsizetype kMaxName = 300;
constexpr qsizetype kFingerprintSize = 32;
constexpr int kLockWaitMs = 10000;
// Enough digits that a person comparing them with the terminal's can tell
// one terminal from another.
constexpr qsizetype kShortestExpectedHex = 16;

bool IsFingerprintHex(const QByteArray& word) {
    return word.size() == 2 * kFingerprintSize &&
           std::all_of(word.begin(), word.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

// A word that names a peer: not too long, and read back as the same bytes
// (a name that does not survive UTF-8 could never be matched again).
bool ReadName(const QByteArray& word, QString* name) {
    if (word.size() > kMaxName) return false;
    *name = QString::fromUtf8(word);
    return name->toUtf8() == word;
}

// The two words of every line that has two words.
void ForEachPinLine(const QByteArray& text, const std::function<void(const QByteArray&, const QByteArray&)>& take) {
    for (const QByteArray& raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() == 2) take(words[0], words[1]);
    }
}

bool ReadPinFile(const QString& path, QByteArray* text, QString* error) {
    text->clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (!QFileInfo::exists(path)) return true;
        if (error) *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    *text = file.read(4 * 1024 * 1024);
    return true;
}

// Read, change, write under a lock: two pairings at once (two programs, or
// two terminals' sessions) each keep their pin.
bool ChangePinFile(const QString& path, const std::function<QByteArray(const QByteArray&)>& change, QString* error) {
    const QString folder = QFileInfo(path).absolutePath();
    if (!MakePrivateFolder(folder)) {
        if (error) *error = QStringLiteral("%1: cannot create the folder").arg(folder);
        return false;
    }
    CFileLock lock;
    // (A link or a FIFO named like the lock file is refused, never followed.)
    if (const auto outcome = lock.LockFile(path + QStringLiteral(".lock"), kLockWaitMs);
        outcome != CFileLock::Outcome::Locked) {
        if (error)
            *error = outcome == CFileLock::Outcome::Failed ? lock.Error()
                                                          : QStringLiteral("%1: busy or cannot be locked").arg(path);
        return false;
    }
    QByteArray text;
    if (!ReadPinFile(path, &text, error)) return false;
    return WritePrivateFile(path, change(text), error);
}

// The pins of the file at `path` as `parse` reads its text; no file means no pins.
template <class Pin, class Parse>
bool ReadPins(const QString& path, QList<Pin>* pins, Parse parse, QString* error) {
    pins->clear();
    QByteArray text;
    if (!ReadPinFile(path, &text, error)) return false;
    *pins = parse(text);
    return true;
}

// Adds `pin` to the file, dropping the earlier pins `replaces` names.
template <class Pin, class Parse, class Format, class Replaces>
bool StorePin(const QString& path, const Pin& pin, Parse parse, Format format, Replaces replaces, QString* error) {
    return ChangePinFile(
        path,
        [&](const QByteArray& text) {
            QList<Pin> pins = parse(text);
            pins.removeIf([&](const Pin& earlier) { return replaces(earlier, pin); });
            pins.push_back(pin);
            return format(pins);
        },
        error);
}

}  // namespace

QList<CLinkPin> ParseLinkPins(const QByteArray& text) {
    QList<CLinkPin> pins;
    ForEachPinLine(text, [&](const QByteArray& name, const QByteArray& hex) {
        CLinkPin pin;
        if (!IsFingerprintHex(hex) || !ReadName(name, &pin.name)) return;
        pin.fingerprint = QByteArray::fromHex(hex);
        pins.push_back(std::move(pin));
    });
    return pins;
}

QByteArray FormatLinkPins(const QList<CLinkPin>& pins) {
    QByteArray text("# Pinned certificates of the paired link peers: name SHA-256\n");
    for (const CLinkPin& pin : pins) text += pin.name.toUtf8() + ' ' + pin.fingerprint.toHex() + '\n';
    return text;
}

bool ReadLinkPins(const QString& path, QList<CLinkPin>* pins, QString* error) {
    return ReadPins(path, pins, [](const QByteArray& text) { return ParseLinkPins(text); }, error);
}

bool StoreLinkPin(const QString& path, const CLinkPin& pin, QString* error) {
    CLinkPin stored = pin;
    // A name with blanks would not read back as one word.
    stored.name = pin.name.simplified().replace(QLatin1Char(' '), QLatin1Char('_')).left(kMaxName);
    if (stored.name.isEmpty()) stored.name = QStringLiteral("peer");
    return StorePin(
        path, stored, [](const QByteArray& text) { return ParseLinkPins(text); }, FormatLinkPins,
        [](const CLinkPin& earlier, const CLinkPin& now) { return earlier.name == now.name; }, error);
}

QByteArray FormatTerminalPins(const QList<CTerminalPin>& pins) {
    QByteArray text("# Paired terminals: SHA-256 of the certificate, then the address it was paired at\n");
    for (const CTerminalPin& pin : pins) text += pin.fingerprint.toHex() + ' ' + pin.address.toUtf8() + '\n';
    return text;
}

QList<CTerminalPin> ParseTerminalPins(const QByteArray& text, bool* earlierShape) {
    QList<CTerminalPin> pins;
    if (earlierShape) *earlierShape = false;
    ForEachPinLine(text, [&](const QByteArray& first, const QByteArray& second) {
        CTerminalPin pin;
        const bool current = IsFingerprintHex(first) && ReadName(second, &pin.address);
        const bool earlier = !current && IsFingerprintHex(second) && ReadName(first, &pin.address);
        if (!current && !earlier) return;
        if (earlier && earlierShape) *earlierShape = true;
        pin.fingerprint = QByteArray::fromHex(current ? first : second);
        // The later line is the later pairing.
        pins.removeIf([&](const CTerminalPin& p) { return p.fingerprint == pin.fingerprint; });
        pins.push_back(std::move(pin));
    });
    return pins;
}

bool ReadTerminalPins(const QString& path, QList<CTerminalPin>* pins, QString* error) {
    bool earlierShape = false;
    if (!ReadPins(path, pins, [&](const QByteArray& text) { return ParseTerminalPins(text, &earlierShape); }, error))
        return false;
    if (earlierShape) {
        // Rewritten under the lock from what the file holds then, so a pin
        // another program adds meanwhile is kept.
        QString ignored;
        ChangePinFile(
            path, [](const QByteArray& now) { return FormatTerminalPins(ParseTerminalPins(now)); }, &ignored);
    }
    return true;
}

bool StoreTerminalPin(const QString& path, const CTerminalPin& pin, QString* error) {
    return StorePin(
        path, pin, [](const QByteArray& text) { return ParseTerminalPins(text); }, FormatTerminalPins,
        [](const CTerminalPin& earlier, const CTerminalPin& now) { return earlier.fingerprint == now.fingerprint; },
        error);
}

const CTerminalPin* ExpectedTerminalPin(const QList<CTerminalPin>& pins, const QString& address,
                                        const QString& expectedHex) {
    if (expectedHex.isEmpty()) {
        const auto last = std::find_if(pins.rbegin(), pins.rend(), [&](const CTerminalPin& p) { return p.address == address; });
        return last == pins.rend() ? nullptr : &*last;
    }
    const QByteArray digits = expectedHex.toLatin1().toLower();
    if (digits.size() < kShortestExpectedHex) return nullptr;
    const CTerminalPin* found = nullptr;
    for (const CTerminalPin& pin : pins) {
        if (!pin.fingerprint.toHex().startsWith(digits)) continue;
        if (found) return nullptr;  // the digits do not say which one
        found = &pin;
    }
    return found;
}
