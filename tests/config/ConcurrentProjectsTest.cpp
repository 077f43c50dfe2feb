// Two program instances on one project file: one opens while the other saves,
// one waits while the other holds the file, and neither writes over a save of
// the other without asking.

#include "tests/config/ConfigTestSupport.h"

#include <QElapsedTimer>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

using namespace SQLite3;
using namespace std::chrono_literals;

namespace {

// Every row of the four project tables in stored order: two copies of one
// save have the same dump.
QStringList Dump(CSQLiteConnection& db) {
    QStringList dump;
    for (const char* table : {"ParamsValue", "SortOrderOperTypes", "ChoiceNames", "m_mainmenu"})
        dump << QString("[%1]").arg(table) << Rows(db, QString("SELECT * FROM %1").arg(table));
    return dump;
}

// Open that counts a raised error as a failed open, as a user-level caller would.
bool OpenProject(CConfigModel& model, const QString& path) {
    try {
        return model.Open(path);
    } catch (const CSQLiteException&) {
        return false;
    }
}

// Holds a write lock on `path` from another connection on another thread
// for `hold`, as another instance in the middle of its save does. Returns
// once the lock is held; the thread is joined when the result goes.
std::jthread HoldWriteLock(const QString& path, std::chrono::milliseconds hold) {
    std::promise<void> locked;
    std::future<void> isLocked = locked.get_future();
    std::jthread holder([path, hold, locked = std::move(locked)]() mutable {
        CSQLiteConnection other;
        other.OpenConnection(path);
        other.Exec("BEGIN EXCLUSIVE");
        other.Exec("UPDATE ChoiceNames SET point_name = point_name WHERE point_id = '1'");
        locked.set_value();
        std::this_thread::sleep_for(hold);
        other.Exec("COMMIT");
    });
    isLocked.wait();
    return holder;
}

}  // namespace

using ConcurrentProjects = ConfigFixture;

TEST_F(ConcurrentProjects, AnOpenDuringAnotherInstancesSavesLoadsOneWholeSave) {
    // Two instances hold two different versions of the project and save them
    // in turn: twenty operation types with their values, or one.
    for (int t = 1; t <= 20; ++t) AddType(QString("Операция %1").arg(t));
    CConfigModel single;
    ASSERT_TRUE(single.OpenTemplate(templatePath));
    ASSERT_TRUE(single.Open(projectPath));
    QString id;
    ASSERT_TRUE(single.AddOperationType("Перемещение", &id));
    const QStringList many = Dump(model.Working());
    const QStringList one = Dump(single.Working());
    ASSERT_NE(many, one);
    ASSERT_TRUE(model.Save());  // from here on the file holds one of the two
    CConfigModel reader;
    ASSERT_TRUE(reader.OpenTemplate(templatePath));

    std::atomic<bool> stop{false};
    std::atomic<int> saves{0}, failedSaves{0};
    std::jthread writer([&] {
        // Each replaces the other's save on purpose: what is looked at here
        // is that an open never reads half of one.
        auto save = [&](CConfigModel& m) {
            (m.SaveProject(SaveMode::ReplaceOtherSaves) == SaveResult::Saved ? saves : failedSaves)++;
        };
        while (!stop) {
            save(model);
            save(single);
        }
    });

    int opens = 0, failedOpens = 0, torn = 0, seenMany = 0, seenOne = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 1500) {
        if (!OpenProject(reader, projectPath)) {
            ++failedOpens;
            continue;
        }
        ++opens;
        const QStringList loaded = Dump(reader.Working());
        if (loaded == many) ++seenMany;
        else if (loaded == one) ++seenOne;
        else ++torn;
    }
    stop = true;
    writer.join();

    EXPECT_EQ(torn, 0) << "of " << opens << " opens";
    EXPECT_EQ(failedOpens, 0);
    EXPECT_EQ(failedSaves.load(), 0);
    // Both versions were really seen, so the saves did run between the opens.
    EXPECT_GT(seenMany, 0);
    EXPECT_GT(seenOne, 0);
    EXPECT_GT(saves.load(), 10);
    EXPECT_TRUE(prompt.Messages().isEmpty()) << prompt.Texts().join("\n").toStdString();
}

TEST_F(ConcurrentProjects, SavesAndOpensWaitForAnotherInstanceInsteadOfFailing) {
    const QString id = AddType("Приемка");
    std::jthread holder = HoldWriteLock(projectPath, 400ms);
    const bool saved = model.SaveConfiguration();
    holder.join();
    EXPECT_TRUE(saved);
    EXPECT_FALSE(model.IsModified());
    EXPECT_EQ(ProjectValue(id, "listparams_operation", "oper_type"), "Приемка");

    holder = HoldWriteLock(projectPath, 400ms);
    CConfigModel second;
    ASSERT_TRUE(second.OpenTemplate(templatePath));
    const bool opened = OpenProject(second, projectPath);
    holder.join();
    EXPECT_TRUE(opened);
    QString name;
    EXPECT_TRUE(second.GetOperationTypeName(id, &name));
    EXPECT_EQ(name, "Приемка");
    EXPECT_TRUE(prompt.Messages().isEmpty()) << prompt.Texts().join("\n").toStdString();
}

// ------------------------------------------- two instances saving one project

namespace {

const QString kOtherSave = QStringLiteral(
    "Файл конфигурации изменен другой программой после того, как был открыт или сохранен здесь:\n%1\n\n"
    "Заменить его этой конфигурацией? Изменения, сохраненные другой программой, будут потеряны.\n\n"
    "Да - заменить файл\nНет - сохранить эту конфигурацию в другой файл (\"Сохранить как\")\n"
    "Отмена - ничего не сохранять");

}  // namespace

