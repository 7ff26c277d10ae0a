#pragma once
// Every assertion (ASSERT, VASSERT, VWARN, VPAUSE, HALT) logged while a test
// runs fails that test, unless the test declares it: a broken invariant behind
// a refusal must not pass unseen.  A test that feeds bad input on purpose
// states how many assertions the refusal trips, in the scope that trips them:
//
//     {
//         expected_assertions expect(1);
//         EXPECT_FALSE(load_thing(corrupt_bytes));
//     }
//
// The scope fails the test when it ends with a different count.  Scopes nest;
// the innermost counts.  Assertions on other threads (the timer task) count
// against the scope that is open when they happen.  In a child process started
// by run_in_child, an undeclared assertion makes the child exit with
// UNEXPECTED_ASSERTION_EXIT_CODE.

#include <cstdint>
#include <string>
#include <vector>

enum { UNEXPECTED_ASSERTION_EXIT_CODE = 126 };

class expected_assertions
{
public:
    // `containing`, when given, must appear in every assertion the scope counts.
    explicit expected_assertions(int32_t count, const char *containing = nullptr);
    ~expected_assertions(void);
    expected_assertions(const expected_assertions &) = delete;
    expected_assertions &operator=(const expected_assertions &) = delete;

    // How many the scope has seen so far.
    int32_t seen(void) const;

private:
    friend void note_assertion_for_tests(const char *file, int32_t line, const char *message);
    int32_t expected;
    std::string containing;
    std::vector<std::string> messages;
    expected_assertions *outer;
};

// Assertions that no scope declared since the process started (the count a
// forked child checks before it exits).
int32_t unexpected_assertion_count(void);
