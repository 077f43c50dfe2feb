#include "app/CommandLine.h"

#include "app/CommandLineGrammar.h"
#include "app/CommandLineProgress.h"
#include "app/LinkPairing.h"
#include "app/KXConfigApp.h"
#include "app/ReportFile.h"
#include "app/ResultCodes.h"
#include "directories/DirectoryCodePage.h"
#include "directories/DirectoryFiles.h"
#include "exchange/DirectoryUpload.h"
#include "exchange/ExchangeCodes.h"
#include "exchange/InfoTable.h"
#include "exchange/TerminalSession.h"
#include "filesafety/FileLock.h"
#include "platform/LeadingInteger.h"
#include "platform/LocalFileName.h"
#include "platform/Prompt.h"
#include "platform/StopSignal.h"
#include "filesafety/TargetWriter.h"
#include "platform/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>


namespace {

constexpr int kSyntaxError = kCommandLineSyntaxError;
constexpr int kUnknownSwitch = kCommandLineUnknownSwitch;
constexpr int kConfigurationNotOpened = kCommandLineConfigurationNotOpened;

// The word after `index`, or an empty word past the end of the list.
QString Next(const QStringList& arguments, int index) {
    return index + 1 < arguments.size() ? arguments[index + 1] : QString();
}
bool HasNext(const QStringList& arguments, int index) { return index + 1 < arguments.size(); }

// The project's files folder beside the project, created when it is missing.
// Only for a project that has opened, so only inside a folder that exists:
// nothing else on the way is made.
void CreateFilesFolder(const QString& projectPath) {
    if (projectPath.isEmpty()) return;
    const QDir folder = QFileInfo(projectPath).absoluteDir();
    if (folder.exists()) folder.mkdir(QStringLiteral("files"));
}

class CBatch {
public:
    CBatch(CKXConfigApp& app, ICommandLineConfiguration& configuration, const QStringList& arguments)
        : m_app(app), m_configuration(configuration), m_args(arguments),
          m_progress(stderr, CConsoleTransferProgress::StandardErrorIsTerminal()) {
        m_switchesEnd = TakeEndOfSwitches(m_args);
        // Another run waiting for a file this one writes names it so.
        SetLockHolderDescription(QStringLiteral("settings %1, port %2").arg(app.Paths.loaderSettings, app.Settings.port));
        const int busyFileWaitMs = app.Settings.busyFileWait * 1000;
        m_journal.busyFileWaitMs = busyFileWaitMs;
        m_upload.busyFileWaitMs = busyFileWaitMs;
        m_journal.showMessages = false;
        m_journal.caption.clear();
        m_journal.recordsFolder = TerminalRecordsFolder();
        m_journal.legacyFilterResetNote = FilterResetMarkerFile(app.Paths.loaderSettings);
        m_upload.showMessages = false;
        m_upload.caption.clear();
        m_upload.codec = DirectoryCodec();
        // Without a terminal to show it on, the upload need not count its
        // records first.
        if (m_progress.Shown()) {
            m_journal.transferProgress = &m_progress;
            m_upload.transferProgress = &m_progress;
        }
    }

