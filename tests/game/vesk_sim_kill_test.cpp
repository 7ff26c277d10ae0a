// vesk_sim's --save-at SAVE and --record FILM over an earlier SAVE and FILM,
// interrupted at every write step of the run without any hook in the
// program: the child's file size limit (RLIMIT_FSIZE) is stepped over the
// files' size, with SIGXFSZ ignored or at its default (the write that
// crosses the limit fails with EFBIG, a full disk: the program sets the
// signal aside, so that the failed write is reported and never ends it
// mid-write).  After each run each file is the earlier
// one, byte for byte, or the new one whole; nothing is left beside them; a
// run that failed says so (exit 1, "vesk_sim: ..." on standard error).
//
// The program builds both files in its data directory before it replaces
// SAVE and FILM, and those first copies are as large as the files, so a size
// limit always stops the run there.  The replacement itself is interrupted by
// a full disk under the two names only: a small memory file system mounted
// over their directory in a mount namespace of the child's own, stepped
// page by page between the earlier files' size and both files' size.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/demo_data.h"
#include "support/scratch.h"
#include "support/vesk_sim_fixture.h"

namespace vesk_sim_kill_test_file {

namespace {
namespace fs = std::filesystem;

// What names a local tag file in its header and differs between two runs:
// the film's subgroup is drawn at random, the saved game's name is the time
// it was made.
constexpr size_t SUBGROUP_OFFSET = 12, SUBGROUP_SIZE = 4, NAME_OFFSET = 24, NAME_SIZE = 32;

// The bytes with the subgroup and name of the header cleared.
std::vector<uint8_t> without_identity(std::vector<uint8_t> bytes)
{
    if (bytes.size() >= NAME_OFFSET + NAME_SIZE)
    {
        std::fill_n(bytes.begin() + SUBGROUP_OFFSET, SUBGROUP_SIZE, 0);
        std::fill_n(bytes.begin() + NAME_OFFSET, NAME_SIZE, 0);
    }
    return bytes;
}

struct run_result
{
    int status = -1;    // wait status
    std::string errors; // standard error
};

struct run_limit
{
    enum kind_type
    {
        none,
        file_size_kill, // RLIMIT_FSIZE, SIGXFSZ at its default
        file_size_full, // RLIMIT_FSIZE, SIGXFSZ ignored
        small_disk,     // a memory file system of `bytes` over the output directory
    } kind = none;
    rlim_t bytes = 0;
};

class vesk_sim_kill_test : public vesk_sim_fixture
{
protected:
    std::string out, orders;
    std::vector<uint8_t> old_save, old_film, new_save, new_film;

    void SetUp() override
    {
        vesk_sim_fixture::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        out = directory + "/out";
        // Both players move their units every tick: each order is a command
        // in the film, so the new files are pages larger than the earlier ones.
        orders = directory + "/orders.txt";
        std::string text;
        for (int tick = 1; tick < 58; ++tick)
            for (int player = 0; player < 2; ++player)
                text += std::to_string(tick) + " " + std::to_string(player) + " move " +
                        (player ? "20,21,22,23" : "10,11,12,13") + " 1000,1000 " + std::to_string(1000 + 64 * tick) +
                        ",2000 3000,3000 2000,1000\n";
        ASSERT_TRUE(write_whole_file(orders, text.data(), text.size()));
        // The earlier files: a short game without orders.
        fs::create_directory(out);
        ASSERT_EQ(exit_code_of(run(short_game(), {}).status), 0);
        old_save = read_file_bytes(out + "/SAVE");
        old_film = read_file_bytes(out + "/FILM");
        // The new files as an uninterrupted run writes them.
        ASSERT_EQ(exit_code_of(run(long_game(), {}).status), 0);
        new_save = read_file_bytes(out + "/SAVE");
        new_film = read_file_bytes(out + "/FILM");
        ASSERT_GT(old_save.size(), 64u);
        ASSERT_GT(old_film.size(), 64u);
        // The new files take more pages than the earlier ones: on a full disk
        // a file written in place over the earlier one would be cut short.
        ASSERT_GT(new_save.size(), old_save.size() + 4096);
        ASSERT_GT(new_film.size(), old_film.size() + 4096);
    }

    std::vector<std::string> short_game(void) const
    {
        return {"--map", "demo", "--seed", "3", "--ticks", "4", "--save-at", "2", out + "/SAVE", "--record", out + "/FILM"};
    }
    std::vector<std::string> long_game(void) const
    {
        return {"--map", "demo", "--seed", "3",  "--ticks", "60", "--orders", orders, "--save-at", "40", out + "/SAVE",
                "--record", out + "/FILM"};
    }

    void put_back_earlier_files(void) const
    {
        fs::remove_all(out);
        fs::create_directory(out);
        ASSERT_TRUE(write_file_bytes(out + "/SAVE", old_save));
        ASSERT_TRUE(write_file_bytes(out + "/FILM", old_film));
    }

