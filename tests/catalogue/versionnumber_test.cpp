#include "catalogue/versionnumber.h"

#include <gtest/gtest.h>

TEST(IsNewerVersion, ComparesPartsAsUnsignedNumbers) {
    struct Case {
        const char* installed;
        const char* available;
        bool newer;
    };
    const Case cases[] = {
        {"1.7.1", "1.7.2", true},   {"1.7.2", "1.7.1", false},
        {"1.7.1", "1.7.1", false},  {"3.0.9", "3.0.10", true},
        {"2.3", "2.3.0.1", true},   {"2.3", "2.3.0.0", false},
        {"", "9.9", false},         {"   ", "9.9", false},
        {"1.0", "", false},         {"1.0", "  ", false},
        {"205", "212", true},       {"-1", "5", false},
        {"5", "-1", true},          {"1.0", "abc", false},
        {"2.9.1.99", "3", true},    {"1.2.3", "1.2.3.4.5", false},
        {"0.1", "rc2.1", false},    {"0.0", "rc2.1", true},
        {"1.7.1", "1.7.1 ", false}, {"1.7.0", "1.7.1 ", false},
        {"1", "4294967295", false}, {"1", "2147483647", true},
        {"1..2", "1.0.3", true},    {"1.2", "+1.3", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsNewerVersion(c.installed, c.available), c.newer)
            << "installed '" << c.installed << "' available '" << c.available << "'";
}
