#include "ui/main/DirsDlg.h"
#include "ui/main/PairTerminalDlg.h"

#include "app/Settings.h"
#include "directories/DirectoryFiles.h"
#include "exchange/TerminalDatabase.h"
#include "exchange/TerminalSession.h"
#include "platform/ProfileFile.h"
#include "platform/ProgramFolder.h"
#include "platform/Prompt.h"
#include "platform/SerialPortList.h"
#include "ui/common/AboutDlg.h"
#include "ui/common/Buttons.h"
#include "ui/common/DialogUnits.h"
#include "ui/common/FileVersionInfo.h"
#include "ui/common/PortBox.h"
#include "ui/directories/EditDirGridDlg.h"
#include "ui/exchange/CheckTerminalDlg.h"
#include "ui/exchange/ExchangeUi.h"
#include "ui/exchange/LoadConfigToTerminalDlg.h"
#include "ui/exchange/RecvJournalDlg.h"
#include "ui/exchange/UploadingDirDlg.h"
#include "ui/main/ConfiguratorLauncher.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

// The current project's path, shortened in the middle to fit; the whole
// path is its tool tip.
class CPathLabel : public QLabel {
public:
    using QLabel::QLabel;
    void SetPath(const QString& path) {
        m_path = path;
        setToolTip(path);
        Elide();
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        Elide();
    }

private:
    void Elide() { setText(fontMetrics().elidedText(m_path, Qt::ElideMiddle, qMax(0, width()))); }
    QString m_path;
};

// "Выбрать все": a three-state box that a click does not change by itself;
// the window sets its state from the directory boxes.
class CTriStateButton : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override {}
};

namespace {

const QString kCaptionError = QStringLiteral("Ошибка!");
const QString kCaptionLoader = QStringLiteral("KXLoader");
const QString kSection = QString::fromLatin1(kSettingsSection);
// "Выход", Escape and the close box end the window as a cancel.
constexpr int kLeaveResult = 2;

QString Id(int id) { return ControlName(id); }

// Enter is handled by the window itself (keyPressEvent), never by a default button.
QPushButton* Button(QWidget* parent, const QString& text, int id) { return MakeButton(parent, text, Id(id)); }

CSettingsPaths Paths() { return CSettingsPaths::ForProgramFolder(ProgramFolder()); }

}  // namespace

CDirsDlg::CDirsDlg(const QFont& font, QWidget* parent) : QDialog(parent), m_font(font) {
    setObjectName(QStringLiteral("CDirsDlg"));
    setWindowTitle(QStringLiteral("Справочники"));
    setFont(font);
    BuildControls();
}

CDirsDlg::~CDirsDlg() {
    // The watcher's thread ends before the window it notifies.
    m_watcher.SetNotifyWindow(nullptr, nullptr);
    m_watcher.Stop();
}