    void Run() {
        SetProjectPath(m_app.Settings.config);
        m_filesFolder = CurrentDirectoryFiles().filesFolder;
        m_app.ResultCode = 0;
        if (!m_configuration.LoadConfigFileFMT()) {
            // Nothing has been created: a run that cannot open its project
            // leaves the disk as it was.
            m_app.ResultCode = kConfigurationNotOpened;
            return;
        }
        CreateFilesFolder(m_app.Settings.config);
        // What killed runs left beside the files they were writing.
        RemoveStaleStagingFilesIn(m_filesFolder);
        bool helpShown = false;
        for (int i = 1; i < m_args.size() && m_app.ResultCode == 0; ++i) {
            if (!Process(i)) {
                helpShown = true;
                break;
            }
        }
        if (!helpShown && m_app.ResultCode == 0 && m_upload.SelectedCount() > 0) {
            m_upload.showMessages = false;
            m_app.ResultCode = UploadDirectories(m_upload, m_app.Settings.port);
            m_app.DiagnosticText = m_upload.DiagnosticText;
            Took(m_upload.failureDetail);
        }
        if (m_app.ResultCode != 0) ReportFailure();
    }

private:
    // A name is relative to the files folder unless it is an absolute path.
    QString FilesPath(const QString& name) const {
        return name.startsWith(QLatin1Char('/')) ? name : m_filesFolder + name;
    }
    // The path of the file name `name`; a name no file can have is refused
    // with 100, never changed into another one.
    // The report (/x) is written last and replaces its file whole: no other
    // switch of the run may read or write that file (its lock would also
    // keep a writer waiting on this very run), and no file the run already
    // named may become the report.
    bool NamedPath(const QString& name, QString* path, bool report = false) {
        if (!IsUsableLocalName(name)) {
            Fail(kSyntaxError, QStringLiteral("the file name \"%1\" cannot be used: no file can have it")
                                   .arg(PrintableLocalName(name)));
            return false;
        }
        *path = FilesPath(name);
        const QString absolute = QFileInfo(*path).absoluteFilePath();
        if (!m_app.ReportFilePath.isEmpty() && absolute == QFileInfo(m_app.ReportFilePath).absoluteFilePath()) {
            Fail(kSyntaxError, QStringLiteral("the file \"%1\" is this run's report (/x): no other switch can use it")
                                   .arg(PrintableLocalName(name)));
            return false;
        }
        if (report && m_namedFiles.contains(absolute)) {
            Fail(kSyntaxError,
                 QStringLiteral("the report file \"%1\" (/x) is a file this run already uses: the report would replace it")
                     .arg(PrintableLocalName(name)));
            return false;
        }
        m_namedFiles << absolute;
        return true;
    }
    // The word after `i` is there and is a switch (never after "--").
    bool NextIsSwitch(int i) const {
        return i + 1 < m_switchesEnd && HasNext(m_args, i) && LooksLikeSwitch(m_args[i + 1]);
    }
    const QString& Port() const { return m_app.Settings.port; }
    // The file name of a switch whose name may be left out: the next word
    // when it is no switch (moving `i` past it), else `defaultName`.
    QString OptionalFileName(int& i, const QString& defaultName) const {
        const QString next = Next(m_args, i);
        if (next.isEmpty() || NextIsSwitch(i)) return defaultName;
        ++i;
        return next;
    }

    // After an exchange: its progress line goes, and its failure detail is
    // the one to report when it failed.
    void Took(const QString& failureDetail) {
        m_progress.Finish();
        if (m_app.ResultCode != 0) m_failureDetail = failureDetail;
    }
    void Fail(int code, const QString& detail) {
        m_app.ResultCode = code;
        m_failureDetail = detail;
    }

    // One line on standard error for a person: the code, its text and what
    // to look at. The report file keeps its own exact line. A configuration
    // that could not be opened has already said why.
    void ReportFailure() const {
        // A run stopped by a signal says so once, at its end.
        if (m_app.ResultCode == kConfigurationNotOpened || StopRequested()) return;
        const int code = m_app.ResultCode;
        QString line = QStringLiteral("%1 %2").arg(code).arg(ResultCodeText(code));
        if (!m_failureDetail.isEmpty()) line += QStringLiteral(": ") + m_failureDetail;
        if (ProcessExitStatus(code) != code)
            line += QStringLiteral(" (exit status %1 stands for every code above 255)").arg(ProcessExitStatus(code));
        Prompt().Error(line, QStringLiteral("kxloader"));
    }

