#pragma once
// A fake movie player: a script named "ffplay" put first on PATH while the
// object lives.  "ffplay -h" prints a scripted help text; any other run
// records its arguments (argv[1]...) and exits with a chosen status.

#include <string>
#include <vector>

class fake_movie_player
{
public:
    // Makes "<directory>/ffplay" and puts the directory first on PATH.  False when it cannot.
    bool install(const std::string &directory);
    ~fake_movie_player();

    void set_help(const std::string &text);
    void set_exit_status(int status);
    // The arguments of each run so far, oldest first.
    std::vector<std::vector<std::string>> runs(void) const;
    void forget_runs(void);

private:
    std::string directory;
    std::string saved_path;
    bool installed = false;
};
