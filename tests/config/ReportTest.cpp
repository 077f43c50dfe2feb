// The configuration report.

#include "tests/config/ConfigTestSupport.h"

#include <QDir>
#include <QFileInfo>

using namespace SQLite3;

class Report : public ConfigFixture {
protected:
    QString ReportPath() { return CurrentDirectoryFiles().filesFolder + "configuration.txt"; }
    QByteArray Expected(const QStringList& lines) {
        QByteArray bytes;
        for (const QString& line : lines) bytes += Cp1251(line) + "\r\n";
        return bytes;
    }
};

TEST_F(Report, BlocksFollowTheTemplateAndTheTypeOrder) {
    AddType("Приемка");
    AddType("Отгрузка");
    model.Working().Exec("UPDATE SortOrderOperTypes SET OperType = CASE OperType WHEN '1' THEN '2' ELSE '1' END");
    model.Working().Exec("UPDATE ParamsValue SET value = '500' WHERE OperTypeID = 1 AND param_id = 'p_qty_max'");
    model.Working().Exec("UPDATE ParamsValue SET value = '1' WHERE OperTypeID = 2 AND param_id = 'p_check'");

    ASSERT_TRUE(model.OnPrintConfiguration());
    EXPECT_EQ(prompt.ViewerPaths(), QStringList({ReportPath()}));
    const QByteArray expected = Expected({
        "Распечатка конфигурации: " + projectPath + "\r\n",
        "Общие",
        "Имя терминала: Терминал 1",
        "ID в журнале: Нет",
        "Таймаут: 30",
        "Приветствие: Привет\r\nмир",
        "Папка: \\Storage\\KX\\",
        "  Звук",
        "  Громкость: Громко",
        "Операция: Отгрузка",
        "  Ввод",
        "  Запрос исполнителя: Да",
        "  Подсказка: Сканируйте",
        "    Количество",
        "    Максимум: 9999",
        "  Контроль",
        "  Проверка: Запрещать",
        "  Сообщение: Ошибка",
        "Операция: Приемка",
        "  Ввод",
        "  Запрос исполнителя: Да",
        "  Подсказка: Сканируйте",
        "    Количество",
        "    Максимум: 500",
        "  Контроль",
        "  Проверка: Не проверять",
        "  Сообщение: Ошибка",
        "Журнал",
        "Размер: 1000",
        "Пустая",
    });
    EXPECT_EQ(ReadFileBytes(ReportPath()), expected);
}

TEST_F(Report, UnknownComboIdMissingValueAndOneBytePerLetter) {
    model.Working().Exec("UPDATE ParamsValue SET value = '7' WHERE param_id = 'p_volume'");
    model.Working().Exec("DELETE FROM ParamsValue WHERE param_id = 'p_timeout'");
    const QString path = dir.File("report.txt");
    ASSERT_TRUE(model.PrintConfiguration(path));
    const QByteArray bytes = ReadFileBytes(path);
    EXPECT_TRUE(bytes.contains(Cp1251("  Громкость: ???\r\n")));
    EXPECT_FALSE(bytes.contains(Cp1251("Таймаут")));
    // "Общие" in Windows-1251: five letters, five bytes.
    EXPECT_TRUE(bytes.contains(QByteArray("\r\n\xCE\xE1\xF9\xE8\xE5\r\n")));
}

TEST_F(Report, PrintingAgainReplacesTheFile) {
    const QString path = dir.File("report.txt");
    WriteFileBytes(path, QByteArray(100000, 'x'));
    ASSERT_TRUE(model.PrintConfiguration(path));
    const QByteArray first = ReadFileBytes(path);
    EXPECT_FALSE(first.contains('x' + QByteArray("xxxx")));
    model.Working().Exec("DELETE FROM ParamsValue WHERE param_id = 'p_journal_size'");
    ASSERT_TRUE(model.PrintConfiguration(path));
    const QByteArray second = ReadFileBytes(path);
    EXPECT_EQ(second.size(), first.size() - Cp1251("Размер: 1000\r\n").size());
    EXPECT_EQ(prompt.ViewerPaths().size(), 2);
}

TEST_F(Report, AFileThatCannotBeCreatedIsReported) {
    // The files folder is taken by a file, so the report cannot go there.
    QDir(dir.File("files")).removeRecursively();
    WriteFileBytes(dir.File("files"), "not a folder");
    EXPECT_FALSE(model.OnPrintConfiguration());
    ASSERT_EQ(prompt.Messages().size(), 1);
    EXPECT_EQ(prompt.Messages()[0].text, "Не удалось создать файл отчета!\nВозможно файл открыт другим приложением.");
    EXPECT_EQ(prompt.Messages()[0].caption, "Ошибка!");
    EXPECT_TRUE(prompt.ViewerPaths().isEmpty());
}

TEST_F(Report, ADatabaseFailureIsShownAndTheIncompleteReportIsNotOpened) {
    model.Template().Exec("DROP TABLE listparams_journal");
    EXPECT_FALSE(model.OnPrintConfiguration());
    EXPECT_GE(prompt.Messages().size(), 1);
    EXPECT_TRUE(prompt.Texts()[0].contains("listparams_journal"));
    EXPECT_FALSE(prompt.Texts().contains("Не удалось создать файл отчета!\nВозможно файл открыт другим приложением."));
    EXPECT_TRUE(prompt.ViewerPaths().isEmpty());
}

TEST_F(Report, WithoutAConfigurationNothingIsPrinted) {
    model.Close();
    EXPECT_FALSE(model.OnPrintConfiguration());
    EXPECT_EQ(prompt.Texts(), QStringList({"Не открыта конфигурация!"}));
}
