// Every test program, and every program a test starts, hears nothing of the
// machine's sound system: the audio library's silent output is chosen before
// main runs, so a sound server that is missing, busy or left locked by a
// killed process (which makes opening the default output hang) changes no
// result.  A test that records what the game plays chooses the wave output
// itself (support/wave_output.h), which overrides this.  Linked into every
// test program as an object, like the assertion watcher.

#include <cstdlib>

namespace {

struct silent_sound_output
{
    silent_sound_output()
    {
        setenv("ALSOFT_DRIVERS", "null", 1);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
    }
} silent_sound_output_chosen;

} // namespace
