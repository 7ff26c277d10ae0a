#include "cseries/files.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include "cseries/errors.h"
#include "support/scratch.h"

namespace files_test_file {

namespace {

// Every test works in a directory of its own (tests run in parallel) and
// starts with no pending error.
class files_test : public ::testing::Test
{
public:
    scratch_directory scratch;
    const char *const directory = scratch.path;

    void SetUp() override { clear_pending_error(); }

    void TearDown() override
    {
        release_single_instance_lock();
        set_data_directory(nullptr);
        clear_pending_error();
    }

    // An absolute reference to `name` in the test directory.
    file_reference reference_to(const char *name)
    {
        file_reference reference;
        file_reference_create(&reference, _file_reference_absolute);
        EXPECT_TRUE(file_reference_add_directory(&reference, directory));
        EXPECT_TRUE(file_reference_set_name(&reference, name));
        return reference;
    }

    void write_file(const char *name, const std::string &contents)
    {
        file_reference reference = reference_to(name);
        ASSERT_TRUE(file_create(&reference));
        ASSERT_TRUE(file_open(&reference, _permission_write_flag));
        ASSERT_TRUE(file_write(&reference, (int32_t)contents.size(), contents.data()));
        ASSERT_TRUE(file_close(&reference));
    }
};

TEST_F(files_test, write_lock_excludes_a_second_writer_until_close)
{
    write_file("locked.dat", "x");
    file_reference first = reference_to("locked.dat");
    file_reference second = reference_to("locked.dat");

    ASSERT_TRUE(file_open(&first, _permission_read_flag | _permission_write_flag));
    EXPECT_FALSE(file_open(&second, _permission_write_flag));
    EXPECT_EQ(pending_error_code(), _error_file_open);
    EXPECT_EQ(second.descriptor, -1);

    // Readers take no lock.
    file_reference reader = reference_to("locked.dat");
    EXPECT_TRUE(file_open(&reader, _permission_read_flag));
    EXPECT_TRUE(file_close(&reader));

    EXPECT_TRUE(file_close(&first));
    EXPECT_FALSE(file_close(&first)); // nothing open any more
    EXPECT_TRUE(file_open(&second, _permission_write_flag));
    EXPECT_TRUE(file_close(&second));
}

TEST_F(files_test, read_into_memory_gives_the_size_and_four_zero_bytes)
{
    const std::string samples[] = {std::string(), std::string("a"), std::string(5000, '\xff')};
    for (const std::string &contents : samples)
    {
        SCOPED_TRACE(contents.size());
        write_file("whole.dat", contents);
        file_reference reference = reference_to("whole.dat");
        int32_t size = -1;
        char *data = (char *)file_read_into_memory(&reference, &size);
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(size, (int32_t)contents.size());
        EXPECT_EQ(memcmp(data, contents.data(), contents.size()), 0);
        const char zeros[4] = {0, 0, 0, 0};
        EXPECT_EQ(memcmp(data + contents.size(), zeros, 4), 0);
        free(data);
    }

    file_reference missing = reference_to("missing.dat");
    int32_t size = 99;
    EXPECT_EQ(file_read_into_memory(&missing, &size), nullptr);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(pending_error_code(), _error_none);
}

TEST_F(files_test, writes_at_positions_extend_with_zeros_and_move_the_position)
{
    file_reference reference = reference_to("gap.dat");
    ASSERT_TRUE(file_create(&reference));
    ASSERT_TRUE(file_open(&reference, _permission_write_flag));
    ASSERT_TRUE(file_write(&reference, 2, "ab"));
    ASSERT_TRUE(file_write_to_position(&reference, 10, 2, "yz"));
    ASSERT_TRUE(file_write(&reference, 1, "!")); // continues after the positioned write
    EXPECT_EQ(file_get_size(&reference), 13);

    char buffer[13];
    ASSERT_TRUE(file_read_from_position(&reference, 0, 13, buffer));
    EXPECT_EQ(memcmp(buffer, "ab\0\0\0\0\0\0\0\0yz!", 13), 0);

    EXPECT_FALSE(file_read_from_position(&reference, 10, 4, buffer)); // only 3 there
    EXPECT_EQ(pending_error_code(), _error_file_read);
    clear_pending_error();
    EXPECT_FALSE(file_write_to_position(&reference, -1, 1, "x"));
    EXPECT_EQ(pending_error_code(), _error_file_write);
    clear_pending_error();

    ASSERT_TRUE(file_set_size(&reference, 4));
    EXPECT_EQ(file_get_size(&reference), 4);
    ASSERT_TRUE(file_close(&reference));
    EXPECT_EQ(file_get_size(&reference), -1);

    // Appending positions at the end.
    ASSERT_TRUE(file_open(&reference, _permission_append_flag));
    ASSERT_TRUE(file_write(&reference, 2, "++"));
    ASSERT_TRUE(file_close(&reference));
    int32_t size = 0;
    char *data = (char *)file_read_into_memory(&reference, &size);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(size, 6);
    EXPECT_EQ(memcmp(data, "ab\0\0++", 6), 0);
    free(data);
}

TEST_F(files_test, create_without_a_name_makes_the_directory_and_its_parents)
{
    file_reference reference;
    file_reference_create(&reference, _file_reference_absolute);
    ASSERT_TRUE(file_reference_add_directory(&reference, directory));
    ASSERT_TRUE(file_reference_add_directory(&reference, "screenshots"));
    ASSERT_TRUE(file_reference_add_directory(&reference, "deeper"));
    EXPECT_FALSE(file_exists(&reference));
    ASSERT_TRUE(file_create(&reference));
    EXPECT_TRUE(file_exists(&reference));
    EXPECT_TRUE(file_create(&reference)); // already there

    const std::string path = std::string(directory) + "/screenshots/deeper";
    struct stat status;
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode));

