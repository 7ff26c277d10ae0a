// The test environment itself: an assertion nobody declared fails the test,
// a declared one passes it, and a wrong count fails the scope.

#include "support/expected_assertions.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <thread>

#include "cseries/log.h"
#include "support/scratch.h"

namespace expected_assertions_test_file {

static void trip_one_assertion(void)
{
    VASSERT(false, "planted");
}

static void declare_one_and_trip(int32_t tripped)
{
    expected_assertions expect(1);
    for (int32_t i = 0; i < tripped; ++i) VWARN(false, "planted");
}

TEST(expected_assertions, an_undeclared_assertion_fails_the_test)
{
    EXPECT_NONFATAL_FAILURE(trip_one_assertion(), "did not declare: vassert: false - planted");
    EXPECT_NONFATAL_FAILURE(HALT("stop"), "did not declare: halt: stop");
}

TEST(expected_assertions, a_declared_assertion_passes_and_a_wrong_count_fails)
{
    declare_one_and_trip(1);
    EXPECT_NONFATAL_FAILURE(declare_one_and_trip(0), "expected 1 assertion(s), saw 0");
    EXPECT_NONFATAL_FAILURE(declare_one_and_trip(2), "expected 1 assertion(s), saw 2");
}

TEST(expected_assertions, the_innermost_scope_counts_and_a_text_filter_lets_others_through)
{
    expected_assertions outer(1);
    {
        expected_assertions inner(2);
        ASSERT(1 == 2);
        VPAUSE("paused");
    }
    VWARN(false, "outer");
    EXPECT_EQ(outer.seen(), 1);
}

static void trip_unmatched(void)
{
    expected_assertions expect(0, "needle");
    VASSERT(false, "haystack");
}

TEST(expected_assertions, an_assertion_the_filter_does_not_match_is_undeclared)
{
    EXPECT_NONFATAL_FAILURE(trip_unmatched(), "did not declare");
}

TEST(expected_assertions, an_assertion_on_another_thread_counts_against_the_open_scope)
{
    expected_assertions expect(1);
    std::thread other([] { VASSERT(false, "from the timer thread"); });
    other.join();
}

static int trip_in_child(const void *)
{
    ASSERT(false);
    return 0;
}

TEST(expected_assertions, an_undeclared_assertion_in_a_child_changes_its_exit_code)
{
    EXPECT_EQ(exit_code_of(run_in_child(trip_in_child, nullptr, 10)), UNEXPECTED_ASSERTION_EXIT_CODE);
}

} // namespace expected_assertions_test_file