    // Runs vesk_sim with `arguments` under `limit`.  Its trace goes to
    // /dev/null and so does its log (which the program refuses as no regular
    // file, running without one): a file size limit counts neither.
    run_result run(const std::vector<std::string> &arguments, const run_limit &limit) const
    {
        std::vector<std::string> words = {bin + "/vesk_sim", "--data", directory, "--log", "/dev/null"};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char *> argv;
        for (std::string &word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        int errors[2];
        run_result result;
        if (pipe(errors) != 0) return result;
        const pid_t child = fork();
        if (child == 0)
        {
            close(errors[0]);
            const int null = open("/dev/null", O_RDWR);
            if (null < 0 || dup2(null, 1) < 0 || dup2(errors[1], 2) < 0) _exit(120);
            // Leak checking does not work in a process killed mid-run.
            setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
            if (limit.kind == run_limit::file_size_kill || limit.kind == run_limit::file_size_full)
            {
                const rlimit size = {limit.bytes, limit.bytes};
                signal(SIGXFSZ, limit.kind == run_limit::file_size_kill ? SIG_DFL : SIG_IGN);
                if (setrlimit(RLIMIT_FSIZE, &size) != 0) _exit(121);
            }
            else if (limit.kind == run_limit::small_disk)
                _exit(run_on_small_disk(argv.data(), (size_t)limit.bytes));
            execv(argv[0], argv.data());
            _exit(122);
        }
        close(errors[1]);
        if (child < 0)
        {
            close(errors[0]);
            return result;
        }
        char piece[4096];
        ssize_t count;
        while ((count = read(errors[0], piece, sizeof(piece))) > 0) result.errors.append(piece, (size_t)count);
        close(errors[0]);
        waitpid(child, &result.status, 0);
        return result;
    }

    // In the child: a private mount namespace with a memory file system of
    // `bytes` over the output directory, holding the earlier files; runs the
    // program there, then copies what it left into the output directory as
    // the parent sees it (renamed files keep their names, so a temporary
    // left behind shows) and ends with the program's exit code (100 + the
    // signal that ended it; 123 when the disk could not be set up).
    int run_on_small_disk(char **argv, size_t bytes) const
    {
        const int saved = open(out.c_str(), O_RDONLY | O_DIRECTORY);
        char options[64];
        snprintf(options, sizeof(options), "size=%zu", bytes);
        if (saved < 0 || unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", out.c_str(), "tmpfs", 0, options) != 0)
            return 123;
        if (!write_file_bytes(out + "/SAVE", old_save) || !write_file_bytes(out + "/FILM", old_film)) return 123;
        const pid_t program = fork();
        if (program == 0)
        {
            execv(argv[0], argv);
            _exit(122);
        }
        int status = 0;
        if (program < 0 || waitpid(program, &status, 0) != program) return 123;
        // Back to the directory under the mount.
        for (const fs::directory_entry &entry : fs::directory_iterator(out))
        {
            const std::vector<uint8_t> file = read_file_bytes(entry.path().string());
            const int copy = openat(saved, entry.path().filename().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (copy < 0 || (!file.empty() && write(copy, file.data(), file.size()) != (ssize_t)file.size()))
                return 123;
            close(copy);
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
    }

    // The file at `name` is the earlier one byte for byte, or the new one
    // whole (its subgroup and name aside).
    void expect_earlier_or_whole(const std::string &name, const std::vector<uint8_t> &earlier,
                                 const std::vector<uint8_t> &whole) const
    {
        const std::vector<uint8_t> file = read_file_bytes(out + "/" + name);
        if (file == earlier) return;
        ASSERT_EQ(file.size(), whole.size()) << name << " is neither the earlier file nor the new one";
        EXPECT_TRUE(without_identity(file) == without_identity(whole)) << name << " has the new size but not the new bytes";
    }

    // Each file earlier or whole, nothing beside them, and a failure told.
    void check_after(const run_result &result, const std::string &what) const
    {
        SCOPED_TRACE(what + "; standard error: " + result.errors);
        expect_earlier_or_whole("SAVE", old_save, new_save);
        expect_earlier_or_whole("FILM", old_film, new_film);
        std::vector<std::string> names;
        for (const fs::directory_entry &entry : fs::directory_iterator(out)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"FILM", "SAVE"}));
        const bool killed = WIFSIGNALED(result.status) || exit_code_of(result.status) >= 100;
        if (!killed && exit_code_of(result.status) != 0)
        {
            EXPECT_EQ(exit_code_of(result.status), 1);
            EXPECT_NE(result.errors.find("vesk_sim: "), std::string::npos);
        }
        // A run that ended normally replaced both.
        if (exit_code_of(result.status) == 0)
        {
            EXPECT_NE(read_file_bytes(out + "/SAVE"), old_save);
            EXPECT_NE(read_file_bytes(out + "/FILM"), old_film);
        }
    }
};

// A case a limit, killed or full, each over every write.
class vesk_sim_kill_at_every_write : public vesk_sim_kill_test, public testing::WithParamInterface<run_limit::kind_type>
{
};

TEST_P(vesk_sim_kill_at_every_write, a_kill_or_a_full_disk_at_any_write_keeps_the_earlier_save_and_film_or_makes_new_whole_ones)
{
    // In 24 steps over the larger file (about 2 KB each: every write of the
    // run is crossed, most of them part way), and once past it.
    const size_t largest = std::max(new_save.size(), new_film.size());
    const size_t step = std::max<size_t>(256, largest / 24);
    const run_limit::kind_type kind = GetParam();
    int interrupted = 0, last_status = -1;
    for (size_t bytes = 0; bytes <= largest + step; bytes += step)
    {
        put_back_earlier_files();
        const run_result result = run(long_game(), {kind, (rlim_t)bytes});
        const bool kill = kind == run_limit::file_size_kill;
        EXPECT_FALSE(WIFSIGNALED(result.status)) << "the failed write is reported, never a death by SIGXFSZ";
        if (exit_code_of(result.status) != 0) ++interrupted;
        check_after(result, (kill ? "limited, SIGXFSZ at its default, at a file size of " : "full at a file size of ") +
                                std::to_string(bytes));
        if (HasFailure()) return;
        last_status = result.status;
    }
    // The limit did interrupt runs, and the last one (past both sizes) ran through.
    EXPECT_GT(interrupted, 0);
    EXPECT_EQ(exit_code_of(last_status), 0);
}

INSTANTIATE_TEST_SUITE_P(limits, vesk_sim_kill_at_every_write,
                         testing::Values(run_limit::file_size_kill, run_limit::file_size_full),
                         [](const testing::TestParamInfo<run_limit::kind_type> &info) {
                             return std::string(info.param == run_limit::file_size_kill ? "signal_at_default" : "full");
                         });

TEST_F(vesk_sim_kill_test, a_full_disk_under_the_two_names_keeps_the_earlier_save_and_film)
{
    // From what the earlier files take to what both files together take.
    const size_t page = 4096;
    const size_t start = (old_save.size() + old_film.size() + page - 1) / page * page;
    const size_t end = (old_save.size() + old_film.size() + new_save.size() + new_film.size()) / page * page + 2 * page;
    int refused = 0;
    for (size_t bytes = start; bytes <= end; bytes += page)
    {
        put_back_earlier_files();
        const run_result result = run(long_game(), {run_limit::small_disk, (rlim_t)bytes});
        // Mounting takes a privilege a machine may withhold: that is not a
        // fault of the program, so the case is skipped there, not failed.
        if (exit_code_of(result.status) == 123) GTEST_SKIP() << "no memory file system can be mounted here";
        if (exit_code_of(result.status) != 0) ++refused;
        check_after(result, "a disk of " + std::to_string(bytes) + " bytes");
        if (HasFailure()) return;
    }
    EXPECT_GT(refused, 0);
}

// A run stopped by any signal it can catch removes its folder for films and
// saved games under the temporary directory, then ends by that signal; the
// folder of a run killed outright goes when the next run starts.
class vesk_sim_signal_test : public vesk_sim_fixture
{
};

TEST_F(vesk_sim_signal_test, a_signalled_run_leaves_no_temporary_folder)
{
    const std::string temporary = directory + "/tmp";
    // A run of `ticks`, quiet, with the default action of `signal_number`.
    const auto start = [&](const char *ticks, int signal_number) {
        std::vector<std::string> words = {bin + "/vesk_sim", "--data", directory, "--log", "/dev/null", "--map",
                                          "demo", "--seed", "1", "--ticks", ticks};
        std::vector<char *> argv;
        for (std::string &word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        const pid_t child = fork();
        if (child == 0)
        {
            const int null = open("/dev/null", O_RDWR);
            if (null < 0 || dup2(null, 1) < 0 || dup2(null, 2) < 0) _exit(120);
            setenv("TMPDIR", temporary.c_str(), 1);
            setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
            signal(signal_number, SIG_DFL); // as a shell's background job may not have it
            execv(argv[0], argv.data());
            _exit(122);
        }
        return child;
    };
    for (const int signal_number : {SIGTERM, SIGINT, SIGPIPE, SIGKILL})
    {
        SCOPED_TRACE(strsignal(signal_number));
        fs::remove_all(temporary);
        fs::create_directory(temporary);
        pid_t child = start("100000000", signal_number);
        ASSERT_GT(child, 0);
        // Its folder is made before its game starts.
        bool made = false;
        for (int tries = 0; tries < 600 && !made; ++tries)
        {
            for (const fs::directory_entry &entry : fs::directory_iterator(temporary))
                made |= entry.path().filename().string().rfind("vesk_sim.", 0) == 0;
            if (!made) usleep(50000);
        }
        EXPECT_TRUE(made) << "no folder within 30 s";
        kill(child, signal_number);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << status;
        if (signal_number == SIGKILL) // its folder stays until the next run starts
        {
            EXPECT_FALSE(fs::is_empty(temporary));
            ASSERT_GT(child = start("1", SIGTERM), 0);
            ASSERT_EQ(waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        }
        EXPECT_TRUE(fs::is_empty(temporary));
    }
}

} // namespace

} // namespace vesk_sim_kill_test_file
