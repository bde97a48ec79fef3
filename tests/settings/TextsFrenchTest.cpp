// French user (LC_ALL=fr_FR.UTF-8): the French set, in Windows-1252.
#include "TextsCheck.h"

TEST(TextsFrench, WholeTableByteForByte)
{
    ExpectUserLanguage(LANG_FRENCH);
    ExpectWholeTable(French);
}

TEST(TextsFrench, AccentsAreAnsiBytes)
{
    const unsigned char* started = (const unsigned char*)LoadText(32796);
    EXPECT_STREQ((const char*)started, "D\xE9marr\xE9");
    EXPECT_EQ(started[1], 0xE9) << "got " << (const char*)started;
    EXPECT_EQ(started[6], 0xE9) << "got " << (const char*)started;
    const unsigned char* stop = (const unsigned char*)LoadText(32781);
    EXPECT_EQ(stop[4], 0xEA) << "got " << (const char*)stop;
    const unsigned char* ended = (const unsigned char*)LoadText(32787);
    EXPECT_EQ(ended[26], 0xE7) << "got " << (const char*)ended;
}

TEST(TextsFrench, EscapedQuotesOfThePinTooltip)
{
    EXPECT_STREQ(LoadText(32809), "Permet d\"\xE9pingler\" la fen\xEAtre et rendre celle-ci toujours visible.");
}
