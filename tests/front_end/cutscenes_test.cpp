// Cutscene movies with a fake player first on PATH (the real player's run is
// tests/hardware/cutscene_opengl_test.cpp).

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "cseries/errors.h"
#include "cseries/files.h"
#include "cseries/log.h"
#include "cutscene_archive_writer.h"
#include "cutscenes.h"
#include "game_states.h"
#include "game_time.h"
#include "support/fake_movie_player.h"
#include "support/game_core_fixture.h"
#include "support/scratch.h"

namespace cutscenes_test_file {

namespace
{

typedef std::vector<std::string> arguments;

class cutscenes : public ::testing::Test
{
protected:
    scratch_directory scratch;
    char data_directory[PATH_MAX] = "";
    fake_movie_player player;

    void SetUp() override
    {
        ASSERT_TRUE(scratch.entered);
        reset_game_core();
        game_->state = _game_state_displaying_main_menu;
        reset_cutscenes_for_tests();
        ASSERT_TRUE(open_log_file("cutscenes test"));
        ASSERT_TRUE(initialize_cutscenes());
        ASSERT_TRUE(make_scratch_directory("cutscene_data", data_directory, sizeof(data_directory)));
        ASSERT_EQ(mkdir((std::string(data_directory) + "/cutscenes").c_str(), 0755), 0);
        set_data_directory(data_directory);
        ASSERT_EQ(mkdir("player", 0755), 0);
        ASSERT_TRUE(player.install(std::string(scratch.path) + "/player"));
    }

    void TearDown() override
    {
        close_log_file();
        set_data_directory(nullptr);
        if (*data_directory) remove_directory_tree(data_directory);
        clear_pending_error();
    }

    static void put_movie(const std::string &root, const std::string &name, const std::string &bytes = "movie")
    {
        ASSERT_TRUE(write_whole_file(root + "/cutscenes/" + name, bytes.data(), bytes.size()));
    }
    void put_local_movie(const std::string &name) { put_movie(".", name); }
    void put_data_movie(const std::string &name) { put_movie(data_directory, name); }

    static void put_archive(const std::vector<uint8_t> &archive)
    {
        ASSERT_TRUE(write_file_bytes("cutscenes/" CUTSCENE_ARCHIVE_FILE_NAME, archive));
    }

    // The movie file each run was given (the last argument), after "cutscenes/".
    std::vector<std::string> played_movies(void) const
    {
        std::vector<std::string> movies;
        for (const arguments &run : player.runs())
        {
            const std::string &path = run.empty() ? std::string() : run.back();
            const bool from_data = path.rfind(data_directory, 0) == 0;
            const size_t slash = path.rfind('/');
            movies.push_back(std::string(from_data ? "data:" : "local:") + path.substr(slash + 1));
        }
        return movies;
    }

