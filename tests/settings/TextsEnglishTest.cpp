// English user (LC_ALL=C.UTF-8 gives Wine's default, English (US)), and the
// ring of buffers behind LoadText.
#include <cstring>

#include "TextsCheck.h"

TEST(TextsEnglish, WholeTableByteForByte)
{
    ExpectUserLanguage(LANG_ENGLISH);
    ExpectWholeTable(English);
}

TEST(TextsEnglish, QuotesBlanksAndLineBreaksAreKept)
{
    EXPECT_STREQ(LoadText(32808), "MySql  state");
    const char* error = LoadText(32810);
    EXPECT_STREQ(error, "Error in Apache configuration file:\n\n\"%s\"\n\nEdit ?");
    EXPECT_EQ(strlen(error), 49u) << "got " << strlen(error);
    // The French help texts are the same in every language, accents included.
    const char* services = LoadText(32798);
    EXPECT_NE(strstr(services, "lanc\xE9s en tant"), nullptr) << "got " << services;
}

TEST(TextsEnglish, IdsOutsideTheTableAreEmpty)
{
    // Ids in no block at all, and ids inside the table's blocks that the
    // table leaves out.
    const UINT ids[] = {0, 1, 100, 32777, 32780, 32784, 32785, 32792, 32799,
                        32805, 32815, 32818, 32831, 32832, 61440, 65535};
    for (UINT id : ids)
        ExpectEmptyAfterLongText(id);
}

// Each TEST() runs in a process of its own, so this is the first fetch of
// the run.
TEST(TextsRing, FirstCallUsesBufferOneAndEighthBufferZero)
{
    const char* p[9];
    for (int i = 0; i < 9; ++i)
        p[i] = LoadText(32778);
    for (int i = 1; i < 7; ++i)
        EXPECT_EQ(p[i] - p[0], i * 255) << "call " << i + 1;
    // Eighth call: buffer 0, right before the first call's buffer 1.
    EXPECT_EQ(p[0] - p[7], 255) << "eighth call";
    EXPECT_EQ(p[8], p[0]) << "ninth call";
}

TEST(TextsRing, NinthCallOverwritesTheFirst)
{
    const char* first = LoadText(32796);
    EXPECT_STREQ(first, "Started");
    const char* texts[7];
    for (int i = 0; i < 7; ++i)
        texts[i] = LoadText(32797);
    for (int i = 0; i < 7; ++i) {
        EXPECT_NE(texts[i], first) << "call " << i + 2;
    }
    EXPECT_STREQ(first, "Started") << "8 calls keep the first text";
    const char* ninth = LoadText(32794);
    EXPECT_EQ(ninth, first);
    EXPECT_STREQ(first, "Pending...");
}

// The loader falls back to another language when a language lacks a whole
// block of 16 ids; every language must therefore hold all three blocks the
// table uses, even where it lacks some of their ids.
TEST(TextsTable, EveryLanguageHoldsEveryBlock)
{
    const LANGID languages[] = {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH),
                                MAKELANGID(LANG_ITALIAN, SUBLANG_ITALIAN)};
    for (LANGID language : languages) {
        for (UINT firstId = 32768; firstId <= 32800; firstId += 16) {
            HRSRC block = FindResourceExA(nullptr, RT_STRING, MAKEINTRESOURCEA(firstId / 16 + 1), language);
            EXPECT_NE(block, nullptr) << "language 0x" << std::hex << language << std::dec
                                      << ", ids " << firstId << "-" << firstId + 15;
        }
    }
}
