#include "support/vesk_sim_fixture.h"

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

#include "support/demo_data.h"
#include "support/scratch.h"

namespace fs = std::filesystem;

void vesk_sim_fixture::SetUp()
{
    char working[PATH_MAX];
    previous = getcwd(working, sizeof(working)) ? working : "/";
    bin = test_programs_directory();
    REQUIRE_DATA_TOOL(tool);
    for (const std::string &name : programs_needed())
        if (!fs::exists(fs::path(bin) / name)) SKIP_OR_FAIL_UNDER_CI(name + " is missing");
    directory = enter_test_directory();
    std::vector<test_tag> extra;
    ASSERT_TRUE(make_extra_tags(&extra));
    ASSERT_TRUE(write_demo_data_set(tool, extra));
}

void vesk_sim_fixture::TearDown()
{
    if (chdir(previous.c_str()) != 0) abort();
    if (!directory.empty()) fs::remove_all(directory);
}

std::string vesk_sim_fixture::vesk_sim_command(const std::string &arguments) const
{
    return "'" + bin + "/vesk_sim' --data '" + directory + "' " + arguments;
}

int vesk_sim_fixture::run_vesk_sim(const std::string &arguments) const
{
    return exit_code_of(system(vesk_sim_command(arguments).c_str()));
}