    // Processes the switch at `i` (moving `i` past its arguments). False after
    // the help, which ends the batch.
    bool Process(int& i) {
        const QString word = m_args[i];
        if (i >= m_switchesEnd) {
            Fail(kUnknownSwitch, QStringLiteral("\"%1\" is no switch (after -- every word is a file name of the "
                                                "switch before it; /h lists the switches)")
                                     .arg(m_args[i]));
            return true;
        }
        if (word == QLatin1String("/h") || word == QLatin1String("/?")) {
            Prompt().Info(CommandLineHelpText(), QString::fromUtf8(kHelpCaption));
            return false;
        }
        if (word == QLatin1String("/f")) return Filters(i), true;
        if (word == QLatin1String("/j")) return Journal(i, DefaultOutputFile(QStringLiteral("/j")), false), true;
        if (word == QLatin1String("/n")) return Journal(i, DefaultOutputFile(QStringLiteral("/n")), true), true;
        if (word == QLatin1String("/i")) return TerminalInformation(i), true;
        if (word == QLatin1String("/c")) {
            m_app.ResultCode = m_journal.ClearJournal(Port());
            Took(m_journal.failureDetail);
            return true;
        }
        if (const int kind = KindOfSwitch(word); kind >= 0) return MarkFiles(i, kind), true;
        if (word == QLatin1String("/q")) return InfoTable(i), true;
        if (word == QLatin1String("/s")) return CurrentValuesSwitch(i), true;
        if (word == QLatin1String("/x")) return Report(i), true;
        if (word == QLatin1String("/pair")) return Pair(i), true;
        Fail(kUnknownSwitch, LooksLikeSwitch(word)
                                 ? QStringLiteral("unknown switch \"%1\" (switches are case-sensitive; /h lists them)")
                                       .arg(word)
                                 : QStringLiteral("\"%1\" is no switch (every switch starts with /; /h lists them)")
                                       .arg(word));
        return true;
    }

    void Filters(int& i) {
        FilterSet filters;
        const QString next = Next(m_args, i);
        if (!next.isEmpty() && !NextIsSwitch(i) && !ParseFilterWords(i, m_args, filters, nullptr, m_switchesEnd)) {
            Fail(kSyntaxError, BadFilterWords(QStringLiteral("/f")));
            return;
        }
        m_app.ResultCode = m_journal.ApplyFilters(Port(), filters);
        Took(m_journal.failureDetail);
    }

    // /j and /n: [file] ["filter:" words]. For /n a "filter:" right after the
    // switch is the file name, so filters need a file name before them.
    void Journal(int& i, const QString& defaultName, bool countOnly) {
        static const QString kFilterWord = QStringLiteral("filter:");
        FilterSet filters;
        QString name = defaultName;
        const QString next = Next(m_args, i);
        const bool nameGiven = !next.isEmpty() && !NextIsSwitch(i) &&
                               (countOnly || next != kFilterWord || i + 1 >= m_switchesEnd);
        if (nameGiven) {
            name = next;
            ++i;
        }
        if (HasNext(m_args, i)) {
            const QString after = Next(m_args, i);
            if (after == kFilterWord && i + 1 < m_switchesEnd) {
                ++i;
                if (!ParseFilterWords(i, m_args, filters, nullptr, m_switchesEnd)) {
                    Fail(kSyntaxError, BadFilterWords(QStringLiteral("filter:")));
                    return;
                }
            } else if (!NextIsSwitch(i)) {
                Fail(kSyntaxError,
                     QStringLiteral("\"%1\" after the journal's file name is neither filter: nor a switch").arg(after));
                return;
            }
        }
        QString path;
        if (!NamedPath(name, &path)) return;
        SetJournalFilePath(path);
        JournalDownloadOptions options;
        options.journalIdOn = m_configuration.IsUploadJournalIdOn();
        options.countOnly = countOnly;
        options.filters = filters;
        options.overwrite = m_app.Settings.overwriteJournal != 0;
        // "/j ... /c": the clear goes in the download's own session, right
        // after the lines are safely in the file.
        if (!countOnly && i + 1 < m_switchesEnd && Next(m_args, i) == QLatin1String("/c")) {
            options.clearAfter = true;
            ++i;
        }
        m_app.ResultCode = m_journal.DownloadJournal(Port(), options);
        Took(m_journal.failureDetail);
    }

