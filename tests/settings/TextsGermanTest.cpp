// German user (LC_ALL=de_DE.UTF-8): no German set, so the loader takes the
// English one, with the same empty ids.
#include "TextsCheck.h"

TEST(TextsGerman, FallsBackToEnglish)
{
    ExpectUserLanguage(LANG_GERMAN);
    ExpectWholeTable(English);
}