void CDirsDlg::BuildControls() {
    auto* layout = new QVBoxLayout(this);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Текущая конфигурация:"), this));
    m_path = new CPathLabel(this);
    m_path->setObjectName(Id(1021));
    m_path->setMinimumWidth(120);
    m_path->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    top->addWidget(m_path, 1);
    layout->addLayout(top);

    auto* middle = new QHBoxLayout;
    layout->addLayout(middle, 1);

    // Directories.
    auto* directories = new QGroupBox(QStringLiteral("Справочники"), this);
    auto* grid = new QGridLayout(directories);
    // Made in screen order, which is the order of the focus chain.
    for (int position = 0; position < kDirectoryKindCount; ++position) {
        const DirectoryKindInfo& info = KindAtMainWindowPosition(position);
        const MainWindowRow& ids = info.mainWindow;
        Row& row = m_rows[static_cast<size_t>(info.kind)];
        row.kind = info.kind;
        row.check = new QCheckBox(directories);
        row.check->setObjectName(Id(ids.checkId));
        row.check->setEnabled(false);
        row.label = new QLabel(QString::fromUtf8(ids.label), directories);
        row.label->setObjectName(Id(ids.labelId));
        row.label->setBuddy(row.check);
        row.edit = Button(directories, QStringLiteral("Создать"), ids.editId);
        grid->addWidget(row.check, ids.position, 0);
        grid->addWidget(row.label, ids.position, 1);
        grid->addWidget(row.edit, ids.position, 2);
        const int kind = info.kind;
        connect(row.check, &QCheckBox::clicked, this, &CDirsDlg::UpdateChoice);
        connect(row.edit, &QPushButton::clicked, this, [this, kind] { OnEditDirectory(kind); });
    }
    const int line = kDirectoryKindCount;
    grid->setColumnStretch(1, 1);
    m_selectAll = new CTriStateButton(QStringLiteral("Выбрать все"), directories);
    m_selectAll->setObjectName(Id(1043));
    m_selectAll->setTristate(true);
    connect(m_selectAll, &QCheckBox::clicked, this, &CDirsDlg::OnSelectAll);
    // Only as wide as its text: a click beside the text hits nothing.
    grid->addWidget(m_selectAll, line, 0, 1, 2, Qt::AlignLeft);
    m_upload = Button(directories, QStringLiteral("Загрузка в терминал"), 1010);
    m_upload->setEnabled(false);
    connect(m_upload, &QPushButton::clicked, this, &CDirsDlg::OnUploadDirectories);
    // On a line of its own: beside "Выбрать все" its width would widen the
    // column of the edit buttons, and the window past a small screen at
    // twice the scale.
    grid->addWidget(m_upload, line + 1, 0, 1, 3, Qt::AlignRight);
    middle->addWidget(directories, 3, Qt::AlignTop);

    auto* right = new QVBoxLayout;
    middle->addLayout(right, 2);

    // Scan journal.
    auto* journal = new QGroupBox(QStringLiteral("Журнал сканирования"), this);
    auto* journalLayout = new QVBoxLayout(journal);
    m_overwrite = new QCheckBox(QStringLiteral("Перезаписывать"), journal);
    m_overwrite->setObjectName(Id(1024));
    connect(m_overwrite, &QCheckBox::clicked, this, &CDirsDlg::OnOverwriteJournal);
    journalLayout->addWidget(m_overwrite);
    auto* journalButtons = new QHBoxLayout;
    auto* download = Button(journal, QStringLiteral("Выгрузка"), 1013);
    auto* view = Button(journal, QStringLiteral("Просмотр"), 1017);
    connect(download, &QPushButton::clicked, this, &CDirsDlg::OnDownloadJournal);
    connect(view, &QPushButton::clicked, this, &CDirsDlg::OnViewJournal);
    journalButtons->addWidget(download);
    journalButtons->addWidget(view);
    journalLayout->addLayout(journalButtons);
    right->addWidget(journal);

    // Configuration.
    auto* configuration = new QGroupBox(QStringLiteral(" Конфигурация "), this);
    auto* configurationLayout = new QGridLayout(configuration);
    m_create = Button(configuration, QStringLiteral("Создать"), 1022);
    m_configurator = Button(configuration, QStringLiteral("Редактор"), 1014);
    m_create->setEnabled(false);
    m_configurator->setEnabled(false);
    auto* open = Button(configuration, QStringLiteral("Установить"), 1015);
    auto* print = Button(configuration, QStringLiteral("Печать"), 1023);
    auto* load = Button(configuration, QStringLiteral("Загрузить в терминал"), 1016);
    auto* exportButton = Button(configuration, QStringLiteral("Экспорт конфигурации"), 1004);
    configurationLayout->addWidget(m_create, 0, 0);
    configurationLayout->addWidget(m_configurator, 0, 1);
    configurationLayout->addWidget(open, 1, 0);
    configurationLayout->addWidget(print, 1, 1);
    configurationLayout->addWidget(load, 2, 0, 1, 2);
    configurationLayout->addWidget(exportButton, 3, 0, 1, 2);
    connect(m_create, &QPushButton::clicked, this, &CDirsDlg::OnCreateProject);
    connect(m_configurator, &QPushButton::clicked, this, &CDirsDlg::OnConfigurator);
    connect(open, &QPushButton::clicked, this, &CDirsDlg::OnOpenProject);
    connect(print, &QPushButton::clicked, this, &CDirsDlg::OnPrint);
    connect(load, &QPushButton::clicked, this, &CDirsDlg::OnLoadConfiguration);
    connect(exportButton, &QPushButton::clicked, this, &CDirsDlg::OnExport);
    right->addWidget(configuration);

    // Connection.
    auto* connection = new QGroupBox(QStringLiteral("Настройки подключения"), this);
    // The port field takes the group's width, "Проверка" the line below, so a
    // device path shows whole and the window still fits a small screen.
    auto* connectionLayout = new QGridLayout(connection);
    auto* portLabel = new QLabel(QStringLiteral("Порт:"), connection);
    connectionLayout->addWidget(portLabel, 0, 0);
    m_port = MakePortBox(connection, Id(1029), {});
    portLabel->setBuddy(m_port);
    connectionLayout->addWidget(m_port, 0, 1);
    connectionLayout->setColumnStretch(1, 1);
    auto* check = Button(connection, QStringLiteral("Проверка"), 1020);
    connect(check, &QPushButton::clicked, this, &CDirsDlg::OnCheckTerminal);
    // Like every button of this window it is no default button: Enter on
    // the port field takes the port, it never starts a pairing.
    QPushButton* pairButton = MakeButton(connection, QStringLiteral("Сопряжение..."), QStringLiteral("pairTerminal"));
    connect(pairButton, &QPushButton::clicked, this, [this] { CPairTerminalDlg(PortText(), this).exec(); });
    // The two buttons share the line below the port across the whole group,
    // "Проверка" first in the focus chain as on its own before.
    auto* connectionButtons = new QHBoxLayout;
    connectionButtons->addStretch(1);
    connectionButtons->addWidget(pairButton);
    connectionButtons->addWidget(check);
    connectionLayout->addLayout(connectionButtons, 1, 0, 1, 2);
    right->addWidget(connection);
    right->addStretch(1);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    auto* exit = Button(this, QStringLiteral("Выход"), 2);
    connect(exit, &QPushButton::clicked, this, &CDirsDlg::Leave);
    bottom->addWidget(exit);
    layout->addLayout(bottom);

    // The width of the dialog units; the height the controls need.
    resize(qMax(CDialogUnits(m_font).Size(351, 291).width(), sizeHint().width()), sizeHint().height());
}

void CDirsDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_initialised) return;
    m_initialised = true;
    if (m_closeAtOnce) {
        QTimer::singleShot(0, this, [this] { done(kLeaveResult); });
        return;
    }
    Initialize();
}

void CDirsDlg::Initialize() {
    m_path->SetPath(QString());
    AddAboutToWindowMenu(this);
    for (Row& row : m_rows) row.baseLabel = row.label->text();

    m_port->addItems(PortChoices());

    const CSettingsPaths paths = Paths();
    const QString port = ReadPortSetting(paths);
    const int setEdit = Profile::ReadInt(paths.configSettings, kSection, QStringLiteral("setedit"), 0);
    m_overwriteJournal =
        Profile::ReadInt(paths.loaderSettings, kSection, QStringLiteral("OverwriteJournal"), m_overwriteJournal);
    m_overwrite->setChecked(m_overwriteJournal != 0);
    WriteLoaderSetting(paths, QStringLiteral("OverwriteJournal"), QString::number(m_overwriteJournal));

    if (setEdit != 0) {
        m_create->setEnabled(true);
        m_configurator->setEnabled(true);
    }
    ShowPort(m_port, port);

    setWindowTitle(QStringLiteral("Программа обмена данными KXLoader (ver: %1)")
                       .arg(CFileVersionInfo().VersionText()));

    int closeResult = 0;
    m_model.LoadConfigFileFMT(&closeResult);
    if (closeResult != 0) {
        // No database library or no template: nothing here can work.
        QTimer::singleShot(0, this, [this, closeResult] { done(closeResult); });
        return;
    }

    m_watcher.SetNotifyWindow(this, [this] { RefreshDirectoryRows(); });
    FollowProject();
    // A person at the keyboard starts where the work starts: the first
    // directory that can be chosen, else the port.
    QWidget* start = m_port;
    for (int position = kDirectoryKindCount - 1; position >= 0; --position) {
        const Row& row = m_rows[static_cast<size_t>(KindAtMainWindowPosition(position).kind)];
        if (row.check->isEnabled()) start = row.check;
    }
    start->setFocus(Qt::OtherFocusReason);
}

void CDirsDlg::ShowProjectPath() {
    m_path->SetPath(m_model.IsConfigurationOpen() ? m_model.ProjectPath() : QString());
}