    // A file inside it, then the directory goes once empty.
    ASSERT_TRUE(file_reference_set_name(&reference, "shot.bmp"));
    ASSERT_TRUE(file_create(&reference));
    EXPECT_TRUE(file_exists(&reference));
    EXPECT_TRUE(file_delete(&reference));
    EXPECT_FALSE(file_exists(&reference));
    ASSERT_TRUE(file_reference_set_name(&reference, ""));
    EXPECT_TRUE(file_delete(&reference));
    EXPECT_FALSE(file_exists(&reference));
    EXPECT_EQ(pending_error_code(), _error_none);
}

TEST_F(files_test, get_name_gives_each_part_and_cuts_to_the_buffer)
{
    file_reference reference;
    file_reference_create(&reference, _file_reference_absolute);
    ASSERT_TRUE(file_reference_add_directory(&reference, "/games/vesk/"));
    ASSERT_TRUE(file_reference_add_directory(&reference, "tags"));
    ASSERT_TRUE(file_reference_set_name(&reference, "map.one.tag"));

    struct
    {
        int32_t parts;
        size_t size;
        const char *expected;
    } const cases[] = {
        {_name_directory_flag, 256, "/games/vesk/tags"},
        {_name_file_flag, 256, "map.one"},
        {_name_extension_flag, 256, ".tag"},
        {_name_file_flag | _name_extension_flag, 256, "map.one.tag"},
        {_name_full_path, 256, "/games/vesk/tags/map.one.tag"},
        {_name_full_path, 11, "/games/ves"},
        {_name_file_flag, 1, ""},
    };
    for (const auto &test : cases)
    {
        SCOPED_TRACE(test.parts);
        char buffer[300];
        memset(buffer, '#', sizeof(buffer));
        EXPECT_EQ(file_reference_get_name(&reference, test.parts, buffer, test.size), buffer);
        EXPECT_STREQ(buffer, test.expected);
        EXPECT_EQ(buffer[test.size], '#'); // nothing past the size given
    }

    // Other locations resolve against their roots; a leading dot is no extension.
    char buffer[256];
    file_reference_create(&reference, _file_reference_application_relative);
    ASSERT_TRUE(file_reference_set_name(&reference, ".hidden"));
    EXPECT_STREQ(file_reference_get_name(&reference, _name_full_path, buffer, sizeof(buffer)), "./.hidden");
    EXPECT_STREQ(file_reference_get_name(&reference, _name_extension_flag, buffer, sizeof(buffer)), "");

    file_reference_create(&reference, _file_reference_data_relative);
    ASSERT_TRUE(file_reference_add_directory(&reference, "plugins"));
    EXPECT_STREQ(file_reference_get_name(&reference, _name_directory_flag, buffer, sizeof(buffer)), "./plugins");
    set_data_directory("/srv/data/");
    EXPECT_STREQ(file_reference_get_name(&reference, _name_directory_flag, buffer, sizeof(buffer)),
                 "/srv/data/plugins");
}

