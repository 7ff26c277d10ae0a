// Two threads logging at once must leave only whole lines in the log.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <regex>
#include <string>
#include <thread>
#include <unistd.h>

#include "cseries/cseries.h"
#include "support/scratch.h"

namespace log_thread_test_file {

namespace {

enum { LINES_PER_THREAD = 1000 };

void log_numbered_lines(int thread_number)
{
    for (int i = 0; i < LINES_PER_THREAD; ++i)
    {
        log_message("/src/thread_writer.cpp", thread_number, "thread %d line %d %s", thread_number, i,
                    "padding-to-make-the-write-long-enough-to-interleave-if-it-were-split");
    }
}

TEST(log_thread, two_threads_leave_only_whole_lines_in_order)
{
    scratch_directory scratch;
    ASSERT_TRUE(scratch.entered);

    ASSERT_TRUE(open_log_file("header"));
    std::thread first(log_numbered_lines, 1);
    std::thread second(log_numbered_lines, 2);
    first.join();
    second.join();
    close_log_file();

    std::istringstream stream(read_whole_file(LOG_FILE_NAME));
    const std::regex whole_line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  thread_writer\.cpp, line #([12]): )"
                                R"(thread ([12]) line (\d+) padding-to-make-the-write-long-enough-to-interleave-if-it-were-split)");
    int next_line[3] = {0, 0, 0};
    int malformed = 0;
    std::string line;
    ASSERT_TRUE(std::getline(stream, line)); // the header
    while (std::getline(stream, line))
    {
        std::smatch match;
        if (!std::regex_match(line, match, whole_line) || match[1] != match[2])
        {
            ++malformed;
            continue;
        }
        const int thread_number = std::stoi(match[2]);
        EXPECT_EQ(std::stoi(match[3]), next_line[thread_number]);
        next_line[thread_number] = std::stoi(match[3]) + 1;
    }
    EXPECT_EQ(malformed, 0);
    EXPECT_EQ(next_line[1], LINES_PER_THREAD);
    EXPECT_EQ(next_line[2], LINES_PER_THREAD);
}

} // namespace

} // namespace log_thread_test_file
