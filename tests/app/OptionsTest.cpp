// What start-up reads before anything else: whether the window can be shown
// at all, and kxloader's options (words that start with '-') read by the
// batch's own grammar before the project is opened.

#include "app/CommandLineGrammar.h"
#include "app/WindowDisplay.h"

#include <gtest/gtest.h>

namespace {

bool Available(std::initializer_list<std::pair<const char*, const char*>> variables, QString* why = nullptr) {
    QProcessEnvironment environment;
    for (const auto& [name, value] : variables) environment.insert(name, value);
    QString ignored;
    return WindowDisplayAvailable(environment, why ? why : &ignored);
}

LoaderOptionCheck::Kind KindOf(const QStringList& words) {
    return CheckLoaderOptions(QStringList{"kxloader"} + words).kind;
}

}  // namespace

TEST(WindowDisplay, AWindowNeedsTheDisplayOfThePlatformQtWouldChoose) {
    QString why;
    EXPECT_FALSE(Available({}, &why));
    EXPECT_TRUE(why.contains("DISPLAY")) << why.toStdString();
    EXPECT_FALSE(Available({{"DISPLAY", ""}}));  // set but empty is not set
    EXPECT_TRUE(Available({{"DISPLAY", ":0"}}));
    EXPECT_TRUE(Available({{"WAYLAND_DISPLAY", "wayland-0"}}));
    EXPECT_FALSE(Available({{"QT_QPA_PLATFORM", "xcb"}, {"WAYLAND_DISPLAY", "wayland-0"}}));
    EXPECT_TRUE(Available({{"QT_QPA_PLATFORM", "xcb:nograb"}, {"DISPLAY", ":1"}}));
    EXPECT_FALSE(Available({{"QT_QPA_PLATFORM", "wayland"}, {"DISPLAY", ":0"}}));
    EXPECT_TRUE(Available({{"QT_QPA_PLATFORM", "wayland;xcb"}, {"DISPLAY", ":0"}}));
    EXPECT_TRUE(Available({{"QT_QPA_PLATFORM", "offscreen"}}));
    EXPECT_TRUE(NoDisplayMessage(why).endsWith("kxloader --help\n"));
    EXPECT_EQ(NoDisplayMessage(why).count('\n'), 1);
}

TEST(LoaderOptions, OptionsAreWordsWhereASwitchBelongsAndHelpAndVersionAnywhereBeforeTheEnd) {
    using K = LoaderOptionCheck::Kind;
    EXPECT_EQ(KindOf({"-h"}), K::Help);
    EXPECT_EQ(KindOf({"/j", "--help"}), K::Help);
    EXPECT_EQ(KindOf({"-V"}), K::Version);
    EXPECT_EQ(KindOf({"--", "-V"}), K::None);
    const LoaderOptionCheck bogus = CheckLoaderOptions({"kxloader", "/c", "--bogus", "-x"});
    EXPECT_EQ(bogus.kind, K::UnknownOption);
    EXPECT_EQ(bogus.word, "--bogus");
    // Words a switch takes: file names, /q's -r and -s, /pair's "-".
    EXPECT_EQ(KindOf({"/j", "-j.txt", "/x", "-rep", "/i", "-id"}), K::None);
    EXPECT_EQ(KindOf({"/q", "i.txt", "-s", "/q", "i.txt", "-r", "/pair", "-"}), K::None);
    EXPECT_EQ(KindOf({"/o", "-ops.txt", "/w", "-w.ux7", "-wl.ux8"}), K::None);
    // Where the batch stops anyway, nothing after is read: the help, a
    // switch whose words do not fit it (100 there).
    EXPECT_EQ(KindOf({"/h", "--bogus"}), K::None);
    EXPECT_EQ(KindOf({"/q", "f.txt", "-z"}), K::None);
    EXPECT_EQ(KindOf({"/s", "o=1", "-z"}), K::None);  // -z is read as a filter word and fails them: 100 there
    // A word that is no switch and no option stays the batch's 105.
    EXPECT_EQ(KindOf({"stray", "-"}), K::None);
    EXPECT_EQ(KindOf({"--", "--bogus"}), K::None);
}
