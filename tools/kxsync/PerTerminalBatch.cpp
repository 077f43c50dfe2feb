#include "tools/kxsync/PerTerminalBatch.h"

#include "app/CommandLine.h"
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

namespace {

class CBatchRewrite {
public:
    CBatchRewrite(const QStringList& batch, const QString& terminal) : m_terminal(terminal) {
        m_words = QStringList{QString()} + batch;  // index 0: the program's name, as kxloader sees it
        m_end = TakeEndOfSwitches(m_words);
    }

    QStringList Run() {
        for (int i = 1; i < m_words.size(); ++i) {
            Copy(i);
            if (i >= m_end) continue;
            const QString& word = m_words[i];
            if (word == QLatin1String("/j")) OutputName(i, "journal.txt", true);
            else if (word == QLatin1String("/n")) OutputName(i, "j_count.txt", false);
            else if (word == QLatin1String("/i")) OutputName(i, "id_term.txt", false);
            else if (word == QLatin1String("/x")) OutputName(i, "errors.txt", false);
            else if (word == QLatin1String("/q")) InfoTable(i);
            else if (word == QLatin1String("/o") || word == QLatin1String("/e") || word == QLatin1String("/a"))
                KeepName(i);
            else if (word == QLatin1String("/d") || word == QLatin1String("/w")) KeepNames(i);
        }
        return m_out;
    }

private:
    bool Exists(int i) const { return i < m_words.size(); }
    bool IsSwitch(int i) const { return i < m_end && Exists(i) && LooksLikeSwitch(m_words[i]); }
    // Keeps "--" where it was: before the first word that came after it.
    void Append(const QString& word, int index) {
        if (index >= m_end && !m_endWritten) {
            m_out.append(QStringLiteral("--"));
            m_endWritten = true;
        }
        m_out.append(word);
    }
    void Copy(int i) { Append(m_words[i], i); }

    // /j /n /i /x: [file]. `filterEndsName`: a "filter:" in the name's place
    // is the filters, not a name (/j; for /n it is the name).
    void OutputName(int& i, const char* defaultName, bool filterEndsName) {
        const int next = i + 1;
        const bool named = Exists(next) && !m_words[next].isEmpty() && !IsSwitch(next) &&
                           !(filterEndsName && m_words[next] == QLatin1String("filter:") && next < m_end);
        if (named) {
            Append(PerTerminalFileName(m_words[next], m_terminal), next);
            i = next;
        } else {
            Append(PerTerminalFileName(QString::fromLatin1(defaultName), m_terminal), i);
        }
    }

    // /o /e /a file: the next word is the name whatever it looks like.
    void KeepName(int& i) {
        if (!Exists(i + 1)) return;
        Copy(++i);
    }
    // /d /w file [file2]: a second name unless a switch follows.
    void KeepNames(int& i) {
        KeepName(i);
        if (Exists(i + 1) && !IsSwitch(i + 1)) Copy(++i);
    }

    // /q file [-r | -s]: the file is written unless it is uploaded (-s).
    void InfoTable(int& i) {
        const int name = i + 1;
        // No name, or a switch in its place: kxloader says 100 itself.
        if (!Exists(name) || (name < m_end && IsKnownSwitch(m_words[name]))) return;
        const bool upload = Exists(name + 1) && m_words[name + 1] == QLatin1String("-s");
        QString word = m_words[name];
        if (!upload) word = PerTerminalFileName(word.isEmpty() ? QStringLiteral("info.txt") : word, m_terminal);
        Append(word, name);
        i = name;
    }

    QString m_terminal;
    QStringList m_words, m_out;
    int m_end = kNoSwitchesEnd;
    bool m_endWritten = false;
};

}  // namespace

QStringList PerTerminalArguments(const QStringList& batch, const QString& terminal) {
    return CBatchRewrite(batch, terminal).Run();
}

QString TerminalSettingsFile(const QString& shared, const QString& terminal) {
    return QFileInfo(shared).absolutePath() + QStringLiteral("/kxsync-terminals/") + terminal + QStringLiteral(".ini");
}

bool WriteTerminalSettings(const QString& shared, const QString& target, const QString& port, QString* error) {
    QFile source(shared);
    if (!source.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the settings %1: %2").arg(shared, source.errorString());
        return false;
    }
    const QByteArray bytes = source.readAll();
    if (!QDir().mkpath(QFileInfo(target).absolutePath())) {
        *error = QStringLiteral("cannot make the folder %1").arg(QFileInfo(target).absolutePath());
        return false;
    }
    QSaveFile copy(target);
    if (!copy.open(QIODevice::WriteOnly) || copy.write(bytes) != bytes.size() || !copy.commit()) {
        *error = QStringLiteral("cannot write the settings %1: %2").arg(target, copy.errorString());
        return false;
    }
    return Profile::WriteString(target, QString::fromLatin1(kSettingsSection), QStringLiteral("port"), port, error);
}
