// Builds the demo configuration at build time with the configuration model
// itself: a new project from the shipped template, three operation types and a
// few values a warehouse would set. Usage: kx_make_demo TEMPLATE PROJECT

#include "config/ConfigModel.h"
#include "storage/SQLite3.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <cstdio>

namespace {

struct DemoValue {
    const char* operTypeId;  // "NULL" for a global parameter
    const char* place;
    const char* param;
    const char* value;
};

// Values stored as the configurator would store them (a combo box: the id).
constexpr DemoValue kValues[] = {
    {"NULL", "listparams_options", "p_terminal_name", "Демо-терминал"},
    {"NULL", "listparams_options", "p_upload_journal_id", "1"},
    {"NULL", "listparams_screen", "p_header_text", "KX Демо-склад"},
    {"NULL", "listparams_exchange", "p_exchange_port", "3"},
    // Operations of the demo's own operations directory (demo_opers.ux3).
    {"1", "listparams_operation", "p_oper_directory_id", "1"},
    {"2", "listparams_operation", "p_oper_directory_id", "3"},
    {"3", "listparams_operation", "p_oper_directory_id", "5"},
    {"1", "listparams_operation", "p_oper_code", "10"},
    {"1", "listparams_operation", "p_oper_description", "Приемка товара от поставщика\r\nпо накладной"},
    {"1", "listparams_oper_input", "p_ask_document", "1"},
    {"1", "listparams_oper_quantity", "p_quantity_mode", "2"},
    {"1", "listparams_oper_control", "p_check_plan", "1"},
    {"2", "listparams_operation", "p_oper_code", "20"},
    {"2", "listparams_operation", "p_oper_description", "Отгрузка покупателю по заказу"},
    {"2", "listparams_oper_input", "p_ask_document", "2"},
    {"2", "listparams_oper_control", "p_check_plan", "2"},
    {"2", "listparams_oper_control", "p_check_ware", "2"},
    {"3", "listparams_operation", "p_oper_code", "30"},
    {"3", "listparams_operation", "p_oper_description", "Пересчет остатков по ячейкам"},
    {"3", "listparams_oper_input", "p_ask_address", "1"},
    {"3", "listparams_oper_input", "p_ask_document", "0"},
    {"3", "listparams_oper_control", "p_check_duplicate", "1"},
};

constexpr const char* kTypes[] = {"Приемка", "Отгрузка", "Инвентаризация"};

int Fail(const QString& text) {
    std::fprintf(stderr, "kx_make_demo: %s\n", text.toLocal8Bit().constData());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) return Fail(QStringLiteral("usage: kx_make_demo TEMPLATE PROJECT"));
    const QString templatePath = args[1];
    const QString projectPath = args[2];
    // Written under another name first: a failed build leaves no half project.
    const QString partial = projectPath + QStringLiteral(".partial");

    try {
        CConfigModel model;
        if (!model.OpenTemplate(templatePath)) return Fail(QStringLiteral("no template ") + templatePath);
        if (!model.Create(partial)) return Fail(QStringLiteral("cannot create ") + partial);
        for (const char* name : kTypes) {
            QString id;
            model.AddOperationType(QString::fromUtf8(name), &id);
        }
        {
        SQLite3::CSQLiteStatement update(
            model.Working(),
            QStringLiteral("UPDATE ParamsValue SET value = ? WHERE OperTypeID = ? AND place_id = ? AND param_id = ?"));
        for (const DemoValue& v : kValues) {
            update.BindText(1, QString::fromUtf8(v.value));
            update.BindText(2, QString::fromUtf8(v.operTypeId));
            update.BindText(3, QString::fromUtf8(v.place));
            update.BindText(4, QString::fromUtf8(v.param));
            update.StepAll();
        }
        }  // the statement must be finalized before the connection closes
        // The demo's menu offers the plan report and leaves out the info screen.
        model.Working().Exec(QStringLiteral("DELETE FROM m_mainmenu WHERE id = 7"));
        if (!model.Save()) return Fail(QStringLiteral("cannot save ") + partial);
        model.Close();
    } catch (const SQLite3::CSQLiteException& e) {
        return Fail(e.Text());
    }
    QFile::remove(projectPath);
    if (!QFile::rename(partial, projectPath)) return Fail(QStringLiteral("cannot write ") + projectPath);
    return 0;
}
