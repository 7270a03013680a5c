#include <gtest/gtest.h>

#include "platform/text_file.h"
#include "settings/leading_integer.h"
#include "settings/profile_file.h"
#include "settings_test_support.h"
#include "support/temp_folder.h"

using support::ReadAll;
using support::TempFolderTest;
using support::WriteAll;
using platform::FileErrorCause;
using settings::ProfileInt;
using settings::ProfileValue;
using settings::ProfileWithValue;
using settings_tests::ProfileFile;

namespace {

std::string Written(std::string_view text, std::string_view section, std::string_view key,
                    std::string_view value) {
    const auto out = ProfileWithValue(text, section, key, value);
    EXPECT_TRUE(out.has_value());
    return out.value_or(std::string());
}

}  // namespace

TEST(ProfileRead, MatchesNamesWithoutRegardToCaseAndIgnoresBlanksAroundThem) {
    const std::string text = "[set]\r\n  PORTNO \t=\t 40 \t\r\n";
    EXPECT_EQ(ProfileValue(text, "Set", "PortNo"), "40");
    EXPECT_EQ(ProfileValue(text, "SET", "portno"), "40");
    EXPECT_EQ(ProfileValue(" [ Set ] \nPortNo=1", "Set", "PortNo"), "1");
}

TEST(ProfileRead, SkipsCommentsAndKeysOutsideTheSection) {
    const std::string text =
        "com=7\r\n[Other]\r\ncom=8\r\n[Set]\r\n ;com=9\r\n\t;com=10\r\nno value here\r\n";
    EXPECT_EQ(ProfileValue(text, "Set", "com"), std::nullopt);
    EXPECT_EQ(ProfileInt(text, "Set", "com", 42), 42u);
    EXPECT_EQ(ProfileValue(text, "Other", "com"), "8");
}

TEST(ProfileRead, TakesTheFirstMatchingKeyAlsoAcrossRepeatedSections) {
    const std::string text = "[Set]\ncom=1\nCOM=2\n[x]\ncom=3\n[SET]\ncom=4\nPortNo=5\n";
    EXPECT_EQ(ProfileValue(text, "Set", "com"), "1");
    EXPECT_EQ(ProfileValue(text, "Set", "PortNo"), "5");
    const auto entries = settings::ProfileSectionEntries(text, "set");
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[1].key, "COM");
    EXPECT_EQ(entries[3].value, "5");
}

TEST(ProfileRead, SplitsAtCrLfLfAndALoneCrAndSkipsAByteOrderMark) {
    EXPECT_EQ(ProfileValue("\xEF\xBB\xBF[Set]\rcom=3\rPortNo=4", "Set", "PortNo"), "4");
    EXPECT_EQ(ProfileValue("[Set]\r\n\r\ncom=5\r\n", "Set", "com"), "5");
    EXPECT_EQ(ProfileValue("[Set]\n\rcom=6", "Set", "com"), "6");
}

TEST(ProfileInteger, TakesDigitsWithTheirSignModulo2To32) {
    EXPECT_EQ(settings::ProfileIntFromText("3232235640"), 0xC0A80078u);
    EXPECT_EQ(settings::ProfileIntFromText("-1062731656"), 0xC0A80078u);
    EXPECT_EQ(settings::ProfileIntFromText("70000"), 70000u);
    EXPECT_EQ(settings::ProfileIntFromText("-1"), 0xFFFFFFFFu);
    EXPECT_EQ(settings::ProfileIntFromText("4294967296"), 0u);
    EXPECT_EQ(settings::ProfileIntFromText("4294967297"), 1u);
    EXPECT_EQ(settings::ProfileIntFromText("0\t\t\t\t\t   "), 0u);
    EXPECT_EQ(settings::ProfileIntFromText("+5"), 5u);
}

TEST(ProfileInteger, ReadsLeadingDigitsOnlyAndZeroWithout) {
    EXPECT_EQ(settings::ProfileIntFromText("12abc"), 12u);
    EXPECT_EQ(settings::ProfileIntFromText("0x1F"), 0u);
    EXPECT_EQ(settings::ProfileIntFromText("abc"), 0u);
    EXPECT_EQ(settings::ProfileIntFromText("-"), 0u);
    EXPECT_EQ(settings::ProfileIntFromText("- 5"), 0u);
    EXPECT_EQ(settings::ProfileIntFromText("1 2"), 1u);
}

TEST(ProfileInteger, LeadingIntegerStartsAtTheFirstCharacterAndNeedsADigit) {
    EXPECT_EQ(settings::LeadingInteger("-0"), 0u);
    EXPECT_EQ(settings::LeadingInteger("4294967295x"), 0xFFFFFFFFu);
    EXPECT_EQ(settings::LeadingInteger("+12 3"), 12u);
    EXPECT_EQ(settings::LeadingInteger(" 5"), std::nullopt);
    EXPECT_EQ(settings::LeadingInteger("--5"), std::nullopt);
    EXPECT_EQ(settings::LeadingInteger(""), std::nullopt);
}

