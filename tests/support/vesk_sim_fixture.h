#pragma once
// The end-to-end tests of the programs beside the tests (vesk_sim, vesk_film):
// each runs in a scratch directory of its own holding the demo data set the
// data tool makes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/tag_file_builder.h"

class vesk_sim_fixture : public ::testing::Test
{
protected:
    // The scratch directory, the directory the test started in, the
    // programs' directory (test_programs_directory()) and the data tool.
    std::string directory, previous, bin, tool;

    // Finds the data tool and the programs, skipping the test (failing it
    // under CI) when one is missing, enters the scratch directory and writes
    // the demo data set with the extra tags after the demo's.
    void SetUp() override;
    // Back to the starting directory; the scratch directory is removed.
    void TearDown() override;

    // The programs in bin/ the test needs.
    virtual std::vector<std::string> programs_needed(void) const { return {"vesk_sim"}; }
    // Makes the tags written after the demo's, in the scratch directory.
    // False (a test failure added) when the tool fails.
    virtual bool make_extra_tags(std::vector<test_tag> *tags) { return true; }

    // "'<bin>/vesk_sim' --data '<directory>' <arguments>", for the shell.
    std::string vesk_sim_command(const std::string &arguments) const;
    // Runs vesk_sim_command(arguments) through the shell; its exit code, -1
    // when it did not exit normally.
    int run_vesk_sim(const std::string &arguments) const;
};
