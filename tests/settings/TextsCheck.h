// Checks shared by the text tests of the three languages and of a language
// without texts of its own.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include "ExpectedTexts.h"
#include "Texts.h"

enum Column { English, French, Italian };

inline const char* Expected(const ExpectedText& e, Column column)
{
    const char* text = column == English ? e.english : column == French ? e.french : e.italian;
    return text ? text : "";
}

// The user language Wine derives from LC_ALL, and the ANSI code page the
// texts are converted to.
inline void ExpectUserLanguage(LANGID primary)
{
    EXPECT_EQ(PRIMARYLANGID(GetUserDefaultUILanguage()), primary)
        << "got UI language 0x" << std::hex << GetUserDefaultUILanguage();
    EXPECT_EQ(GetACP(), 1252u) << "got code page " << GetACP();
}

// Every id of the table, byte for byte, in one column.
inline void ExpectWholeTable(Column column)
{
    for (const ExpectedText& e : expectedTexts) {
        const char* got = LoadText(e.id);
        EXPECT_STREQ(got, Expected(e, column)) << "id " << e.id;
    }
}

// The id's buffer held a long text 8 fetches ago; a missing text must
// leave it empty, not stale.
inline void ExpectEmptyAfterLongText(UINT id)
{
    const char* previous = LoadText(32798);
    ASSERT_GT(strlen(previous), 200u) << "got " << previous;
    for (int i = 0; i < 7; ++i)
        LoadText(32778);
    const char* got = LoadText(id);
    EXPECT_EQ(got, previous) << "the ring did not come back to the same buffer";
    EXPECT_STREQ(got, "") << "id " << id;
}
