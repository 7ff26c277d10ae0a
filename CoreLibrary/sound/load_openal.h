#pragma once
// OpenAL, opened at run time: the game links no audio library and runs silent
// when none is installed.  The types and the few constants the output uses are
// declared here, so no OpenAL headers are needed to build.
//
// Main thread only.

#include <cstdint>

// ---- types -------------------------------------------------------------------

typedef char ALboolean;
typedef char ALchar;
typedef int ALint;
typedef unsigned int ALuint;
typedef int ALsizei;
typedef int ALenum;
typedef float ALfloat;
typedef double ALdouble;
typedef void ALvoid;
typedef char ALCboolean;
typedef char ALCchar;
typedef int ALCint;
typedef int ALCenum;
typedef struct ALCdevice ALCdevice;
typedef struct ALCcontext ALCcontext;

// ---- constants ---------------------------------------------------------------

enum : ALenum
{
    AL_NONE = 0,
    AL_FALSE = 0,
    AL_TRUE = 1,
    AL_NO_ERROR = 0,

    AL_SOURCE_RELATIVE = 0x202,
    AL_PITCH = 0x1003,
    AL_POSITION = 0x1004,
    AL_VELOCITY = 0x1006,
    AL_GAIN = 0x100A,
    AL_ORIENTATION = 0x100F,
    AL_SOURCE_STATE = 0x1010,
    AL_PLAYING = 0x1012,
    AL_BUFFERS_QUEUED = 0x1015,
    AL_BUFFERS_PROCESSED = 0x1016,

    AL_FORMAT_MONO8 = 0x1100,
    AL_FORMAT_MONO16 = 0x1101,
    AL_FORMAT_STEREO8 = 0x1102,
    AL_FORMAT_STEREO16 = 0x1103,

    // The effects extension.
    AL_EFFECTSLOT_NULL = 0,
    AL_EFFECT_NULL = 0,
    AL_FILTER_NULL = 0,
    AL_EFFECTSLOT_EFFECT = 0x0001,
    AL_EFFECT_TYPE = 0x8001,
    AL_EFFECT_EAXREVERB = 0x8000,
    AL_AUXILIARY_SEND_FILTER = 0x20006,

    AL_EAXREVERB_DENSITY = 0x0001,
    AL_EAXREVERB_DIFFUSION = 0x0002,
    AL_EAXREVERB_GAIN = 0x0003,
    AL_EAXREVERB_GAINHF = 0x0004,
    AL_EAXREVERB_GAINLF = 0x0005,
    AL_EAXREVERB_DECAY_TIME = 0x0006,
    AL_EAXREVERB_DECAY_HFRATIO = 0x0007,
    AL_EAXREVERB_DECAY_LFRATIO = 0x0008,
    AL_EAXREVERB_REFLECTIONS_GAIN = 0x0009,
    AL_EAXREVERB_REFLECTIONS_DELAY = 0x000A,
    AL_EAXREVERB_REFLECTIONS_PAN = 0x000B,
    AL_EAXREVERB_LATE_REVERB_GAIN = 0x000C,
    AL_EAXREVERB_LATE_REVERB_DELAY = 0x000D,
    AL_EAXREVERB_LATE_REVERB_PAN = 0x000E,
    AL_EAXREVERB_ECHO_TIME = 0x000F,
    AL_EAXREVERB_ECHO_DEPTH = 0x0010,
    AL_EAXREVERB_MODULATION_TIME = 0x0011,
    AL_EAXREVERB_MODULATION_DEPTH = 0x0012,
    AL_EAXREVERB_AIR_ABSORPTION_GAINHF = 0x0013,
    AL_EAXREVERB_HFREFERENCE = 0x0014,
    AL_EAXREVERB_LFREFERENCE = 0x0015,
    AL_EAXREVERB_ROOM_ROLLOFF_FACTOR = 0x0016,
    AL_EAXREVERB_DECAY_HFLIMIT = 0x0017,
};

// ---- entry points ------------------------------------------------------------

// An entry point the output never calls, kept only so that a library lacking
// it is refused like one lacking any other.
typedef void (*al_unused_procedure)(void);

