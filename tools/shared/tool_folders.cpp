#include "tool_folders.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "tag_files/tag_files.h"

static struct tool_folders_globals
{
    char root[1024];
    pid_t owner; // a forked child never removes its parent's folder
} tool_folders_globals;

static void remove_private_player_folders(void)
{
    if (!tool_folders_globals.root[0] || getpid() != tool_folders_globals.owner) return;
    std::error_code ignored;
    std::filesystem::remove_all(tool_folders_globals.root, ignored);
    tool_folders_globals.root[0] = 0;
}

bool use_private_player_folders(const char *tool)
{
    if (tool_folders_globals.root[0]) return true;
    const char *temporary = getenv("TMPDIR");
    if (!temporary || temporary[0] != '/') temporary = "/tmp";
    const std::string pattern = std::string(temporary) + "/" + tool + ".XXXXXX";
    if (pattern.size() >= sizeof(tool_folders_globals.root))
    {
        fprintf(stderr, "%s: the temporary directory's path is too long\n", tool);
        return false;
    }
    strcpy(tool_folders_globals.root, pattern.c_str());
    if (!mkdtemp(tool_folders_globals.root) || !tag_files_set_player_folders_root(tool_folders_globals.root))
    {
        fprintf(stderr, "%s: no folder of its own for films and saved games under \"%s\": %s\n", tool, temporary,
                strerror(errno));
        tool_folders_globals.root[0] = 0;
        return false;
    }
    tool_folders_globals.owner = getpid();
    atexit(remove_private_player_folders);
    return true;
}
