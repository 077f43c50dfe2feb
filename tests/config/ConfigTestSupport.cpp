#include "tests/config/ConfigTestSupport.h"

#include <QDir>

using namespace SQLite3;

void WriteSmallTemplate(const QString& path) {
    CSQLiteConnection db;
    db.OpenConnection(path);
    db.SetSynchronous(0);
    db.Exec("BEGIN");
    const char* const statements[] = {
        "CREATE TABLE nodes_root(name VARCHAR, table_nodes VARCHAR, table_listparams VARCHAR, caption VARCHAR)",
        "INSERT INTO nodes_root VALUES('Общие', 'nodes_general', 'listparams_options', 'Общие настройки терминала')",
        "INSERT INTO nodes_root VALUES('__OPERATION', 'nodes_operation', 'listparams_operation', 'Тип операции')",
        "INSERT INTO nodes_root VALUES('Журнал', '', 'listparams_journal', 'Журнал сканирования')",
        "INSERT INTO nodes_root VALUES('Пустая', '', '', 'Страница без параметров')",
        "CREATE TABLE nodes_general(name VARCHAR, table_nodes VARCHAR, table_listparams VARCHAR, caption VARCHAR)",
        "INSERT INTO nodes_general VALUES('Звук', '', 'listparams_sound', 'Звуковые сигналы')",
        "CREATE TABLE nodes_operation(name VARCHAR, table_nodes VARCHAR, table_listparams VARCHAR, caption VARCHAR)",
        "INSERT INTO nodes_operation VALUES('Ввод', 'nodes_oper_input', 'listparams_oper_input', 'Ввод данных')",
        "INSERT INTO nodes_operation VALUES('Контроль', '', 'listparams_oper_control', 'Контроль ввода')",
        "CREATE TABLE nodes_oper_input(name VARCHAR, table_nodes VARCHAR, table_listparams VARCHAR, caption VARCHAR)",
        "INSERT INTO nodes_oper_input VALUES('Количество', '', 'listparams_oper_qty', 'Ввод количества')",

        "CREATE TABLE listparams_options(name VARCHAR, type VARCHAR, source_data VARCHAR, default_value VARCHAR, "
        "param_help_text VARCHAR, param_id VARCHAR)",
        "INSERT INTO listparams_options VALUES('Имя терминала', 'text', '', 'Терминал 1', 'Имя в заголовке', 'p_name')",
        "INSERT INTO listparams_options VALUES('ID в журнале', 'combobox', 'combosource_yesno', '0', "
        "'Выгружать ID записей', 'p_upload_journal_id')",
        "INSERT INTO listparams_options VALUES('Таймаут', 'integer', '', '30', 'Секунды', 'p_timeout')",
        "INSERT INTO listparams_options VALUES('Приветствие', 'multiline text', '', 'Привет' || char(10) || 'мир', "
        "'Текст заставки', 'p_welcome')",
        "INSERT INTO listparams_options VALUES('Папка', 'path', '', '\\Storage\\KX\\', 'Папка данных', 'p_folder')",
        "INSERT INTO listparams_options VALUES('Ползунок', 'slider', '', '5', 'Неизвестный тип', 'p_odd')",
        "CREATE TABLE listparams_sound(name VARCHAR, type VARCHAR, source_data VARCHAR, default_value VARCHAR, "
        "param_help_text VARCHAR, param_id VARCHAR)",
        "INSERT INTO listparams_sound VALUES('Громкость', 'combobox', 'combosource_volume', '2', 'Громкость', "
        "'p_volume')",
        "CREATE TABLE listparams_journal(name VARCHAR, type VARCHAR, source_data VARCHAR, default_value VARCHAR, "
        "param_help_text VARCHAR, param_id VARCHAR)",
        "INSERT INTO listparams_journal VALUES('Размер', 'integer', '', '1000', 'Записей', 'p_journal_size')",
        "CREATE TABLE listparams_operation(name VARCHAR, type VARCHAR, source_data VARCHAR, default_value VARCHAR, "
        "param_help_text VARCHAR, param_id VARCHAR)",
        "INSERT INTO listparams_operation VALUES('Название', 'text', '', 'Новая операция', 'Имя типа', 'oper_type')",
        "INSERT INTO listparams_operation VALUES('Код', 'integer', '', '0', 'Код типа', 'p_code')",
        "INSERT INTO listparams_operation VALUES('Операция справочника', 'combobox', 'combosource_operations', '0', "
        "'Из справочника', 'p_dir_op')",
        "CREATE TABLE listparams_oper_input(name VARCHAR, type VARCHAR, source_data VARCHAR, default_value VARCHAR, "
        "param_help_text VARCHAR, param_id VARCHAR)",
        "INSERT INTO listparams_oper_input VALUES('Запрос исполнителя', 'combobox', 'combosource_yesno', '1', "
        "'Спрашивать исполнителя', 'p_ask_executor')",
        "INSERT INTO listparams_oper_input VALUES('Подсказка', 'text', '', 'Сканируйте', 'Строка подсказки', 'p_hint')",
        "CREATE TABLE listparams_oper_control(name VARCHAR, type VARCHAR, source_data VARCHAR, default_value VARCHAR, "
        "param_help_text VARCHAR, param_id VARCHAR)",
        "INSERT INTO listparams_oper_control VALUES('Проверка', 'combobox', 'combosource_check', '0', 'Контроль', "
        "'p_check')",
        "INSERT INTO listparams_oper_control VALUES('Сообщение', 'multiline text', '', 'Ошибка', 'Текст', 'p_msg')",
        "CREATE TABLE listparams_oper_qty(name VARCHAR, type VARCHAR, source_data VARCHAR, default_value VARCHAR, "
        "param_help_text VARCHAR, param_id VARCHAR)",
        "INSERT INTO listparams_oper_qty VALUES('Максимум', 'integer', '', '9999', 'Наибольшее количество', "
        "'p_qty_max')",

        "CREATE TABLE combosource_yesno(id INTEGER, name VARCHAR)",
        "INSERT INTO combosource_yesno VALUES(0, 'Нет')",
        "INSERT INTO combosource_yesno VALUES(1, 'Да')",
        "CREATE TABLE combosource_volume(id INTEGER, name VARCHAR)",
        "INSERT INTO combosource_volume VALUES(0, 'Выкл')",
        "INSERT INTO combosource_volume VALUES(1, 'Тихо')",
        "INSERT INTO combosource_volume VALUES(2, 'Громко')",
        "CREATE TABLE combosource_check(id INTEGER, name VARCHAR)",
        "INSERT INTO combosource_check VALUES(0, 'Не проверять')",
        "INSERT INTO combosource_check VALUES(1, 'Запрещать')",
        "CREATE TABLE combosource_operations(id INTEGER, name VARCHAR(100))",
        "INSERT INTO combosource_operations VALUES(0, '')",
    };
    for (const char* sql : statements) db.Exec(QString::fromUtf8(sql));
    db.Exec("COMMIT");
    db.CloseConnection();
}