// Every entry point the output requires, in the order they are looked up.
// Each member is one pointer, so the loader fills them by position.
struct ALfunctions
{
    al_unused_procedure alEnable, alDisable, alIsEnabled, alGetBoolean, alGetInteger, alGetFloat, alGetDouble,
        alGetBooleanv, alGetIntegerv, alGetFloatv, alGetDoublev, alGetString;
    ALenum (*alGetError)(void);
    al_unused_procedure alIsExtensionPresent;
    void *(*alGetProcAddress)(const ALchar *name);
    al_unused_procedure alGetEnumValue, alListeneri;
    void (*alListenerf)(ALenum parameter, ALfloat value);
    void (*alListener3f)(ALenum parameter, ALfloat x, ALfloat y, ALfloat z);
    void (*alListenerfv)(ALenum parameter, const ALfloat *values);
    al_unused_procedure alGetListeneri, alGetListenerf, alGetListener3f, alGetListenerfv;
    void (*alGenSources)(ALsizei count, ALuint *sources);
    void (*alDeleteSources)(ALsizei count, const ALuint *sources);
    ALboolean (*alIsSource)(ALuint source);
    void (*alSourcei)(ALuint source, ALenum parameter, ALint value);
    void (*alSourcef)(ALuint source, ALenum parameter, ALfloat value);
    void (*alSource3f)(ALuint source, ALenum parameter, ALfloat x, ALfloat y, ALfloat z);
    al_unused_procedure alSourcefv;
    void (*alGetSourcei)(ALuint source, ALenum parameter, ALint *value);
    void (*alGetSourcef)(ALuint source, ALenum parameter, ALfloat *value);
    al_unused_procedure alGetSourcefv, alSourcePlayv, alSourceStopv;
    void (*alSourcePlay)(ALuint source);
    al_unused_procedure alSourcePause;
    void (*alSourceStop)(ALuint source);
    void (*alGenBuffers)(ALsizei count, ALuint *buffers);
    void (*alDeleteBuffers)(ALsizei count, const ALuint *buffers);
    ALboolean (*alIsBuffer)(ALuint buffer);
    void (*alBufferData)(ALuint buffer, ALenum format, const ALvoid *data, ALsizei size, ALsizei frequency);
    al_unused_procedure alGetBufferi, alGetBufferf;
    void (*alSourceQueueBuffers)(ALuint source, ALsizei count, const ALuint *buffers);
    void (*alSourceUnqueueBuffers)(ALuint source, ALsizei count, ALuint *buffers);
    void (*alDistanceModel)(ALenum model);
    al_unused_procedure alDopplerFactor, alDopplerVelocity, alcGetString, alcGetIntegerv;
    ALCdevice *(*alcOpenDevice)(const ALCchar *name);
    ALCboolean (*alcCloseDevice)(ALCdevice *device);
    ALCcontext *(*alcCreateContext)(ALCdevice *device, const ALCint *attributes);
    ALCboolean (*alcMakeContextCurrent)(ALCcontext *context);
    al_unused_procedure alcProcessContext, alcGetCurrentContext, alcGetContextsDevice, alcSuspendContext;
    void (*alcDestroyContext)(ALCcontext *context);
    al_unused_procedure alcGetError;
    ALCboolean (*alcIsExtensionPresent)(ALCdevice *device, const ALCchar *name);
    al_unused_procedure alcGetProcAddress, alcGetEnumValue;
};

enum { NUMBER_OF_AL_FUNCTIONS = 65 };
static_assert(sizeof(ALfunctions) == NUMBER_OF_AL_FUNCTIONS * sizeof(void *));

// ---- loading -----------------------------------------------------------------

// Opens the library (immediate binding) under the first of the candidate
// names that opens and looks up all 65 entry points.  True when a library is
// held already or was opened with every entry point.  False, logged, when no
// name opens ("not found"), or when one lacks an entry point ("could not load
// functions"; the library is closed again).
bool load_openal(void);

// Clears the table and closes the library; nothing when none is held.
void unload_openal(void);

// True while a library is held (its table is then complete).
bool openal_is_loaded(void);

// The entry points; every member is null while no library is held.
const ALfunctions *openal_functions(void);

// The names load_openal tries, in order ("libopenal.so", "libopenal.so.1",
// "libopenal.so.0").  Tests give others (a missing name, a stub library);
// null restores the three.  The array must outlive the loads.
void set_openal_library_names(const char *const *names, int32_t count);