TEST_F(ConcurrentProjects, ASaveOverAnotherInstancesSaveAsksAndOnlyYesReplacesIt) {
    ASSERT_TRUE(model.Save());
    CConfigModel second;  // B, opened after A
    ASSERT_TRUE(second.OpenTemplate(templatePath));
    ASSERT_TRUE(second.Open(projectPath));
    QString id;
    ASSERT_TRUE(second.AddOperationType("Отгрузка", &id));
    ASSERT_TRUE(second.SaveConfiguration());
    EXPECT_TRUE(prompt.Messages().isEmpty());

    // A saves its own change: asked; "Отмена" keeps B's save.
    AddType("Приемка");
    prompt.QueueAnswer(AnswerCancel);
    EXPECT_FALSE(model.SaveConfiguration());
    ASSERT_EQ(prompt.Messages().size(), 1);
    EXPECT_TRUE(IsMessage(prompt.Messages()[0], kOtherSave.arg(projectPath), "Внимание!", PromptIcon::Warning));
    EXPECT_EQ(prompt.Messages()[0].buttons, PromptButtons::YesNoCancelDefaultCancel);
    EXPECT_EQ(ProjectValue("1", "listparams_operation", "oper_type"), "Отгрузка");
    EXPECT_TRUE(model.IsModified());
    // The raw save refuses as well, without a word.
    EXPECT_EQ(model.SaveProject(SaveMode::KeepOtherSaves), SaveResult::ChangedByOther);
    EXPECT_EQ(ProjectValue("1", "listparams_operation", "oper_type"), "Отгрузка");

    // "Нет": A goes into a file of its own, B's save stays where it is.
    prompt.Clear();
    prompt.QueueAnswer(AnswerNo);
    const QString mine = dir.File("mine.kxc");
    prompt.QueueFileName(mine);
    QString title;
    EXPECT_TRUE(model.SaveConfiguration(&title));
    EXPECT_EQ(title, mine + " - KXConfig конфигуратор");
    EXPECT_EQ(prompt.FileRequests().size(), 1);
    EXPECT_EQ(ProjectValue("1", "listparams_operation", "oper_type"), "Отгрузка");
    {
        CSQLiteConnection saved;
        saved.OpenConnection(mine);
        EXPECT_EQ(Scalar(saved, "SELECT value FROM ParamsValue WHERE param_id = 'oper_type'"), "Приемка");
    }

    // B and A again on one file; "Да" replaces B's save, and then B is asked.
    ASSERT_TRUE(model.Open(projectPath));
    ASSERT_TRUE(second.SetChoiceName(1, "Приход"));
    ASSERT_TRUE(second.SaveConfiguration());
    ASSERT_TRUE(model.SetChoiceName(1, "Поступление"));
    prompt.Clear();
    prompt.QueueAnswer(AnswerYes);
    EXPECT_TRUE(model.SaveConfiguration());
    EXPECT_EQ(prompt.Messages().size(), 1);
    EXPECT_FALSE(model.IsModified());
    CSQLiteConnection project;
    project.OpenConnection(projectPath);
    EXPECT_EQ(Scalar(project, "SELECT point_name FROM ChoiceNames WHERE point_id = '1'"), "Поступление");
    ASSERT_TRUE(second.SetChoiceName(2, "Кладовщики"));
    prompt.Clear();
    prompt.QueueAnswer(AnswerCancel);
    EXPECT_FALSE(second.SaveConfiguration());
    EXPECT_EQ(prompt.Texts(), QStringList({kOtherSave.arg(projectPath)}));
    EXPECT_EQ(Scalar(project, "SELECT point_name FROM ChoiceNames WHERE point_id = '1'"), "Поступление");
}

TEST_F(ConcurrentProjects, TwoInstancesSavingAtOnceForManyRoundsLoseNoSave) {
    // Each instance appends its own marks to one value, reopening the project
    // whenever the other saved first ("Отмена", then read it again). Every
    // save reported done must be in the file at the end.
    ASSERT_TRUE(model.Save());
    prompt.defaultAnswer = AnswerCancel;
    constexpr int kRounds = 60;
    std::atomic<int> asked{0};
    auto instance = [&](const QString& mark, QStringList* done) {
        CConfigModel m;
        if (!m.OpenTemplate(templatePath)) return;
        for (int round = 0, attempts = 0; round < kRounds && attempts < 50 * kRounds; ++attempts) {
            if (!OpenProject(m, projectPath)) continue;
            QString value;
            m.GetChoiceName(10, &value);
            const QString next = QString("%1 %2%3").arg(value, mark).arg(round);
            m.SetChoiceName(10, next);
            if (m.SaveConfiguration()) {
                *done << QString("%1%2").arg(mark).arg(round);
                ++round;
            } else {
                ++asked;
            }
        }
    };
    QStringList doneA, doneB;
    {
        std::jthread a(instance, QString("A"), &doneA);
        std::jthread b(instance, QString("B"), &doneB);
    }
    CSQLiteConnection project;
    project.OpenConnection(projectPath);
    const QStringList inFile =
        Scalar(project, "SELECT point_name FROM ChoiceNames WHERE point_id = '10'").split(' ', Qt::SkipEmptyParts);
    int lost = 0;
    for (const QString& save : doneA + doneB) lost += inFile.contains(save) ? 0 : 1;
    EXPECT_EQ(lost, 0) << "of " << doneA.size() + doneB.size() << " saves; asked " << asked.load() << " times";
    EXPECT_EQ(doneA.size(), kRounds);
    EXPECT_EQ(doneB.size(), kRounds);
    for (const CRecordingPrompt::Entry& question : prompt.Messages())
        EXPECT_EQ(question.text, kOtherSave.arg(projectPath));
}
