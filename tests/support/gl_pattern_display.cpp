#include "support/gl_pattern_display.h"

#include "gl_pattern.h"

gl_display &display(void)
{
    static gl_display the_display;
    return the_display;
}

void gl_pattern_environment::SetUp()
{
    if (before) before();
    gl_display &d = display();
    if (!d.server.start_for_opengl(&d.why, x_screen)) return;
    d.prefs.texture_cache_size = 64;
    d.prefs.flags = flags;
    const char *reason = nullptr;
    d.started = start_gl_pattern_context(width, height, &d.prefs, &reason);
    if (!d.started) d.why = reason;
    d.screen = active_screen;
}

void gl_pattern_environment::TearDown()
{
    gl_display &d = display();
    if (d.started) stop_gl_pattern_context();
    d.server.stop();
}
