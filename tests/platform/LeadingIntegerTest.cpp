// The one reading of a leading integer, for bytes and for texts alike.

#include "platform/LeadingInteger.h"

#include <QByteArray>
#include <QString>

#include <climits>

#include <gtest/gtest.h>

namespace {

// Both forms of every case: the directory files give bytes, the terminal's
// answers and the database give texts, and they must never disagree.
void ExpectBoth(const char* utf8, int expected) {
    EXPECT_EQ(LeadingInteger(QByteArrayView(utf8)), expected) << utf8;
    EXPECT_EQ(LeadingInteger(QString::fromUtf8(utf8)), expected) << utf8;
}

TEST(LeadingInteger, ReadsLikeTheCLibraryInTheCLocale) {
    ExpectBoth("57", 57);
    ExpectBoth("  -12abc", -12);
    ExpectBoth("\t\n\v\f\r+7;x", 7);
    ExpectBoth("abc", 0);
    ExpectBoth("", 0);
    ExpectBoth("-", 0);
    ExpectBoth("- 5", 0);
    ExpectBoth("2147483647", INT_MAX);
    ExpectBoth("-2147483648", INT_MIN);
    ExpectBoth("99999999999999999999", INT_MAX);
    ExpectBoth("-99999999999999999999", INT_MIN);
}

TEST(LeadingInteger, ASpaceOutsideAsciiEndsTheNumber) {
    // A no-break space or an ideographic space is no white space to the C
    // library; one reader once skipped them and read 5 where the others read 0.
    ExpectBoth("\u00A05", 0);
    ExpectBoth("\u30005", 0);
    ExpectBoth("12\u00A034", 12);
    // Digits of other scripts are no digits either.
    ExpectBoth("\u0665", 0);
}

}  // namespace