TEST_F(files_test, names_that_would_leave_their_directory_are_refused)
{
    file_reference reference;
    file_reference_create(&reference, _file_reference_application_relative);
    const char *const bad_directories[] = {"", ".", "..", "a/b", "/etc"};
    for (const char *name : bad_directories) EXPECT_FALSE(file_reference_add_directory(&reference, name)) << name;
    const char *const bad_names[] = {".", "..", "../x", "a/b"};
    for (const char *name : bad_names) EXPECT_FALSE(file_reference_set_name(&reference, name)) << name;
    EXPECT_STREQ(reference.directory, "");
    EXPECT_STREQ(reference.name, "");

    file_reference_create(&reference, _file_reference_absolute);
    EXPECT_FALSE(file_reference_add_directory(&reference, "/tmp/../etc"));
    EXPECT_FALSE(file_reference_add_directory(&reference, "/"));
    EXPECT_STREQ(reference.directory, "");

    const std::string too_long(MAXIMUM_FILE_NAME, 'n');
    EXPECT_FALSE(file_reference_set_name(&reference, too_long.c_str()));
}

TEST_F(files_test, missing_files_are_quiet_and_real_failures_leave_their_code)
{
    file_reference missing = reference_to("missing.dat");
    EXPECT_FALSE(file_exists(&missing));
    EXPECT_FALSE(file_open(&missing, _permission_read_flag));
    EXPECT_FALSE(file_open(&missing, _permission_write_flag));
    EXPECT_EQ(pending_error_code(), _error_none);

    // Location 0 follows the working directory.
    ASSERT_EQ(chdir(directory), 0);
    write_file("here.dat", "here");
    file_reference relative;
    file_reference_create(&relative, _file_reference_application_relative);
    ASSERT_TRUE(file_reference_set_name(&relative, "here.dat"));
    EXPECT_TRUE(file_exists(&relative));

    struct failure
    {
        const char *what;
        bool (*attempt)(files_test *test);
        int32_t code;
    } const failures[] = {
        {"open a directory as a file",
         [](files_test *test) {
             file_reference reference = test->reference_to("");
             EXPECT_TRUE(file_reference_set_name(&reference, "sub"));
             file_reference directory_reference = test->reference_to("");
             EXPECT_TRUE(file_reference_add_directory(&directory_reference, "sub"));
             EXPECT_TRUE(file_create(&directory_reference));
             return file_open(&reference, _permission_read_flag);
         },
         _error_file_open},
        {"create in a missing directory",
         [](files_test *test) {
             file_reference reference = test->reference_to("");
             EXPECT_TRUE(file_reference_add_directory(&reference, "absent"));
             EXPECT_TRUE(file_reference_set_name(&reference, "x.dat"));
             return file_create(&reference);
         },
         _error_file_create},
        {"write to a file opened for reading",
         [](files_test *test) {
             test->write_file("read_only.dat", "r");
             file_reference reference = test->reference_to("read_only.dat");
             EXPECT_TRUE(file_open(&reference, _permission_read_flag));
             bool written = file_write(&reference, 1, "w");
             file_close(&reference);
             return written;
         },
         _error_file_write},
        {"read from a closed reference",
         [](files_test *test) {
             file_reference reference = test->reference_to("whatever.dat");
             char byte;
             return file_read_from_position(&reference, 0, 1, &byte);
         },
         _error_file_read},
        {"delete a missing file",
         [](files_test *test) {
             file_reference reference = test->reference_to("missing.dat");
             return file_delete(&reference);
         },
         _error_file_general},
    };
    for (const failure &test : failures)
    {
        SCOPED_TRACE(test.what);
        clear_pending_error();
        EXPECT_FALSE(test.attempt(this));
        EXPECT_EQ(pending_error_code(), test.code);
    }
}

// Exits 0 when the child took the lock, 1 when it could not.
static int take_lock_in_child(const void *)
{
    return acquire_single_instance_lock() ? 0 : 1;
}

