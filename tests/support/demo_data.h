#pragma once
// The demo map as the tests see it: its mesh, every object source under
// data/objects, the media and preload lists under data/media and
// data/preload and the collections under data/collections, made by the
// project's data tool from the sources in data/, the way the demo data
// script makes them.

#include <functional>
#include <string>
#include <vector>

#include "support/tag_file_builder.h"

// A tool or source an integration test needs is missing.  On a developer's
// machine the test is skipped; where the environment variable CI is set (as
// .ci/run sets it) it fails, so CI never passes on tests it did not run.
// Returns from the calling function, as GTEST_SKIP and FAIL do.
#define SKIP_OR_FAIL_UNDER_CI(message)                                                                     \
    do {                                                                                                   \
        if (running_under_ci()) FAIL() << (message) << " (CI is set)";                                   \
        else GTEST_SKIP() << (message);                                                                    \
    } while (0)

// True when the environment variable CI is set to anything but "" or "0".
bool running_under_ci(void);

// The directory of the programs and tools the tests run
// ("<this program's directory>/../bin"), wherever the test's working directory is.
std::string test_programs_directory(void);

// The data tool there ("<test_programs_directory()>/vesk_tags").
std::string data_tool_path(void);

// Sets the std::string `tool` to data_tool_path(); when the tool is not
// built, skips the test (fails it under CI) and returns from the calling
// function.
#define REQUIRE_DATA_TOOL(tool)                                                                            \
    do {                                                                                                   \
        (tool) = data_tool_path();                                                                         \
        if (!data_tool_built()) SKIP_OR_FAIL_UNDER_CI("the data tool is not built");                       \
    } while (0)

// The absolute path of `relative` in the source tree ("data/maps",
// "tests/data/..."), whatever the working directory.
std::string source_tree_path(const std::string &relative);

// Whether the data tool is where data_tool_path() says.
bool data_tool_built(void);

struct unit_order;
// The demo battle as vesk_sim runs it: the map 'demo' from `seed`, headless,
// from the demo data in the current directory, with the orders of
// data/orders/battle.txt (read into `orders`, which must outlive the run)
// given by the determinism harness's tick procedure.  False with `reason`
// when it cannot start; stop_simulation ends it.
bool start_demo_battle(uint32_t seed, std::vector<unit_order> *orders, std::string *reason);

// Runs the data tool with `arguments` (shell words, quoted where needed) in
// the current directory, its standard output going to "tool.out" and its
// standard error to "tool.err"; its exit code, -1 when it did not exit
// normally.
int run_data_tool(const std::string &arguments);

// The data after the header of the local tag file at `path`; empty when the
// file is missing or holds no more than a header.
std::vector<uint8_t> local_tag_file_data(const std::string &path);

// The demo map's tags as make_demo_map_tags makes them, made once per test
// process (and, through make_demo_map_tags's cache, once per build of the
// tool and sources for every process).  NULL (a test failure added) when the
// tool is missing or fails.
const std::vector<test_tag> *demo_map_tags(void);

// The demo tags as the foundation files in the current directory (which must
// hold the "tags" folder); the test is skipped when the data tool is not built
// (failed under CI) and fails when the tags cannot be made or written.
// Returns from the calling function then, as ASSERT does.
#define WRITE_DEMO_FOUNDATION_FILES()                                                                      \
    do {                                                                                                   \
        if (!data_tool_built()) SKIP_OR_FAIL_UNDER_CI("the data tool is not built");                       \
        const std::vector<test_tag> *demo_tags_ = demo_map_tags();                                         \
        ASSERT_NE(demo_tags_, nullptr);                                                                    \
        ASSERT_TRUE(write_foundation_files(*demo_tags_));                                                  \
    } while (0)

// Makes the demo map 'demo' and its object tags with `tool`, working in the
// current directory, and appends them to `tags`.  They include the interface
// every demo map names (data/interface), with the tool's test font standing
// in for each interface font.  False (a test failure added)
// when the tool fails on a source; nothing is appended then.
bool make_demo_map_tags(const std::string &tool, std::vector<test_tag> *tags);

// Makes the map data/maps/`source` as the tag 'mesh' `subgroup`, and the
// landscape collection and overhead-map picture it names, with `tool`, as the demo data script does;
// appends them to `tags`.  The other tags it names (camera limits,
// interface...) are those of make_demo_map_tags.  False (a test failure added) when the tool fails.
bool make_demo_map_source_tags(const std::string &tool, const std::string &source, const std::string &subgroup,
                               std::vector<test_tag> *tags);

// Makes every string list of data/strings/stli (the interface's texts, the
// maps' mission lists) and every text of data/strings/text (story texts) with
// `tool`'s "strings" command, as the demo data script does, and appends them to `tags` (in name order).  False (a test
// failure added) when the tool fails on a source.
bool make_string_list_tags(const std::string &tool, std::vector<test_tag> *tags);

// Writes the demo data set into the current directory as the game reads it:
// the foundation files holding the demo tags (and `extra_tags` after them)
// and an empty patch file.  False (a test failure added) when a tool run or
// a write fails.
bool write_demo_data_set(const std::string &tool, const std::vector<test_tag> &extra_tags = {});

// A test's own directory holding the demo data set, as the film and world
// tests start from: *previous is the directory the test ran in, *directory
// a fresh one, entered, where write_demo_data_set wrote, with the tags that
// `make_extra_tags`, when given, makes there.  False (a test failure added)
// when those or the data set could not be made.
bool enter_demo_data_directory(const std::string &tool, std::string *directory, std::string *previous,
                               const std::function<bool(std::vector<test_tag> *)> &make_extra_tags = {});
// Back to `previous` (the program stops when it cannot be entered: the next
// test would run in a removed directory) and `directory` removed; nothing
// when the test never entered one.
void leave_demo_data_directory(const std::string &directory, const std::string &previous);

// A tone of data/sounds/tones.txt: its subgroup and frequency.
struct demo_tone
{
    std::string subgroup;
    double hertz;
};

// The sound tags of the demo's generated tones whose subgroups `wanted`
// accepts, made in the current directory as the demo data script makes them
// (scripts/tone_wav.py, then the data tool), in the list's order; each made
// tone is added to `tones`.  False when a tool fails.
bool make_demo_tone_tags(bool (*wanted)(const std::string &subgroup), std::vector<test_tag> *tags,
                         std::vector<demo_tone> *tones);

// Puts the interface fonts the demo data script renders (data/fonts/interface.txt,
// each plain font and its four style fonts from the DejaVu faces) in place of
// the test fonts in `tags`, for tests that measure text as the game draws it.
// False (a test failure added) when the tool fails.
bool use_demo_interface_fonts(const std::string &tool, std::vector<test_tag> *tags);

// The tests' own dialogs, made with `tool` from the sources under
// tests/data/interface/dialogs as the demo's dialogs are made (each
// <subgroup>.txt a dialog tag, with its dialog string list when the texts are
// in one); appended to `tags`.  False (a test failure added) when the tool
// fails.
bool make_test_dialog_tags(const std::string &tool, std::vector<test_tag> *tags);

// The dialog elements collection 'baie' with a fixed scroll-bar thumb, made
// with `tool` from the demo's source with the scroll bar's elements cut to
// six frames per view (no thumb filler): lists drawn with it get the fixed
// 14-pixel thumb.  Stands in for the demo's 'baie' (replace that tag with
// it).  False (a test failure added) when the source cannot be cut or the
// tool fails.
bool make_fixed_thumb_dialog_elements_tag(const std::string &tool, std::vector<test_tag> *tags);
