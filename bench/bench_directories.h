#pragma once
// Where the benchmarks read and write.  Never in their build's program
// directory: the game writes its films ("films/Last Game"), its cutscene
// copies and its preferences under the directory it runs in, and two
// benchmark programs of one build running at once would race on those files.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#ifndef VESK_DEMO_DATA_DIRECTORY
#define VESK_DEMO_DATA_DIRECTORY "."
#endif

// A fresh directory "<$TMPDIR or /tmp>/vesk_<label>_XXXXXX", removed with
// everything in it when this ends.  With `enter`, the program works in it
// meanwhile and goes back to where it was afterwards.  `path` is empty when
// it could not be made (or entered).
struct bench_scratch_directory
{
    std::string path, previous;

    explicit bench_scratch_directory(const char *label, bool enter = true)
    {
        const char *temporary = getenv("TMPDIR");
        std::string pattern = std::string(temporary && *temporary ? temporary : "/tmp") + "/vesk_" + label + "_XXXXXX";
        if (!mkdtemp(pattern.data())) return;
        path = pattern;
        if (!enter) return;
        std::error_code error;
        previous = std::filesystem::current_path(error).string();
        if (error || chdir(path.c_str()) != 0)
        {
            previous.clear();
            discard();
        }
    }
    ~bench_scratch_directory() { discard(); }
    bench_scratch_directory(const bench_scratch_directory &) = delete;
    bench_scratch_directory &operator=(const bench_scratch_directory &) = delete;

    bool ready(void) const { return !path.empty(); }

    // Leaves it (when entered) and removes it now.
    void discard(void)
    {
        if (!previous.empty() && chdir(previous.c_str()) != 0) perror("chdir");
        previous.clear();
        std::error_code error;
        if (!path.empty()) std::filesystem::remove_all(path, error);
        path.clear();
    }
};

// This build's demo data (VESK_DEMO_DATA_DIRECTORY) as a data directory of
// this process: links to the build's data and programs, copies of its
// preferences and cutscenes, and no films, saved games, logs or lock, which
// the game then makes here.  Made on first use and removed when the program
// ends; null (reported) when it cannot be made.
inline const char *bench_data_directory(void)
{
    namespace fs = std::filesystem;
    static std::unique_ptr<bench_scratch_directory> directory;
    if (directory) return directory->ready() ? directory->path.c_str() : nullptr;
    directory = std::make_unique<bench_scratch_directory>("bench_data", false);
    std::error_code error;
    for (const fs::directory_entry &entry : fs::directory_iterator(VESK_DEMO_DATA_DIRECTORY, error))
    {
        if (!directory->ready()) break;
        const std::string name = entry.path().filename();
        const fs::path made = fs::path(directory->path) / name;
        if (name == "films" || name == "saved games" || name == "vesk.lock" || name.ends_with("_log.txt")) continue;
        if (name == "preferences" || name == "cutscenes")
            fs::copy(entry.path(), made, fs::copy_options::recursive, error);
        else
            fs::create_symlink(fs::absolute(entry.path()), made, error);
        if (error) break;
    }
    if (error && directory->ready())
    {
        fprintf(stderr, "bench: cannot make a data directory from \"%s\" in \"%s\": %s\n", VESK_DEMO_DATA_DIRECTORY,
                directory->path.c_str(), error.message().c_str());
        directory->discard();
    }
    return directory->ready() ? directory->path.c_str() : nullptr;
}
