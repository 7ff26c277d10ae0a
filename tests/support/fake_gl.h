#pragma once
// A fake OpenGL behind the back end's dispatch table: no context, no window.
// Every call is recorded as "Name arg arg ..." (integer arguments in
// decimal), names are handed out and remembered while alive, links succeed
// unless told to fail, and the lookup answers every OpenGL 2.0 name except
// those listed as missing.  Install it with fake SDL video for a headless map.

#include <cstdint>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "hardware/OpenGL/gl_dispatch.h"

namespace fake_gl {

struct state
{
    std::string version = "2.1 Fake";
    std::string extensions = "GL_EXT_bgra GL_EXT_texture_filter_anisotropic GL_ARB_framebuffer_object";
    std::string renderer = "Fake renderer", vendor = "Fake vendor";
    int32_t max_texture_size = 4096;
    float max_anisotropy = 16.0f;
    int32_t link_failures = 0; // the next this many links fail
    std::set<std::string> missing_procedures; // the lookup answers null for these

    std::vector<std::string> calls;
    uint32_t next_name = 1;
    std::set<uint32_t> textures, programs, shaders;
};

state &current(void);

// A fresh fake in place of the driver and of the lookup.
void install(void);
// The driver's calls and lookup back.
void uninstall(void);

// "Name a b ..." as a call is recorded.
template <typename... A> std::string call(const char *name, A... arguments)
{
    std::string text = name;
    ((text += " " + std::to_string((long long)arguments)), ...);
    return text;
}
// How many recorded calls are exactly `text` / begin with `prefix`.
int32_t count_exact(const std::string &text);
int32_t count_prefix(const std::string &prefix);

} // namespace fake_gl
