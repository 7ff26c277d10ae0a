#include "sound/load_openal.h"

#include <dlfcn.h>

#include <cstring>

#include "cseries/log.h"

namespace {

const char *const default_library_names[] = {"libopenal.so", "libopenal.so.1", "libopenal.so.0"};

// The names in the order of ALfunctions' members.
const char *const al_symbols[NUMBER_OF_AL_FUNCTIONS] = {
    "alEnable", "alDisable", "alIsEnabled", "alGetBoolean", "alGetInteger", "alGetFloat", "alGetDouble",
    "alGetBooleanv", "alGetIntegerv", "alGetFloatv", "alGetDoublev", "alGetString", "alGetError",
    "alIsExtensionPresent", "alGetProcAddress", "alGetEnumValue", "alListeneri", "alListenerf", "alListener3f",
    "alListenerfv", "alGetListeneri", "alGetListenerf", "alGetListener3f", "alGetListenerfv", "alGenSources",
    "alDeleteSources", "alIsSource", "alSourcei", "alSourcef", "alSource3f", "alSourcefv", "alGetSourcei",
    "alGetSourcef", "alGetSourcefv", "alSourcePlayv", "alSourceStopv", "alSourcePlay", "alSourcePause",
    "alSourceStop", "alGenBuffers", "alDeleteBuffers", "alIsBuffer", "alBufferData", "alGetBufferi",
    "alGetBufferf", "alSourceQueueBuffers", "alSourceUnqueueBuffers", "alDistanceModel", "alDopplerFactor",
    "alDopplerVelocity", "alcGetString", "alcGetIntegerv", "alcOpenDevice", "alcCloseDevice", "alcCreateContext",
    "alcMakeContextCurrent", "alcProcessContext", "alcGetCurrentContext", "alcGetContextsDevice",
    "alcSuspendContext", "alcDestroyContext", "alcGetError", "alcIsExtensionPresent", "alcGetProcAddress",
    "alcGetEnumValue",
};

struct openal_library_globals
{
    void *handle;
    ALfunctions functions;
    const char *const *names;
    int32_t name_count;
};

struct openal_library_globals openal_library_globals = {nullptr, {}, default_library_names, 3};

} // namespace

bool load_openal(void)
{
    struct openal_library_globals &globals = openal_library_globals;
    if (globals.handle) return true;

    const char *opened_name = nullptr;
    for (int32_t i = 0; i < globals.name_count && !globals.handle; ++i)
    {
        globals.handle = dlopen(globals.names[i], RTLD_NOW | RTLD_LOCAL);
        opened_name = globals.names[i];
    }
    if (!globals.handle)
    {
        log_message(nullptr, -1, "OpenAL: OpenAL library not found. Sound will be disabled.");
        return false;
    }
    log_message(nullptr, -1, "OpenAL: Loaded OpenAL library '%s'.", opened_name);

    // Members are filled by position: each is one pointer, in al_symbols' order.
    char *slots = reinterpret_cast<char *>(&globals.functions);
    for (int32_t i = 0; i < NUMBER_OF_AL_FUNCTIONS; ++i)
    {
        void *entry = dlsym(globals.handle, al_symbols[i]);
        if (!entry)
        {
            log_message(nullptr, -1, "OpenAL: Could not load OpenAL functions. Sound will be disabled.");
            unload_openal();
            return false;
        }
        memcpy(slots + i * sizeof(void *), &entry, sizeof(void *));
    }
    return true;
}

void unload_openal(void)
{
    struct openal_library_globals &globals = openal_library_globals;
    if (!globals.handle) return;
    memset(&globals.functions, 0, sizeof(globals.functions));
    dlclose(globals.handle);
    globals.handle = nullptr;
}

bool openal_is_loaded(void) { return openal_library_globals.handle != nullptr; }

const ALfunctions *openal_functions(void) { return &openal_library_globals.functions; }

void set_openal_library_names(const char *const *names, int32_t count)
{
    struct openal_library_globals &globals = openal_library_globals;
    if (names && count > 0)
    {
        globals.names = names;
        globals.name_count = count;
    }
    else
    {
        globals.names = default_library_names;
        globals.name_count = 3;
    }
}