static void Outline(QStandardItem* parent, int level, QStringList& out) {
    for (int r = 0; r < parent->rowCount(); ++r) {
        QStandardItem* child = parent->child(r);
        out << QString(2 * level, QLatin1Char(' ')) + child->text();
        Outline(child, level + 1, out);
    }
}

QStringList TreeOutline(CParamTree& tree) {
    QStringList out;
    Outline(tree.Root(), 0, out);
    return out;
}

QStandardItem* FindItem(CParamTree& tree, const QString& text) {
    for (QStandardItem* item : tree.AllItems())
        if (item->text() == text) return item;
    return nullptr;
}

QStringList ListValues(const QStandardItemModel& list) {
    QStringList out;
    for (int r = 0; r < list.rowCount(); ++r) {
        const QStandardItem* cell = list.item(r, 1);
        out << (cell ? cell->text() : QString());
    }
    return out;
}

void ConfigFixture::SetUp() {
    ConfigModelFixture::SetUp();
    WriteSmallTemplate(templatePath);
    ASSERT_TRUE(model.OpenTemplate(templatePath));
    projectPath = dir.File(QStringLiteral("shop.kxc"));
    ASSERT_TRUE(model.Create(projectPath));
    SetProjectPath(projectPath);
    QDir().mkpath(dir.File(QStringLiteral("files")));
}

QString ConfigFixture::AddType(const QString& name) {
    QString id;
    EXPECT_TRUE(model.AddOperationType(name, &id));
    return id;
}

QString ConfigFixture::Value(const QString& operTypeId, const QString& place, const QString& param) {
    return Scalar(model.Working(),
                  QStringLiteral("SELECT value FROM ParamsValue WHERE OperTypeID = '%1' AND place_id = '%2' AND "
                                 "param_id = '%3'")
                      .arg(operTypeId, place, param));
}

QString ConfigFixture::ProjectValue(const QString& operTypeId, const QString& place, const QString& param) {
    CSQLiteConnection project;
    project.OpenConnection(projectPath);
    return Scalar(project, QStringLiteral("SELECT value FROM ParamsValue WHERE OperTypeID = '%1' AND place_id = "
                                          "'%2' AND param_id = '%3'")
                               .arg(operTypeId, place, param));
}