TEST_F(files_test, a_second_process_cannot_take_the_single_instance_lock)
{
    ASSERT_EQ(chdir(directory), 0);
    int to_holder[2], from_holder[2];
    ASSERT_EQ(pipe(to_holder), 0);
    ASSERT_EQ(pipe(from_holder), 0);

    pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0)
    {
        char ready = acquire_single_instance_lock() ? 'y' : 'n', done;
        if (write(from_holder[1], &ready, 1) != 1) _exit(2);
        if (read(to_holder[0], &done, 1) != 1) _exit(2); // hold until told
        _exit(0);
    }
    char ready = 0;
    ASSERT_EQ(read(from_holder[0], &ready, 1), 1);
    ASSERT_EQ(ready, 'y');

    EXPECT_EQ(exit_code_of(run_in_child(take_lock_in_child, nullptr, 30)), 1);

    char done = 'x';
    ASSERT_EQ(write(to_holder[1], &done, 1), 1);
    int status = -1;
    waitpid(holder, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    close(to_holder[0]);
    close(to_holder[1]);
    close(from_holder[0]);
    close(from_holder[1]);

    // Free again once the holder is gone; taking it twice is harmless.
    EXPECT_EQ(exit_code_of(run_in_child(take_lock_in_child, nullptr, 30)), 0);
    EXPECT_TRUE(acquire_single_instance_lock());
    EXPECT_TRUE(acquire_single_instance_lock());
}

// A fifo where a file is expected is refused at once, for reading and for
// writing, instead of waiting for the other end.
int open_fifo_in_child(const void *context)
{
    file_reference reference = *(const file_reference *)context;
    if (file_open(&reference, _permission_read_flag)) return 1;
    if (file_open(&reference, _permission_write_flag)) return 2;
    return 0;
}

TEST_F(files_test, a_fifo_is_refused_without_waiting)
{
    file_reference reference = reference_to("fifo");
    char path[PATH_MAX];
    ASSERT_EQ(mkfifo(file_reference_get_name(&reference, _name_full_path, path), 0644), 0);
    EXPECT_EQ(exit_code_of(run_in_child(open_fifo_in_child, &reference, 10)), 0);
}

// A lock that cannot be taken for a reason other than another holder lets the
// game run, but says so once: on standard error (the default message box
// writes it there) and in the message box.
int take_an_impossible_lock_in_child(const void *)
{
    if (!freopen("stderr.txt", "w", stderr)) return 1;
    setvbuf(stderr, nullptr, _IONBF, 0);
    unsetenv("DISPLAY");
    set_message_box_proc(nullptr);
    if (!acquire_single_instance_lock() || !acquire_single_instance_lock()) return 2;
    return 0;
}

TEST_F(files_test, a_lock_that_cannot_be_taken_is_reported_once)
{
    ASSERT_EQ(chdir(directory), 0);
    ASSERT_EQ(mkdir(SINGLE_INSTANCE_LOCK_FILE_NAME, 0755), 0);
    EXPECT_EQ(exit_code_of(run_in_child(take_an_impossible_lock_in_child, nullptr, 30)), 0);
    const std::string told = read_whole_file("stderr.txt");
    EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 1) << told;
    EXPECT_NE(told.find(SINGLE_INSTANCE_LOCK_FILE_NAME), std::string::npos) << told;
}

