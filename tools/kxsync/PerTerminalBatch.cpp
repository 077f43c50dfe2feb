#include "tools/kxsync/PerTerminalBatch.h"

#include "app/CommandLineGrammar.h"
#include "app/Settings.h"
#include "platform/ProfileFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

QString PerTerminalFileName(const QString& fileName, const QString& terminal) {
    const qsizetype slash = fileName.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    // A dot that starts the last part (".hidden") is no extension.
    const qsizetype at = dot > slash + 1 ? dot : fileName.size();
    return fileName.left(at) + QLatin1Char('-') + terminal + fileName.mid(at);
}

QStringList PerTerminalArguments(const QStringList& batch, const QString& terminal) {
    // Read as kxloader reads it (index 0: the program's name).
    const BatchReading reading = ReadBatch(QStringList{QString()} + batch);
    QStringList out;
    bool endWritten = false;
    // Keeps "--" where it was: before the first word that came after it.
    const auto append = [&](const QString& word, int index) {
        if (index >= reading.switchesEnd && !endWritten) {
            out.append(QStringLiteral("--"));
            endWritten = true;
        }
        out.append(word);
    };
    for (const BatchStep& step : reading.steps) {
        const bool infoTable = step.what && step.what->shape == SwitchShape::InfoTable;
        const QString defaultName =
            step.writesFile ? PerTerminalFileName(step.what->defaultOutputFile, terminal) : QString();
        for (int i = step.first; i <= step.last; ++i) {
            QString word = reading.words[i];
            if (i == step.outputFile) word = PerTerminalFileName(word, terminal);
            // /q with an empty name writes the project's info.txt: named out.
            else if (infoTable && step.writesFile && step.outputFile < 0 && i == step.first + 1) word = defaultName;
            append(word, i);
            // A default name is written out, so no run falls back to the shared one.
            if (i == step.first && step.writesFile && step.outputFile < 0 && !infoTable) append(defaultName, i);
        }
    }
    return out;
}

QString TerminalSettingsFile(const QString& shared, const QString& terminal) {
    return QFileInfo(shared).absolutePath() + QStringLiteral("/kxsync-terminals/") + terminal + QStringLiteral(".ini");
}

bool WriteTerminalSettings(const QString& shared, const QString& target, const QString& port, QString* error) {
    QString ignored;
    QString& why = error ? *error : ignored;
    QFile source(shared);
    if (!source.open(QIODevice::ReadOnly)) {
        why = QStringLiteral("cannot read the settings %1: %2").arg(shared, source.errorString());
        return false;
    }
    const QByteArray bytes = source.readAll();
    if (!QDir().mkpath(QFileInfo(target).absolutePath())) {
        why = QStringLiteral("cannot make the folder %1").arg(QFileInfo(target).absolutePath());
        return false;
    }
    QSaveFile copy(target);
    if (!copy.open(QIODevice::WriteOnly) || copy.write(bytes) != bytes.size() || !copy.commit()) {
        why = QStringLiteral("cannot write the settings %1: %2").arg(target, copy.errorString());
        return false;
    }
    return Profile::WriteString(target, QString::fromLatin1(kSettingsSection), QStringLiteral("port"), port, &why);
}
