// Cases with faults planted on purpose, for the test of the runner that
// shares a process among cases (case_processes_test.py): never a case of the
// suite.  Each fault ends or spoils the process in its own way.
#include <gtest/gtest.h>

#include <typeinfo>

#include <unistd.h>

TEST(planted, passes_first) { SUCCEED(); }

// Blocks that nothing points to any more: the leak check at the process's
// exit reports them, not the case.
TEST(planted, leaks)
{
    for (int i = 0; i < 16; ++i)
    {
        int *volatile block = new int[64];
        block[0] = i;
    }
}

TEST(planted, crashes)
{
    int *volatile nowhere = nullptr;
    *nowhere = 1;
}

TEST(planted, fails) { ADD_FAILURE() << "a planted failure"; }

TEST(planted, hangs)
{
    for (;;) pause();
}

// A process of a group of its own left running, holding the output open.
TEST(planted, leaves_a_process_running)
{
    if (fork() == 0)
    {
        setpgid(0, 0);
        for (;;) pause();
    }
}

TEST(planted, passes_last) { SUCCEED(); }

// A value with no printer of its own prints as its bytes, other in every build.
struct opaque_value
{
    const void *where;
};
using planted_value = testing::TestWithParam<opaque_value>;
TEST_P(planted_value, passes) { EXPECT_NE(GetParam().where, nullptr); }
INSTANTIATE_TEST_SUITE_P(opaque, planted_value, testing::Values(opaque_value{&typeid(int)}));