    // /pair -: pairs with the network terminal at the port, where it stands
    // in the batch (so "/pair - /j" pairs and then downloads), with the code
    // read from standard input; /pair alone asks for it on a terminal. The
    // code is not taken from the command line by preference: every local
    // user can read that (/pair CODE still works).
    void Pair(int& i) {
        QString code;
        if (HasNext(m_args, i) && !NextIsSwitch(i) && Next(m_args, i) != QLatin1String("-")) {
            code = m_args[++i];
        } else {
            const bool dash = HasNext(m_args, i) && Next(m_args, i) == QLatin1String("-");
            if (dash) ++i;
            if (!dash && !StandardInputIsTerminal()) {
                Fail(kSyntaxError, QStringLiteral("/pair needs the code the terminal shows (/pair - reads it from standard input)"));
                return;
            }
            QString why;
            if (!ReadPairingCode(dash ? QString() : QStringLiteral("Код сопряжения с экрана терминала: "), &code, &why)) {
                Fail(kSyntaxError, why);
                return;
            }
        }
        const CPairOutcome r = PairTerminal(Port(), code);
        const int resultCode = PairingResultCode(r.result);
        if (resultCode != ExchangeCode::kOk) Fail(resultCode, r.text);
        else Prompt().Info(r.text, QStringLiteral("kxloader"));
    }

    void TerminalInformation(int& i) {
        TerminalSession session;
        session.showMessages = false;
        const int code = session.ConnectTerminal(Port());
        if (code != ExchangeCode::kOk) {
            Fail(code, session.failureDetail);
            return;
        }
        QString path;
        if (!NamedPath(OptionalFileName(i, DefaultOutputFile(QStringLiteral("/i"))), &path)) return;
        // Replaced whole: a kill leaves the old text or the new one.
        const QByteArray bytes = ToCrLf(CodePage::CCodec().Encode(TerminalInfoText(session.info)));
        QString error;
        if (!WriteFileWhole(path, bytes, m_app.Settings.busyFileWait * 1000, &error)) {
            Fail(ExchangeCode::kTerminalFileNotCreated, QStringLiteral("cannot write the file %1").arg(error));
            return;
        }
        m_app.ResultCode = ExchangeCode::kOk;
    }

    // The directory kind whose switch `word` is; -1 for none.
    static int KindOfSwitch(const QString& word) {
        for (const DirectoryKindInfo& info : kDirectoryKinds)
            if (info.commandLineSwitch && word == QLatin1String(info.commandLineSwitch)) return info.kind;
        return -1;
    }
    // The kind whose file is the second file of `kind`'s switch; -1 for none.
    static int SecondFileKind(int kind) {
        for (const DirectoryKindInfo& info : kDirectoryKinds)
            if (info.secondFileOf == kind) return info.kind;
        return -1;
    }

    // A kind's switch: its file, and the second kind's file where the switch
    // takes two.
    void MarkFiles(int& i, int kind) {
        const int second = SecondFileKind(kind);
        if (second < 0) {
            if (!HasNext(m_args, i)) {  // never read past the argument list
                Fail(kSyntaxError, QStringLiteral("%1 needs a file name").arg(m_args[i]));
                return;
            }
            QString path;
            if (!NamedPath(m_args[++i], &path)) return;
            m_upload.Select(kind);
            SetDirectoryFilePath(kind, path);
            return;
        }
        QString name1, name2;
        const int count = ParseFileNames(i, m_args, &name1, &name2, m_switchesEnd);
        if (count == 0) {
            Fail(kSyntaxError, QStringLiteral("%1 needs a file name").arg(m_args[i]));
            return;
        }
        QString path1, path2;
        if (!NamedPath(name1, &path1) || (count == 2 && !NamedPath(name2, &path2))) return;
        m_upload.Select(kind);
        SetDirectoryFilePath(kind, path1);
        if (count == 2) {
            m_upload.Select(second);
            SetDirectoryFilePath(second, path2);
        }
    }