TEST(ProfileInteger, GivesTheDefaultOnlyForAMissingKeyOrAnEmptyValue) {
    EXPECT_EQ(ProfileInt("[Set]\ncom=\t \n", "Set", "com", 9), 9u);
    EXPECT_EQ(ProfileInt("[Set]\ncom=x\n", "Set", "com", 9), 0u);
    EXPECT_EQ(ProfileInt("[Set]\ncom=7 ;note\n", "Set", "com", 9), 7u);
}

TEST(ProfileWrite, ChangesOnlyTheValueKeepingItsLineAsItWas) {
    EXPECT_EQ(Written("[Set]\r\n CommWay = 0\t\t\t   \r\n", "Set", "commway", "1"),
              "[Set]\r\n CommWay = 1\t\t\t   \r\n");
    EXPECT_EQ(Written("[Set]\r\ncom=   \r\n", "Set", "com", "3"), "[Set]\r\ncom=3   \r\n");
    EXPECT_EQ(Written("[Set]\ncom=1\ncom=2", "Set", "com", "-5"), "[Set]\ncom=-5\ncom=2");
}

TEST(ProfileWrite, AddsAMissingKeyAfterTheLastKeyOfItsSection) {
    EXPECT_EQ(Written("[Set]\r\ncom=1\r\n\r\n;next\r\n[Ports]\r\n", "Set", "PortNo", "2"),
              "[Set]\r\ncom=1\r\nPortNo=2\r\n\r\n;next\r\n[Ports]\r\n");
    EXPECT_EQ(Written("[Set]\n;only a comment\n", "Set", "com", "1"),
              "[Set]\ncom=1\n;only a comment\n");
    // The file's last line has no line end, and keeps having none.
    EXPECT_EQ(Written("[Set]\r\ncom=1", "Set", "IPAddr", "7"), "[Set]\r\ncom=1\r\nIPAddr=7");
    EXPECT_EQ(Written("[Set]\rcom=1\r", "Set", "IPAddr", "7"), "[Set]\rcom=1\rIPAddr=7\r");
    // Mixed line ends: the new line ends like the one before it, so that the
    // empty LF line after it stays a line of its own.
    EXPECT_EQ(Written("[Set]\rcom=1\n\n[B]\r", "Set", "IPAddr", "7"),
              "[Set]\rcom=1\nIPAddr=7\n\n[B]\r");
}

TEST(ProfileWrite, AddsAMissingSectionAtTheEndInTheFilesLineEndStyle) {
    EXPECT_EQ(Written("", "Set", "com", "0"), "[Set]\r\ncom=0\r\n");
    EXPECT_EQ(Written("[A]\nx=1\n", "Set", "com", "0"), "[A]\nx=1\n[Set]\ncom=0\n");
    EXPECT_EQ(Written("[A]\r\nx=1", "Set", "com", "0"), "[A]\r\nx=1\r\n[Set]\r\ncom=0");
    EXPECT_EQ(Written("; only a comment", "Set", "com", "0"),
              "; only a comment\r\n[Set]\r\ncom=0");
}

TEST(ProfileWrite, RefusesTextsThatWouldNotReadBack) {
    EXPECT_FALSE(settings::ProfileWriteIsValid("Set", "com", "1\r\n[x]"));
    EXPECT_FALSE(settings::ProfileWriteIsValid("Set", "com", " 1"));
    EXPECT_FALSE(settings::ProfileWriteIsValid("Set", "a=b", "1"));
    EXPECT_FALSE(settings::ProfileWriteIsValid("Set", ";com", "1"));
    EXPECT_FALSE(settings::ProfileWriteIsValid("Set", "", "1"));
    EXPECT_FALSE(settings::ProfileWriteIsValid("S]et", "com", "1"));
    EXPECT_FALSE(settings::ProfileWriteIsValid(" Set", "com", "1"));
    EXPECT_TRUE(settings::ProfileWriteIsValid("Set", "com", ""));
    EXPECT_EQ(ProfileWithValue("[Set]\n", "Set", "com\n", "1"), std::nullopt);
}

TEST_F(ProfileFile, MissingFileReadsAsDefaultsAndIsNotCreatedByReading) {
    const std::string path = Path("Config.ini");
    EXPECT_EQ(settings::GetProfileInt("Set", "com", 5, path), 5u);
    EXPECT_TRUE(settings::GetProfileSection("Ports", path).empty());
    EXPECT_FALSE(platform::PathExists(path));
}

TEST_F(ProfileFile, WriteCreatesAMissingFileThatReadsBackWithoutRegardToCase) {
    const std::string path = Path("new.ini");
    FileErrorCause cause = FileErrorCause::Generic;
    EXPECT_TRUE(settings::WriteProfileString("Set", "com", "3", path, &cause));
    EXPECT_EQ(cause, FileErrorCause::None);
    EXPECT_EQ(ReadAll(path), "[Set]\r\ncom=3\r\n");
    EXPECT_EQ(settings::GetProfileInt("set", "COM", 0, path), 3u);
}

TEST_F(ProfileFile, AFolderInTheFilesPlaceIsRefused) {
    const std::string path = Path("Config.ini");
    std::filesystem::create_directory(path);
    FileErrorCause cause = FileErrorCause::None;
    EXPECT_FALSE(settings::WriteProfileString("Set", "com", "1", path, &cause));
    EXPECT_EQ(cause, FileErrorCause::AccessDenied);
}
