// Stands in for a test binary whose reference library is not installed, so
// that the run shows the check as skipped instead of leaving it out.
#include <gtest/gtest.h>

TEST(MissingReference, Skipped)
{
    GTEST_SKIP() << "the reference library " << OLVA_MISSING_REFERENCE
                 << " is not installed (scripts/setup installs it)";
}