    static int count_in_log(const std::string &text)
    {
        const std::string log = read_whole_file(LOG_FILE_NAME);
        int count = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
        return count;
    }
};

TEST_F(cutscenes, the_probe_gives_the_player_exactly_the_options_its_help_lists)
{
    const struct
    {
        const char *help;
        arguments options;
    } cases[] = {
        {"usage: ffplay [options] input_file\n-fs force full screen\n", {"-fs"}},
        {"-autoexit exit at the end\n-x width\n", {"-fs", "-autoexit"}},
        {"-exitonmousedown exit on a click\n-exitonkeydown exit on a key\n-autoexit exit at the end\n",
         {"-fs", "-autoexit", "-exitonkeydown", "-exitonmousedown"}},
        // One line names one option: the first of the three it contains.
        {"-autoexit or -exitonkeydown\n", {"-fs", "-autoexit"}},
    };
    put_local_movie("intro.mov");
    for (const auto &test_case : cases)
    {
        SCOPED_TRACE(test_case.help);
        reset_cutscenes_for_tests();
        player.forget_runs();
        player.set_help(test_case.help);
        EXPECT_TRUE(display_cutscene("intro", false));
        ASSERT_EQ(player.runs().size(), 1u);
        arguments expected = test_case.options;
        expected.push_back(player.runs()[0].back());
        EXPECT_EQ(player.runs()[0], expected);
        EXPECT_EQ(played_movies(), std::vector<std::string>{"local:intro.mov"});
        EXPECT_TRUE(get_ffplay_globals()->probed);
    }
    EXPECT_EQ(game_->state, _game_state_displaying_main_menu) << "the cutscene state is left again";
}

TEST_F(cutscenes, candidates_go_mov_smk_mpg_then_the_archive_and_a_failing_player_is_told_once)
{
    put_data_movie("intro.mov");
    put_local_movie("intro.mpg");
    put_local_movie("intro.smk");
    player.set_exit_status(1);
    EXPECT_FALSE(display_cutscene("intro", false));
    EXPECT_EQ(played_movies(), (std::vector<std::string>{"data:intro.mov", "local:intro.smk", "local:intro.mpg"}));
    EXPECT_FALSE(display_cutscene("intro", false));
    EXPECT_EQ(count_in_log("Failed to play cutscene"), 1);
    EXPECT_EQ(count_in_log("Warning: Failed to play cutscene 'intro.mov' using ffplay - make sure FFmpeg is installed."), 1);

    // A player that cannot be started at all (the child's exec fails): the same
    // failure, one more candidate each time, and still no second warning.
    const char *path = getenv("PATH");
    const std::string saved_path = path ? path : "";
    setenv("PATH", (std::string(scratch.path) + "/empty").c_str(), 1);
    EXPECT_FALSE(display_cutscene("intro", false));
    setenv("PATH", saved_path.c_str(), 1);
    EXPECT_EQ(count_in_log("Failed to play cutscene"), 1);

    // A failing player goes on to the archive's copy, which is played last.
    player.forget_runs();
    put_archive(write_cutscene_archive({{"intr", {'m', 'v'}}}));
    put_local_movie("intr.mov");
    EXPECT_FALSE(display_cutscene("intr", false));
    EXPECT_EQ(played_movies(), (std::vector<std::string>{"local:intr.mov", "local:intr.smk"}));

    // Location 0 comes before location 1; the name's extension is ignored, and
    // the caller's text is left as it was.
    player.forget_runs();
    player.set_exit_status(0);
    put_local_movie("prologue.mov");
    put_data_movie("prologue.mov");
    char name[] = "prologue.smk";
    EXPECT_TRUE(display_cutscene(name, false));
    EXPECT_STREQ(name, "prologue.smk");
    EXPECT_TRUE(display_cutscene(INTRO_CUTSCENE_NAME, false));
    EXPECT_EQ(played_movies(), (std::vector<std::string>{"local:prologue.mov", "local:prologue.mov"}));
}

TEST_F(cutscenes, a_missing_movie_is_skipped_and_found_cutscene_warns)
{
    EXPECT_FALSE(display_cutscene("none", false));
    EXPECT_FALSE(error_pending(nullptr, nullptr, 0)) << "playing a missing movie is silent";
    EXPECT_TRUE(player.runs().empty());

    EXPECT_FALSE(found_cutscene("none.smk"));
    int32_t code = 0;
    char text[256];
    ASSERT_TRUE(error_pending(&code, text, sizeof(text)));
    EXPECT_EQ(code, _error_data_missing);
    EXPECT_STREQ(text, "Warning: Unable to find cutscene 'none'.");
    clear_pending_error();

    put_data_movie("here.mpg");
    EXPECT_TRUE(found_cutscene("here.mov"));
    EXPECT_FALSE(error_pending(nullptr, nullptr, 0));
}

TEST_F(cutscenes, extraction_copies_a_sound_entry_and_refuses_every_damaged_archive_without_leaving_a_file)
{
    const std::vector<uint8_t> movie = {'S', 'M', 'K', '2', 1, 2, 3, 4, 5};
    const std::vector<uint8_t> sound = write_cutscene_archive({{"abcd", {9, 9}}, {"vux1", movie}, {"abc", {7}}});
    const size_t entry1 = cutscene_archive_entry_offset(sound, 1);

    std::vector<uint8_t> count_zero = sound;
    count_zero[44] = count_zero[45] = 0;
    std::vector<uint8_t> data_past_end = sound;
    write_be32(&data_past_end[entry1 + 52], 1000);
    std::vector<uint8_t> offset_past_end = sound;
    write_be32(&offset_past_end[entry1 + 48], 0x7FFFFFF0);
    std::vector<uint8_t> negative_length = sound;
    write_be32(&negative_length[entry1 + 52], 0xFFFFFFFF);
    std::vector<uint8_t> directory_past_end = sound;
    write_be16(&directory_past_end[44], 400);
    std::vector<uint8_t> truncated(sound.begin(), sound.begin() + 30);

    const struct
    {
        const char *label;
        const std::vector<uint8_t> *archive; // null: no archive at all
        const char *name;
        bool extracted;
    } cases[] = {
        {"found", &sound, "vux1", true},
        {"absent", &sound, "vux2", false},
        {"no archive", nullptr, "vux1", false},
        {"count 0", &count_zero, "vux1", false},
        {"data past the end", &data_past_end, "vux1", false},
        {"offset past the end", &offset_past_end, "vux1", false},
        {"negative length", &negative_length, "vux1", false},
        {"directory past the end", &directory_past_end, "vux1", false},
        {"shorter than the header", &truncated, "vux1", false},
        {"3 characters, though an entry's name starts so", &sound, "abc", false},
        {"5 characters, though an entry's name starts so", &sound, "vux12", false},
    };
    for (const auto &test_case : cases)
    {
        SCOPED_TRACE(test_case.label);
        unlink("cutscenes/" CUTSCENE_ARCHIVE_FILE_NAME);
        if (test_case.archive) put_archive(*test_case.archive);
        file_reference out;
        EXPECT_EQ(extract_vux_cutscene(&out, test_case.name), test_case.extracted);
        const std::string copy = std::string("cutscenes/") + test_case.name + ".smk";
        EXPECT_EQ(read_file_bytes(copy), test_case.extracted ? movie : std::vector<uint8_t>{});
        EXPECT_TRUE(aside_files_of("cutscenes", std::string(test_case.name) + ".smk").empty())
            << "no aside file is left";
        unlink(copy.c_str());
        clear_pending_error();
    }
}

} // namespace

} // namespace cutscenes_test_file