    void InfoTable(int& i) {
        // A switch in the name's place is the next switch, not a file named
        // like it ("--" lets such a name through).
        if (!HasNext(m_args, i) || (i + 1 < m_switchesEnd && IsKnownSwitch(m_args[i + 1]))) {
            Fail(kSyntaxError, QStringLiteral("/q needs a file name"));
            return;
        }
        const QString name = m_args[++i];
        QString path;
        if (!name.isEmpty()) {
            if (!NamedPath(name, &path)) return;
            SetInfoFilePath(path);
        }
        const QString option = Next(m_args, i);
        if (option == QLatin1String("-s")) {
            ++i;
            m_upload.Select(UploadInfo);
            return;
        }
        const bool download = option == QLatin1String("-r") || !HasNext(m_args, i) || NextIsSwitch(i);
        if (!download) {
            Fail(kSyntaxError, QStringLiteral("/q %1 takes -r or -s, not \"%2\"").arg(name, option));
            return;
        }
        if (option == QLatin1String("-r")) ++i;
        // The one command-line exchange that shows its error boxes.
        m_upload.showMessages = true;
        m_app.ResultCode = DownloadInfoTable(m_upload, Port());
        m_upload.showMessages = false;
        Took(m_upload.failureDetail);
    }

    void CurrentValuesSwitch(int& i) {
        FilterSet words;
        FilterWordsGiven given;
        if (!ParseFilterWords(i, m_args, words, &given, m_switchesEnd)) {
            Fail(kSyntaxError, BadFilterWords(QStringLiteral("/s")));
            return;
        }
        CurrentValues values;
        if (given.operation) values.operation = words.operationId;
        if (given.executor) values.executor = words.executorId;
        if (given.address) values.address = words.addressId;
        if (given.document) values.document = words.documentId;
        m_app.ResultCode = m_journal.SetCurrentValues(Port(), values);
        Took(m_journal.failureDetail);
    }

    void Report(int& i) {
        QString path;
        if (!NamedPath(OptionalFileName(i, DefaultOutputFile(QStringLiteral("/x"))), &path, true)) return;
        // Another run still running with this report: it is that run's, and
        // this one leaves it alone (no report of its own either).
        auto lock = std::make_unique<CFileLock>();
        QString problem;
        if (!TakeReportFile(path, *lock, &problem)) {
            Fail(kReportNotWritten, problem);
            return;
        }
        m_app.ReportLock = std::move(lock);
        m_app.ReportFilePath = path;
        // Should this run be killed before its end, an earlier run's report
        // must not stand there as if it were this one's. One that cannot be
        // removed now is dealt with (and told of) at the end.
        RemoveOldReport(path);
    }

    static QString BadFilterWords(const QString& after) {
        return QStringLiteral("%1 needs words such as o=3 e=7 a=1 d=12 w=TEXT b=TEXT, each one argument "
                              "without blanks")
            .arg(after);
    }

    CKXConfigApp& m_app;
    ICommandLineConfiguration& m_configuration;
    QStringList m_args;
    int m_switchesEnd = kNoSwitchesEnd;
    CConsoleTransferProgress m_progress;
    QString m_filesFolder;
    QStringList m_namedFiles;  // every file a switch of this run named so far
    QString m_failureDetail;
    JournalExchange m_journal;
    UploadSelection m_upload;
};

}  // namespace

bool IsKnownSwitch(const QString& word) {
    static const QStringList kSwitches = [] {
        QStringList switches{"/h", "/?", "/j", "/n", "/i", "/c", "/q", "/s", "/f", "/x", "/pair"};
        for (const DirectoryKindInfo& info : kDirectoryKinds)
            if (info.commandLineSwitch) switches << QString::fromLatin1(info.commandLineSwitch);
        return switches;
    }();
    return kSwitches.contains(word);
}

