// Italian user (LC_ALL=it_IT.UTF-8): the Italian set.
#include "TextsCheck.h"

TEST(TextsItalian, WholeTableByteForByte)
{
    ExpectUserLanguage(LANG_ITALIAN);
    ExpectWholeTable(Italian);
}

TEST(TextsItalian, AccentsAndDefaultArguments)
{
    const unsigned char* ended = (const unsigned char*)LoadText(32795);
    EXPECT_EQ(ended[6], 0xE8) << "got " << (const char*)ended;
    // Local clients connect over TCP from 127.0.0.1: no --skip-name-resolve.
    EXPECT_STREQ(LoadText(32782), "--language=italian");
}
