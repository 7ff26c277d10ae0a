// The fake movie player.

#include "support/fake_movie_player.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "support/scratch.h"

static const char fake_player_script[] =
    "#!/bin/sh\n"
    "dir=\"$(dirname \"$0\")\"\n"
    "if [ \"$1\" = \"-h\" ]; then cat \"$dir/help.txt\" 2>/dev/null; exit 0; fi\n"
    "for a in \"$@\"; do printf '%s\\037' \"$a\" >> \"$dir/runs.txt\"; done\n"
    "printf '\\n' >> \"$dir/runs.txt\"\n"
    "exit \"$(cat \"$dir/status.txt\" 2>/dev/null || echo 0)\"\n";

bool fake_movie_player::install(const std::string &where)
{
    directory = where;
    const std::string script = directory + "/ffplay";
    if (!write_whole_file(script, fake_player_script, sizeof(fake_player_script) - 1) || chmod(script.c_str(), 0755) != 0)
        return false;
    const char *path = getenv("PATH");
    saved_path = path ? path : "";
    setenv("PATH", (directory + ":" + saved_path).c_str(), 1);
    installed = true;
    set_exit_status(0);
    return true;
}

fake_movie_player::~fake_movie_player()
{
    if (installed) setenv("PATH", saved_path.c_str(), 1);
}

void fake_movie_player::set_help(const std::string &text)
{
    write_whole_file(directory + "/help.txt", text.data(), text.size());
}

void fake_movie_player::set_exit_status(int status)
{
    const std::string text = std::to_string(status);
    write_whole_file(directory + "/status.txt", text.data(), text.size());
}

std::vector<std::vector<std::string>> fake_movie_player::runs(void) const
{
    std::vector<std::vector<std::string>> result;
    const std::string text = read_whole_file(directory + "/runs.txt");
    std::vector<std::string> run;
    std::string field;
    for (char c : text)
    {
        if (c == '\037')
        {
            run.push_back(field);
            field.clear();
        }
        else if (c == '\n')
        {
            result.push_back(run);
            run.clear();
        }
        else
        {
            field += c;
        }
    }
    return result;
}

void fake_movie_player::forget_runs(void) { unlink((directory + "/runs.txt").c_str()); }
