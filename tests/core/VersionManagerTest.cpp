#include <gtest/gtest.h>

#include <stdexcept>

#include "core/Log.h"
#include "core/VersionManager.h"

using Quorvane::Core::VersionManager;

namespace {

TEST(VersionManagerTest, ValidAndInvalidTexts) {
    for (const char* text :
         {"1.2", "1.2.3", "1.2.3.beta", "1.2.", "1.2.3.rc.7", "0.0", "1.2.3.4.5.", "01.002"}) {
        EXPECT_TRUE(VersionManager::isValid(text)) << text;
    }
    for (const char* text : {"", "1", "1.", "1..2", "a.2", ".1.2", "1.2.x", "1.-2", "1. 2", "+1.2",
                             "1.2.3.4..5", "1.2..", "."}) {
        EXPECT_FALSE(VersionManager::isValid(text)) << text;
    }
    VersionManager v("1.2.3.rc.7");
    EXPECT_TRUE(v.isValid());
    EXPECT_EQ(v.getMajor(), 1u);
    EXPECT_EQ(v.getMinor(), 2u);
    EXPECT_EQ(v.getPatch(), 3u);
    EXPECT_EQ(v.getTag(), "rc");
    EXPECT_EQ(v.getVersionText(), "1.2.3.rc.7");

    VersionManager trailing("4.5.");
    EXPECT_TRUE(trailing.isValid());
    EXPECT_EQ(trailing.getPatch(), 0u);
    EXPECT_EQ(trailing.getTag(), "");

    EXPECT_TRUE(VersionManager::isDigitString("0123456789"));
    EXPECT_FALSE(VersionManager::isDigitString(""));
    EXPECT_FALSE(VersionManager::isDigitString("12a"));
    EXPECT_FALSE(VersionManager::isDigitString("-1"));

    // Numbers beyond 32 bits make the text invalid, never an exception.
    EXPECT_TRUE(VersionManager::isValid("2147483647.0"));
    for (const char* text : {"99999999999.1", "2147483648.0", "1.99999999999999999999999"}) {
        EXPECT_NO_THROW(EXPECT_FALSE(VersionManager::isValid(text))) << text;
    }
    EXPECT_NO_THROW(EXPECT_EQ(VersionManager::compareVersion("1.99999999999", "1.2", true), -1));
}

TEST(VersionManagerTest, Comparisons) {
    EXPECT_EQ(VersionManager::compareVersion("1.10", "1.9", false), 1);
    EXPECT_EQ(VersionManager::compareVersion("1.9", "1.10", true), -1);
    EXPECT_EQ(VersionManager::compareVersion("2.0.1", "2.0.7", false), 0);
    EXPECT_EQ(VersionManager::compareVersion("2.0.1", "2.0.7", true), -1);
    EXPECT_EQ(VersionManager::compareVersion("3.0", "2.9.9", true), 1);
    EXPECT_EQ(VersionManager::compareVersion("1.2.3.alpha", "1.2.3.beta", true), 0);  // tags never count

    struct Case {
        const char* text;
        int withoutPatch, withPatch;
    } cases[] = {{"1.2.5", 0, 1}, {"1.2.0", 0, 0}, {"1.1.9", -1, -1}, {"0.9", -1, -1}, {"3.0", 1, 1}};
    for (const Case& c : cases) {
        VersionManager v(c.text);
        EXPECT_EQ(v.compareWithCurrentVersion(false), c.withoutPatch) << c.text;
        EXPECT_EQ(v.compareWithCurrentVersion(true), c.withPatch) << c.text;
    }
    // The engine's own version text compares equal to the current version.
    EXPECT_EQ(VersionManager(Quorvane::Core::QVVersion()).compareWithCurrentVersion(true), 0);
}

TEST(VersionManagerTest, CreateVersion) {
    EXPECT_EQ(VersionManager::createVersion(1, 2, 0, "beta"), "1.2.0.beta");
    EXPECT_EQ(VersionManager::createVersion(1, 2, 0, ""), "1.2.0.");
    EXPECT_EQ(VersionManager::createVersion(4294967295u, 0, 7, "x"), "4294967295.0.7.x");
}

}  // namespace
