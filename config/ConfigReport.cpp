// The printable configuration report: every page with every value, the pages
// of the operation types once per type, as Windows-1251 text with CR LF.

#include "config/ConfigInternal.h"
#include "config/ConfigModel.h"
#include "directories/DirectoryFiles.h"
#include "platform/CodePage.h"
#include "platform/Prompt.h"

using namespace SQLite3;
using namespace ConfigInternal;
using ConfigSql::Format;

namespace {

// The line breaks inside a multi-line value become CR LF like every other line end.
QString WithCrLf(const QString& text) {
    QString out;
    out.reserve(text.size() + 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\n') && (i == 0 || text[i - 1] != QLatin1Char('\r')))
            out += QLatin1String("\r\n");
        else
            out += c;
    }
    return out;
}

}  // namespace

bool CConfigModel::OnPrintConfiguration() {
    if (!RequireConfiguration()) return false;
    const QString path = CurrentDirectoryFiles().filesFolder + QStringLiteral("configuration.txt");
    switch (WriteConfigurationReport(path)) {
    case PrintResult::Done: return true;
    case PrintResult::WalkFailed: return false;  // the database error has been shown
    case PrintResult::CannotCreate:
        Prompt().Warning(QStringLiteral("Не удалось создать файл отчета!\nВозможно файл открыт другим приложением."),
                         QStringLiteral("Ошибка!"));
        return false;
    }
    return false;
}

bool CConfigModel::PrintConfiguration(const QString& path) {
    return WriteConfigurationReport(path) == PrintResult::Done;
}

CConfigModel::PrintResult CConfigModel::WriteConfigurationReport(const QString& path) {
    m_report = std::make_unique<QFile>(path);
    if (!m_report->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_report.reset();
        return PrintResult::CannotCreate;
    }
    bool walked = true;
    try {
        CSQLiteTransaction templateBatch(m_template);
        CSQLiteTransaction batch(m_working);
        WriteReportLine(QStringLiteral("Распечатка конфигурации: %1\r\n").arg(m_projectPath), 0);
        PrintNodes(QStringLiteral("nodes_root"), kNull, kNull, 0);
        // The walk writes only the template's defaults for pages that had
        // none, which the next walk writes again: a failed commit is shown,
        // and the report still shows the configuration as it stands.
        CommitShown(batch);
        CommitShown(templateBatch);
    } catch (const CSQLiteException&) {
        // Shown by every level it passed. An incomplete report is not shown as
        // if it were the configuration.
        walked = false;
    }
    const bool written = m_report->error() == QFileDevice::NoError;
    m_report->close();
    m_report.reset();
    if (!walked) return PrintResult::WalkFailed;
    if (!written) return PrintResult::CannotCreate;
    Prompt().OpenInViewer(path);
    return PrintResult::Done;
}

void CConfigModel::WriteReportLine(const QString& text, int level) {
    if (!m_report) return;
    QByteArray bytes;
    bytes.reserve(text.size() + 2 * level + 2);
    bytes.fill(' ', 2 * qMax(level, 0));
    CodePage::AppendWindows1251(WithCrLf(text), bytes);
    bytes += "\r\n";
    m_report->write(bytes);
}

bool CConfigModel::PrintNodes(const QString& nodeTable, const QString& operationName, const QString& operTypeId,
                              int level) {
    try {
        for (const TemplateNode& node : ReadTemplateNodes(m_template, nodeTable)) {
            const QString& children = node.children;
            const QString& listTable = node.listTable;
            if (node.name == kOperationNode) {
                const CSQLiteTable types = Query(m_working, kOperationTypesInOrder);
                for (const QStringList& type : types.Rows) {
                    WriteReportLine(QStringLiteral("Операция: %1").arg(type[1]), level);
                    if (!children.isEmpty()) PrintNodes(children, type[1], type[0], level + 1);
                }
                continue;
            }
            WriteReportLine(node.name, level);
            if (!listTable.isEmpty()) {
                const CSQLiteTable params =
                    Query(m_template, Format(u"SELECT name, param_id, type, source_data FROM %s", {listTable}));
                for (const QStringList& p : params.Rows) {
                    QString value;
                    if (!ReadParamValue(listTable, p[1], operTypeId, &value)) continue;
                    // A value of an unknown type is left out; a choice the
                    // source table lacks is printed as "???".
                    const ParamType type = ParseParamType(p[2]);
                    if (type == ParamType::Unknown) continue;
                    QString shown;
                    if (!ShownParamValue(m_template, type, p[3], value, &shown)) shown = QStringLiteral("???");
                    WriteReportLine(QStringLiteral("%1: %2").arg(p[0], shown), level);
                }
            }
            if (!children.isEmpty()) PrintNodes(children, operationName, operTypeId, level + 1);
        }
        return true;
    } catch (const CSQLiteException& e) {
        e.Show(QString());
        throw;
    }
}
