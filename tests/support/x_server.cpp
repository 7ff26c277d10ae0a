#include "support/x_server.h"

#include <cstdlib>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

bool own_x_server::start(std::string *why, const char *screen)
{
    if (access("/usr/bin/Xvfb", X_OK) != 0)
    {
        *why = "Xvfb is not installed (scripts/install_dependencies.sh installs it)";
        return false;
    }
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) return false;
    pid = fork();
    if (pid == 0)
    {
        close(pipe_ends[0]);
        const std::string fd = std::to_string(pipe_ends[1]);
        execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen, "-nolisten",
              "tcp", "-noreset", (char *)nullptr);
        _exit(127);
    }
    close(pipe_ends[1]);
    std::string number;
    pollfd waiting = {pipe_ends[0], POLLIN, 0};
    while (poll(&waiting, 1, 10000) > 0)
    {
        char c;
        if (read(pipe_ends[0], &c, 1) != 1 || c == '\n') break;
        number += c;
    }
    close(pipe_ends[0]);
    if (number.empty())
    {
        *why = "Xvfb did not start";
        stop();
        return false;
    }
    display = ":" + number;
    return true;
}

void own_x_server::stop(void)
{
    if (pid > 0)
    {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    pid = -1;
}

bool own_x_server::start_for_opengl(std::string *why, const char *screen)
{
    if (!start(why, screen)) return false;
    setenv("DISPLAY", display.c_str(), 1);
    unsetenv("SDL_VIDEODRIVER");
    unsetenv("MESA_GL_VERSION_OVERRIDE");
#if defined(__SANITIZE_ADDRESS__)
    // The leak check is made now, before the driver starts its threads: at
    // exit the checker would have to stop them, and its tracer sometimes
    // crashes on them.  What follows is not tracked anyway.
    __lsan_do_leak_check();
    __lsan_disable();
#endif
    return true;
}