// At opening and after another project became current: the watcher on the
// files folder (also when it could not run on the previous one), then the
// summaries, so that no write falls between the count and the watch.
void CDirsDlg::FollowProject() {
    ShowProjectPath();
    m_watcher.SetFolder(CurrentDirectoryFiles().filesFolder, false,
                        FolderChange::kFileName | FolderChange::kSize | FolderChange::kLastWrite);
    if (!m_watcher.IsRunning()) m_watcher.Start();
    RebuildSummaries(m_summaries);
    RefreshDirectoryRows();
}

void CDirsDlg::RefreshDirectoryRows() {
    for (DirectorySummary& summary : m_summaries) {
        if (summary.kind < 0 || summary.kind >= static_cast<int>(m_rows.size())) continue;
        Row& row = m_rows[static_cast<size_t>(summary.kind)];
        if (summary.Refresh(true) || summary.lineCount < 0) summary.CountLines();
        if (summary.lineCount > 0) {
            QString count;
            if (summary.fieldCount < 0 && summary.lineCount >= DirectorySummary::kLineCountCap)
                count = QStringLiteral("   (>%1)").arg(DirectorySummary::kLineCountCap);
            else
                count = QStringLiteral("   (%1)").arg(summary.lineCount);
            row.label->setText(row.baseLabel + count);
            row.check->setEnabled(true);
            row.edit->setText(QStringLiteral("Редакт."));
        } else {
            row.label->setText(row.baseLabel);
            row.check->setChecked(false);
            row.check->setEnabled(false);
            row.edit->setText(QStringLiteral("Создать"));
        }
    }
    UpdateChoice();
}

void CDirsDlg::UpdateChoice() {
    int checked = 0, enabled = 0, enabledChecked = 0;
    for (const Row& row : m_rows) {
        if (row.check->isChecked()) ++checked;
        if (row.check->isEnabled()) {
            ++enabled;
            if (row.check->isChecked()) ++enabledChecked;
        }
    }
    m_upload->setEnabled(checked > 0);
    if (checked == 0) m_selectAll->setCheckState(Qt::Unchecked);
    else if (enabledChecked == enabled) m_selectAll->setCheckState(Qt::Checked);
    else m_selectAll->setCheckState(Qt::PartiallyChecked);
}

void CDirsDlg::OnSelectAll() {
    const bool check = m_selectAll->checkState() != Qt::Checked;
    m_selectAll->setCheckState(check ? Qt::Checked : Qt::Unchecked);
    for (Row& row : m_rows)
        if (row.check->isEnabled()) row.check->setChecked(check);
    int checked = 0;
    for (const Row& row : m_rows) checked += row.check->isChecked() ? 1 : 0;
    m_upload->setEnabled(checked > 0);
}

QString CDirsDlg::PortText() const { return m_port->currentText(); }

bool CDirsDlg::SavePort(QString* error) { return WriteLoaderSetting(Paths(), QStringLiteral("port"), PortText(), error); }

bool CDirsDlg::RequireProject() {
    if (m_model.IsConfigurationOpen()) return true;
    Prompt().Warning(QStringLiteral("Не открыта конфигурация!"), kCaptionError);
    return false;
}

// ------------------------------------------------------------------ buttons

void CDirsDlg::OnEditDirectory(int kind) {
    if (!RequireProject()) return;
    CEditDirGridDlg editor(&m_model, m_font, this);
    editor.SetKind(kind);
    editor.exec();
    if (kind < 0 || kind >= m_summaries.size()) return;
    DirectorySummary& summary = m_summaries[kind];
    if (editor.RowsMatchFile()) {
        summary.lineCount = editor.RowCount();
        summary.fieldCount = editor.ColumnCount();
        summary.Refresh(true);
    } else {
        // Edits were thrown away or the file could not be read whole: the
        // table is not what the file holds, so the file is counted instead.
        summary.lineCount = -1;
    }
    RefreshDirectoryRows();
}

void CDirsDlg::OnViewJournal() {
    if (!RequireProject()) return;
    CEditDirGridDlg viewer(&m_model, m_font, this);
    viewer.SetKind(JournalView, m_model.IsUploadJournalIdOn());
    viewer.exec();
}

