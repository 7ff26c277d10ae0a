#pragma once
// One X server of the program's own and one OpenGL pattern window for a whole
// OpenGL test program, made by a global test environment: each program adds
//   ::testing::AddGlobalTestEnvironment(new gl_pattern_environment(...));
// (the build keeps a file that installs a global environment in a program of
// its own).  Tests skip, or fail under CI, when `display().started` is false.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "screen.h"
#include "screen_preferences.h"
#include "support/x_server.h"

struct gl_display
{
    own_x_server server;
    std::string why; // empty once started
    screen_parameters prefs;
    active_color_environment screen; // as the window was opened
    bool started = false;
};
gl_display &display(void);

class gl_pattern_environment : public ::testing::Environment
{
public:
    // An Xvfb screen of `x_screen` ("WxHxD"), a window of `width` x `height`
    // with a 64 MB texture cache and screen preference flags `flags`;
    // `before`, when given, runs first (a back end to join).
    gl_pattern_environment(const char *x_screen, int32_t width, int32_t height, uint32_t flags,
                           void (*before)(void) = nullptr)
        : x_screen(x_screen), width(width), height(height), flags(flags), before(before)
    {
    }
    void SetUp() override;
    void TearDown() override;

private:
    const char *x_screen;
    int32_t width, height;
    uint32_t flags;
    void (*before)(void);
};