bool LooksLikeSwitch(const QString& word) {
    if (!word.startsWith(QLatin1Char('/'))) return false;
    return IsKnownSwitch(word) || word.indexOf(QLatin1Char('/'), 1) < 0;
}

int TakeEndOfSwitches(QStringList& arguments) {
    const qsizetype at = arguments.indexOf(QStringLiteral("--"), 1);
    if (at < 0) return kNoSwitchesEnd;
    arguments.removeAt(at);
    return static_cast<int>(at);
}

QString FilterResetMarkerFile(const QString& loaderSettings) {
    return loaderSettings.isEmpty() ? QString() : loaderSettings + QStringLiteral(".filter-reset");
}

bool ParseFilterWords(int& index, const QStringList& arguments, FilterSet& filters, FilterWordsGiven* given,
                      int switchesEnd) {
    FilterWordsGiven seen;
    for (;;) {
        const QString word = Next(arguments, index);
        ++index;
        if (word.isEmpty()) return false;
        const QString value = word.mid(2);
        switch (word[0].unicode()) {
        case 'o': filters.operationId = LeadingInteger(value), seen.operation = true; break;
        case 'e': filters.executorId = LeadingInteger(value), seen.executor = true; break;
        case 'a': filters.addressId = LeadingInteger(value), seen.address = true; break;
        case 'd': filters.documentId = LeadingInteger(value), seen.document = true; break;
        case 'w': filters.ware = value, seen.ware = true; break;
        case 'b': filters.barcode = value, seen.barcode = true; break;
        default: return false;
        }
        filters.anySet = true;
        if (given) *given = seen;
        if (!HasNext(arguments, index) || (index + 1 < switchesEnd && LooksLikeSwitch(Next(arguments, index))))
            return true;
    }
}

int ParseFileNames(int& index, const QStringList& arguments, QString* first, QString* second, int switchesEnd) {
    if (!HasNext(arguments, index)) return 0;
    *first = arguments[++index];
    if (!HasNext(arguments, index) || (index + 1 < switchesEnd && LooksLikeSwitch(Next(arguments, index)))) return 1;
    *second = arguments[++index];
    return 2;
}

QString CommandLineHelpText() {
    QString kinds;
    for (const DirectoryKindInfo& info : kDirectoryKinds)
        if (info.commandLineHelp) kinds += QString::fromUtf8(info.commandLineHelp) + QLatin1Char('\n');
    return QStringLiteral(
               "/j filename - выгрузка журнала в указанный файл\n"
               "/n filename - получить количество строк в журнале в файл\n"
               "/i filename - получить информацию о терминале в файл\n"
               "/c - очистка журнала\n") +
           kinds +
           QStringLiteral(
               "/q filename -r -s - -r - выгрузка из терминала таблицы info. -s - загрузка в терминал таблицы info\n"
               "/s o = ID - установка текущий операции по ID на терминале\n"
               "/s e = ID - установка текущиего пользователя по ID на терминале\n"
               "/s a = ID - установка текущего адреса по ID на терминале\n"
               "/s d = ID - установка текущего документа по ID на терминале\n"
               "/f [filters] - установка/сброс фильтров\n"
               "/x [filename] - файл отчета о работе программы (код ошибки, диагностика)\n"
               "/pair - - сопряжение с терминалом в сети (порт tcp:адрес:порт) по коду с экрана терминала со "
               "стандартного ввода (/pair без кода - запрос кода в терминале; /pair code - код в командной строке, "
               "его видят другие пользователи)\n");
}

void RunCommandLine(CKXConfigApp& app, ICommandLineConfiguration& configuration,
                    const QStringList& arguments) {
    CBatch batch(app, configuration, arguments);
    batch.Run();
}