void CDirsDlg::OnUploadDirectories() {
    if (!RequireProject()) return;
    SavePort();
    CUploadingDirDlg upload(this);
    // The window's flags by kind, the upload order.
    for (int kind = 0; kind < static_cast<int>(m_rows.size()); ++kind)
        upload.Choose(kind, m_rows[static_cast<size_t>(kind)].check->isChecked());
    const int result = upload.exec();
    if (result == CUploadingDirDlg::NothingChosen)
        Prompt().Warning(QStringLiteral("Выберите галочками справочники, которые необходимо загрузить!"),
                         kCaptionError);
    else if (result == CUploadingDirDlg::Uploaded)
        Prompt().Info(QStringLiteral("Справочники загружены успешно!"), QStringLiteral("Сообщение"));
}

void CDirsDlg::OnDownloadJournal() {
    if (!RequireProject()) return;
    SavePort();
    CRecvJournalDlg download(kCaptionLoader, m_model.IsUploadJournalIdOn(), m_overwriteJournal != 0, this);
    if (download.exec() == CRecvJournalDlg::Downloaded)
        Prompt().Info(QStringLiteral("Журнал выгружен в %1!").arg(CurrentDirectoryFiles().journalFile),
                      kCaptionLoader);
}

void CDirsDlg::OnOverwriteJournal(bool on) {
    m_overwriteJournal = on ? 1 : 0;
    WriteLoaderSetting(Paths(), QStringLiteral("OverwriteJournal"), QString::number(m_overwriteJournal));
}

void CDirsDlg::OnLoadConfiguration() {
    if (!RequireProject()) return;
    if (!m_rows[Operations].check->isEnabled()) {
        Prompt().Error(QStringLiteral("Нельзя загружать конфигурацию без справочника операций!\n"
                                      "Создайте справочник операций!"),
                       QStringLiteral("Внимание"));
        return;
    }
    SavePort();
    CLoadConfigToTerminalDlg load(m_model, PortText(), this);
    load.exec();
}

void CDirsDlg::OnCheckTerminal() {
    SavePort();
    const QString port = PortText();
    TerminalInfo info;
    CCheckTerminalDlg check(
        [&info, port] {
            TerminalSession session;
            session.caption = kCaptionLoader;
            const int result = session.ConnectTerminal(port);
            info = session.info;
            return result;
        },
        this);
    if (check.exec() == 0) Prompt().Info(TerminalInfoText(info), QStringLiteral("Сведения о терминале"));
}

void CDirsDlg::OnConfigurator() {
    if (!RequireProject()) return;
    const QString before = m_model.ProjectPath();
    RunConfiguratorWindow(m_model, m_font, this);
    // Saving under a new name moves the project and its directory files.
    if (m_model.ProjectPath() != before) FollowProject();
    else ShowProjectPath();
}

void CDirsDlg::OnPrint() {
    if (!RequireProject()) return;
    m_model.OnPrintConfiguration();
}

void CDirsDlg::OnExport() { ExportConfiguration(m_model); }

void CDirsDlg::OnOpenProject() {
    m_model.OpenConfigFile();
    FollowProject();
}

void CDirsDlg::OnCreateProject() {
    m_model.CreateConfigFile();
    FollowProject();
}

// ------------------------------------------------------------------ leaving

void CDirsDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Enter in the port field confirms the port just typed; on a button
        // it presses the button; anywhere else it means leaving, with the
        // question, never a silent end.
        QWidget* focus = focusWidget();
        auto* button = qobject_cast<QPushButton*>(focus);
        if (focus && (focus == m_port || m_port->isAncestorOf(focus))) TakePort();
        else if (button && button->isVisible() && button->isEnabled()) button->click();
        else if (!button) Leave();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CDirsDlg::TakePort() {
    ShowPort(m_port, PortText());
    ReportPortNotSaved();
}

void CDirsDlg::reject() { Leave(); }

void CDirsDlg::Leave() {
    const int answer = Prompt().Message(QStringLiteral("Вы уверены, что хотите выйти из приложения?"),
                                        kCaptionLoader, PromptIcon::Question, PromptButtons::YesNo);
    if (answer != AnswerYes) return;
    if (m_model.IsConfigurationOpen()) m_model.Close();
    ReportPortNotSaved();
    done(kLeaveResult);
}

void CDirsDlg::ReportPortNotSaved() {
    // The port is remembered for the next start; a settings file that cannot
    // be written must not lose it without a word.
    QString why;
    if (!SavePort(&why))
        Prompt().Warning(QStringLiteral("Не удалось сохранить порт %1 в файле настроек %2: %3")
                             .arg(PortText(), Paths().loaderSettings, why),
                         kCaptionLoader);
}
