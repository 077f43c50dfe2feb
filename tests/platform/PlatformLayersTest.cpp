#include "platform/ConsolePrompt.h"
#include "platform/ProgramFolder.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

TEST(ProgramFolder, BareNameIsFoundThroughPath) {
    CTestDir dir;
    ASSERT_TRUE(QDir(dir.Path()).mkpath("bin"));
    ASSERT_TRUE(QDir(dir.Path()).mkpath("other"));
    const QString exe = dir.File("bin/kxloader");
    ASSERT_TRUE(WriteFileBytes(exe, "#!/bin/sh\n"));
    QFile(exe).setPermissions(QFile::ReadOwner | QFile::ExeOwner | QFile::WriteOwner);
    // A same-named file that is not executable comes first and is skipped.
    ASSERT_TRUE(WriteFileBytes(dir.File("other/kxloader"), "x"));

    const QString path = dir.File("other") + ":" + dir.File("bin") + ":/usr/bin";
    const QString folder = ProgramFolderFromArgv0("kxloader", path, dir.File("other"));
    EXPECT_EQ(folder, QDir::cleanPath(dir.File("bin")) + "/");
}

TEST(ProgramFolder, RelativeAndAbsoluteNamesAndTheFallback) {
    CTestDir dir;
    EXPECT_EQ(ProgramFolderFromArgv0("./bin/kxloader", "", dir.Path()),
              QDir::cleanPath(dir.File("bin")) + "/");
    EXPECT_EQ(ProgramFolderFromArgv0("/opt/kx/kxloader", "", dir.Path()), "/opt/kx/");
    // Not on PATH at all: the current folder, as an absolute path.
    EXPECT_EQ(ProgramFolderFromArgv0("nothere", dir.File("none"), dir.Path()),
              QDir::cleanPath(dir.Path()) + "/");
}

TEST(ProgramFolder, RunningProgramResolvesToItsOwnFolder) {
    const QString folder = ResolveProgramFolder("whatever");
    EXPECT_TRUE(folder.endsWith('/'));
    EXPECT_TRUE(QFileInfo(folder).isAbsolute());
    EXPECT_TRUE(QFileInfo::exists(folder + "platform_tests"));
}

TEST(ConsolePrompt, ErrorsGoToStderrInfoToStdoutAndQuestionsNeverBlock) {
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    ASSERT_TRUE(out && err);
    CConsolePrompt console(out, err);
    console.Info("Справка", "Заголовок");
    console.Error("Ошибка!", "KXLoader");
    EXPECT_EQ(console.Message("?", "Внимание!", PromptIcon::Question, PromptButtons::YesNo), AnswerNo);
    EXPECT_TRUE(console.SaveFileName({}).isEmpty());
    auto readAll = [](FILE* f) {
        std::rewind(f);
        QByteArray bytes;
        char buf[256];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, static_cast<qsizetype>(n));
        return QString::fromUtf8(bytes);
    };
    EXPECT_EQ(readAll(out), "Заголовок: Справка\n");
    EXPECT_EQ(readAll(err), "KXLoader: Ошибка!\nВнимание!: ?\n");
    std::fclose(out);
    std::fclose(err);
}

}  // namespace
