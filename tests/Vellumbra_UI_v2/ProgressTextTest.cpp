#include "ProgressText.h"

#include <gtest/gtest.h>

TEST(ProgressText, FillsTwoIntegersAndNothingElse)
{
    struct Case {
        const char* pattern;
        const char* expected;
    };
    const Case cases[] = {
        {"Stacking frame %d of %d: %%p%%", "Stacking frame 3 of 9: %p%"},
        {"Image %i/%i", "Image 3/9"},
        {"%d", "3"},
        {"Image %d of %d, %d", "Image 3 of 9, %d"},
        // A damaged language entry shows its directives instead of reading memory.
        {"Image %s of %n %x", "Image %s of %n %x"},
        {"100%", "100%"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(imageNumberText(c.pattern, 3, 9), QString::fromUtf8(c.expected)) << c.pattern;
}
