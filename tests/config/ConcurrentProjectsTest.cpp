// Two program instances on one project file: one opens while the other saves,
// or one waits while the other holds the file.

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
        while (!stop) {
            (model.Save() ? saves : failedSaves)++;
            (single.Save() ? saves : failedSaves)++;
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
