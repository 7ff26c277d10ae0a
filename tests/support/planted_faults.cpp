// Cases with faults planted on purpose, for the test of the runner that
// shares a process among cases (case_processes_test.py): never a case of the
// suite.  Each fault ends or spoils the process in its own way.
#include <gtest/gtest.h>

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

TEST(planted, passes_last) { SUCCEED(); }
