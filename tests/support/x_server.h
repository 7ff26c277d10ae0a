#pragma once
// An X server of the test's own (Xvfb on a free display), so window tests
// never depend on a DISPLAY they find; stopped when the object goes.

#include <string>
#include <sys/types.h>

class own_x_server
{
public:
    // False with why in `why` when Xvfb is missing or does not start.
    // `screen` is Xvfb's screen: width x height x depth.
    bool start(std::string *why, const char *screen = "1280x1024x24");
    // Starts it for an OpenGL test program: DISPLAY names it, no video driver
    // or GL version is forced, and the leak check is made at once and is off
    // from then on (the driver and SDL keep what they load, and it cannot name
    // them; its threads crashed the check at exit).
    bool start_for_opengl(std::string *why, const char *screen);
    void stop(void);
    ~own_x_server() { stop(); }

    std::string display; // ":N" once started

private:
    pid_t pid = -1;
};