// A whole-file replacement (the tools' outputs) that fails or is killed at
// any of its steps leaves the earlier file as it was and no aside file;
// one that succeeds leaves exactly the new bytes.  An exclusive creation
// never touches a file of that name.
TEST_F(files_test, a_replacement_is_whole_or_leaves_the_earlier_file_and_exclusive_creation_never_replaces)
{
    const std::string path = std::string(directory) + "/out.save";
    const std::string old_bytes = "earlier save", new_bytes(100000, 'n');
    ASSERT_TRUE(write_whole_file(path, old_bytes.data(), old_bytes.size()));
    const disk_step_fault faults[] = {_disk_step_full, _disk_step_kill};
    for (disk_step_fault fault : faults)
        for (int32_t step = 1;; ++step)
        {
            SCOPED_TRACE(std::to_string(fault) + " at step " + std::to_string(step));
            interrupt_disk_step(step, fault);
            bool replaced;
            int error = 0;
            if (fault == _disk_step_full)
            {
                replaced = file_replace_whole(path.c_str(), (int64_t)new_bytes.size(), new_bytes.data());
                error = errno;
            }
            else
            {
                struct context { const std::string *path, *bytes; } run = {&path, &new_bytes};
                const int status = run_in_child(
                    [](const void *c) {
                        const context *run = (const context *)c;
                        return file_replace_whole(run->path->c_str(), (int64_t)run->bytes->size(), run->bytes->data()) ? 0 : 1;
                    },
                    &run, 10);
                replaced = exit_code_of(status) == 0;
                // A kill leaves its aside file: the next write of the same path removes it.
            }
            const int32_t taken = disk_steps_taken();
            stop_interrupting_disk_steps();
            const std::string now = read_whole_file(path);
            EXPECT_TRUE(now == (replaced ? new_bytes : old_bytes) || (fault == _disk_step_kill && now == new_bytes));
            if (fault == _disk_step_full) { EXPECT_TRUE(aside_files_of(directory, "out.save").empty()); }
            if (fault == _disk_step_full && replaced) break; // past the last step
            if (fault == _disk_step_full) { EXPECT_EQ(error, ENOSPC); }
            if (fault == _disk_step_kill && replaced) break;
            ASSERT_TRUE(write_whole_file(path, old_bytes.data(), old_bytes.size()));
            ASSERT_LT(step, 20) << taken;
        }

    for (const auto &entry : std::filesystem::directory_iterator(directory))
        EXPECT_NE(entry.path().extension(), ".new") << entry.path() << " is left of a killed write";
    clear_pending_error(); // the failed folder flush of the last full-disk case
    file_reference existing = reference_to("out.save"), fresh = reference_to("fresh.png");
    bool taken = false;
    EXPECT_FALSE(file_create_exclusive(&existing, &taken));
    EXPECT_TRUE(taken);
    EXPECT_FALSE(error_pending(nullptr, nullptr, 0));
    EXPECT_EQ(read_whole_file(path), new_bytes);
    EXPECT_TRUE(file_create_exclusive(&fresh, &taken));
    EXPECT_FALSE(taken);
}

// The cleaning at start (and before each whole-file replacement) removes
// only what a killed write of this program left: never a player's file,
// whatever its name ends with, nor the aside file of a write still going on.
TEST_F(files_test, cleaning_removes_only_the_aside_files_of_killed_writes)
{
    const pid_t gone = fork();
    if (gone == 0) _exit(0);
    ASSERT_GT(gone, 0);
    waitpid(gone, nullptr, 0);
    char own[MAXIMUM_FILE_NAME];
    ASSERT_TRUE(make_aside_file_name("Battle", own, sizeof(own)));
    const std::string me = std::to_string(getpid());
    struct leftover
    {
        std::string name;
        bool aged, removed;
    };
    const leftover files[] = {
        {"Battle.new", true, false},                // a player's film of that name
        {"Battle.77-3.new", true, false},           // a player's, in an older build's aside form
        {"Battle", true, false},
        {"." "Battle." + std::to_string(gone) + "-0000abcd-12345678.new", false, true}, // its writer is gone
        {".Battle." + me + "-00000000-12345678.new", false, true},   // an earlier process of this id
        {own, false, false},                                           // this process's own write
        {".Battle." + std::to_string(getppid()) + "-0000abcd-12345678.new", false, false}, // a live writer's
        {".Battle." + me + "-0000abcd-12345678.new.txt", true, false}, // not of that form
        {".Battle.new", true, true},                                   // an older build's tag store, aged
        {".Fresh.new", false, false},                                  // ... not yet
    };
    for (const leftover &file : files)
    {
        const std::string path = std::string(directory) + "/" + file.name;
        ASSERT_TRUE(write_whole_file(path, "x", 1)) << file.name;
        if (file.aged)
        {
            struct utimbuf old = {time(nullptr) - 3600, time(nullptr) - 3600};
            ASSERT_EQ(utime(path.c_str(), &old), 0);
        }
    }
    int32_t expected = 0;
    for (const leftover &file : files) expected += file.removed ? 1 : 0;
    EXPECT_EQ(remove_abandoned_aside_files(directory), expected);
    for (const leftover &file : files)
        EXPECT_EQ(access((std::string(directory) + "/" + file.name).c_str(), F_OK) != 0, file.removed) << file.name;

    // A leftover of this process's id does not stand in the way of a write.
    const std::string blocking = std::string(directory) + "/.out." + me + "-00000000-00000001.new";
    ASSERT_TRUE(write_whole_file(blocking, "x", 1));
    EXPECT_TRUE(file_replace_whole((std::string(directory) + "/out").c_str(), 3, "new"));
    EXPECT_EQ(read_whole_file(std::string(directory) + "/out"), "new");
    EXPECT_TRUE(aside_files_of(directory, "out").empty());
}

} // namespace

} // namespace files_test_file
