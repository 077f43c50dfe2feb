// One set of command-line habits for the four programs, run as a user runs
// them: -h/--help and -V/--version, "--" ending the options, an unknown
// option named with each program family's one usage status, and kxloader
// without a display or with an option it does not know.

#include "tests/cli/CliFixture.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

struct ProgramHabits {
    const char* name;
    int usageStatus;  // what a wrong option ends with
};

// kxloader: its batch's own code for an unknown switch (105, also in the
// report file); kxupdate_pc: the configurator reads its codes (9); the other
// helpers: 64.
constexpr ProgramHabits kPrograms[] = {
    {"kxloader", 105}, {"kxsync", 64}, {"kxterminal", 64}, {"kxupdate_pc", 9}};

}  // namespace

TEST_F(Cli, EveryProgramAnswersHelpVersionAndAnUnknownOptionAlike) {
    WriteSettings("COM1", QString());  // no project: options are read before one
    for (const ProgramHabits& p : kPrograms) {
        SCOPED_TRACE(p.name);
        const QString path = QString(p.name) == "kxloader" ? program + "/kxloader" : ProgramBinFolder() + "/" + p.name;
        ASSERT_EQ(RunProgram(path, {"--help"}, Environment()), 0) << err.toStdString();
        const QString help = out;
        EXPECT_FALSE(help.isEmpty());
        EXPECT_TRUE(help.contains("-h") && help.contains("-V")) << help.toStdString();
        ASSERT_EQ(RunProgram(path, {"-h"}, Environment()), 0) << err.toStdString();
        EXPECT_EQ(out, help);
        const QString version = QString("%1 (KXConfig) %2\n").arg(p.name, KX_VERSION_TEXT);
        ASSERT_EQ(RunProgram(path, {"--version"}, Environment()), 0);
        EXPECT_EQ(out, version);
        ASSERT_EQ(RunProgram(path, {"-V"}, Environment()), 0);
        EXPECT_EQ(out, version);

        EXPECT_EQ(RunProgram(path, {"--bogus"}, Environment()), p.usageStatus) << out.toStdString();
        EXPECT_TRUE(err.contains("bogus")) << err.toStdString();
        EXPECT_TRUE(out.isEmpty()) << out.toStdString();
        // After "--" a word like an option is no option: not the help.
        EXPECT_NE(RunProgram(path, {"--", "--help"}, Environment()), 0);
        EXPECT_FALSE(out.startsWith(help.left(20))) << out.toStdString();
    }
}

TEST_F(Cli, KxloaderReadsItsOptionsBeforeTheProjectAndNamesAnUnknownOne) {
    // Without a project, and with one: the same clear 105, nothing opened.
    for (const QString& config : {QString(), project}) {
        SCOPED_TRACE(config.toStdString());
        WriteSettings("COM1", config);
        for (const char* word : {"--bogus", "-x", "-help"}) {
            // Were the word not read first, /x would take the report and /c fail on the port.
            EXPECT_EQ(Run({"/x", "r.txt", "/c", word}), 105) << word;
            EXPECT_TRUE(err.contains(QString("unknown option \"%1\"").arg(word))) << err.toStdString();
            EXPECT_FALSE(QFile::exists(Files("r.txt"))) << "no switch ran before the refusal";
        }
    }
    // Words of a switch that start with '-' are its words, not options: a
    // journal file named "-j.txt", the /q options.
    WriteSettings("COM1", QString());
    EXPECT_EQ(Run({"/j", "-j.txt"}), 150);
    EXPECT_EQ(Run({"/q", "info.txt", "-s"}), 150);
    EXPECT_EQ(Run({"/h", "--bogus"}), 150);  // the help ends the batch: nothing after it is read
}

TEST_F(Cli, KxloaderWithoutArgumentsAndWithoutADisplaySaysHowToRunTheBatch) {
    WriteSettings("COM1", project);
    const int status = RunProgram(program + "/kxloader", {}, Environment());
    EXPECT_EQ(status, 64) << err.toStdString();
    EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
    EXPECT_TRUE(err.contains("kxloader --help")) << err.toStdString();
    EXPECT_TRUE(err.contains("DISPLAY")) << err.toStdString();
    EXPECT_FALSE(err.contains("Reinstalling")) << err.toStdString();
    // A platform chosen by name needs its own display (the fixture's runs
    // drop every display variable, so this one is started here).
    QProcessEnvironment x11 = Environment();
    x11.insert("QT_QPA_PLATFORM", "xcb");
    QProcess window;
    window.setProcessEnvironment(x11);
    window.start(program + "/kxloader", {});
    ASSERT_TRUE(window.waitForFinished(30000));
    EXPECT_EQ(window.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(window.exitCode(), 64);
    EXPECT_TRUE(QString::fromUtf8(window.readAllStandardError()).contains("QT_QPA_PLATFORM=xcb"));
}
