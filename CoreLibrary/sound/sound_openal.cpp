#include "sound/sound_openal.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "cseries/log.h"
#include "mesh.h"
#include "mesh_format.h"
#include "observer.h"

// ---- reverb presets ------------------------------------------------------------------

// The standard reverb of each EAX environment: density, diffusion, gain, gain HF,
// gain LF, decay time, decay HF and LF ratios, reflections gain, delay and pan,
// late reverb gain, delay and pan, echo time and depth, modulation time and
// depth, air absorption gain HF, HF and LF references, room rolloff factor,
// decay HF limit.
#define REVERB_PRESET(density, diffusion, gain_hf, decay_time, decay_hf_ratio, reflections_gain, reflections_delay, \
                      late_gain, late_delay, echo_time, echo_depth, modulation_time, modulation_depth, hf_limit)      \
    {density, diffusion, 0.3162f, gain_hf, 1.0f, decay_time, decay_hf_ratio, 1.0f, reflections_gain,                 \
     reflections_delay, {0.0f, 0.0f, 0.0f}, late_gain, late_delay, {0.0f, 0.0f, 0.0f}, echo_time, echo_depth,        \
     modulation_time, modulation_depth, 0.9943f, 5000.0f, 250.0f, 0.0f, hf_limit}

const openal_reverb_properties reverb_presets[NUMBER_OF_REVERB_ENVIRONMENTS] = {
    REVERB_PRESET(1.0000f, 1.0000f, 0.8913f, 1.49f, 0.83f, 0.0500f, 0.007f, 1.2589f, 0.011f, 0.250f, 0.00f, 0.25f, 0.000f, 1), // generic
    REVERB_PRESET(0.1715f, 1.0000f, 0.0010f, 0.17f, 0.10f, 0.2500f, 0.001f, 1.2691f, 0.002f, 0.250f, 0.00f, 0.25f, 0.000f, 1), // padded cell
    REVERB_PRESET(0.4287f, 1.0000f, 0.5929f, 0.40f, 0.83f, 0.1503f, 0.002f, 1.0629f, 0.003f, 0.250f, 0.00f, 0.25f, 0.000f, 1), // room
    REVERB_PRESET(0.1715f, 1.0000f, 0.2512f, 1.49f, 0.54f, 0.6531f, 0.007f, 3.2734f, 0.011f, 0.250f, 0.00f, 0.25f, 0.000f, 1), // bathroom
    REVERB_PRESET(0.9766f, 1.0000f, 0.0010f, 0.50f, 0.10f, 0.2051f, 0.003f, 0.2805f, 0.004f, 0.250f, 0.00f, 0.25f, 0.000f, 1), // living room
    REVERB_PRESET(1.0000f, 1.0000f, 0.7079f, 2.31f, 0.64f, 0.4411f, 0.012f, 1.1003f, 0.017f, 0.250f, 0.00f, 0.25f, 0.000f, 1), // stone room
    REVERB_PRESET(1.0000f, 1.0000f, 0.5781f, 4.32f, 0.59f, 0.4032f, 0.020f, 0.7170f, 0.030f, 0.250f, 0.00f, 0.25f, 0.000f, 1), // auditorium
    REVERB_PRESET(1.0000f, 1.0000f, 0.5623f, 3.92f, 0.70f, 0.2427f, 0.020f, 0.9977f, 0.029f, 0.250f, 0.00f, 0.25f, 0.000f, 1), // concert hall
    REVERB_PRESET(1.0000f, 1.0000f, 1.0000f, 2.91f, 1.30f, 0.5000f, 0.015f, 0.7063f, 0.022f, 0.250f, 0.00f, 0.25f, 0.000f, 0), // cave
    REVERB_PRESET(1.0000f, 1.0000f, 0.4477f, 7.24f, 0.33f, 0.2612f, 0.020f, 1.0186f, 0.030f, 0.250f, 0.00f, 0.25f, 0.000f, 1), // arena
    REVERB_PRESET(1.0000f, 1.0000f, 0.3162f, 10.05f, 0.23f, 0.5000f, 0.020f, 1.2560f, 0.030f, 0.250f, 0.00f, 0.25f, 0.000f, 1), // hangar
    REVERB_PRESET(0.4287f, 1.0000f, 0.0100f, 0.30f, 0.10f, 0.1215f, 0.002f, 0.1531f, 0.030f, 0.250f, 0.00f, 0.25f, 0.000f, 1), // carpeted hallway
    REVERB_PRESET(0.3645f, 1.0000f, 0.7079f, 1.49f, 0.59f, 0.2458f, 0.007f, 1.6615f, 0.011f, 0.250f, 0.00f, 0.25f, 0.000f, 1), // hallway
    REVERB_PRESET(1.0000f, 1.0000f, 0.7612f, 2.70f, 0.79f, 0.2472f, 0.013f, 1.5758f, 0.020f, 0.250f, 0.00f, 0.25f, 0.000f, 1), // stone corridor
    REVERB_PRESET(1.0000f, 0.3000f, 0.7328f, 1.49f, 0.86f, 0.2500f, 0.007f, 0.9954f, 0.011f, 0.125f, 0.95f, 0.25f, 0.000f, 1), // alley
    REVERB_PRESET(1.0000f, 0.3000f, 0.0224f, 1.49f, 0.54f, 0.0525f, 0.162f, 0.7682f, 0.088f, 0.125f, 1.00f, 0.25f, 0.000f, 1), // forest
    REVERB_PRESET(1.0000f, 0.5000f, 0.3981f, 1.49f, 0.67f, 0.0730f, 0.007f, 0.1427f, 0.011f, 0.250f, 0.00f, 0.25f, 0.000f, 1), // city
    REVERB_PRESET(1.0000f, 0.2700f, 0.0562f, 1.49f, 0.21f, 0.0407f, 0.300f, 0.1919f, 0.100f, 0.250f, 1.00f, 0.25f, 0.000f, 0), // mountains
    REVERB_PRESET(1.0000f, 1.0000f, 0.3162f, 1.49f, 0.83f, 0.0000f, 0.061f, 1.7783f, 0.025f, 0.125f, 0.70f, 0.25f, 0.000f, 1), // quarry
    REVERB_PRESET(1.0000f, 0.2100f, 0.1000f, 1.49f, 0.50f, 0.0585f, 0.179f, 0.1089f, 0.100f, 0.250f, 1.00f, 0.25f, 0.000f, 1), // plain
    REVERB_PRESET(1.0000f, 1.0000f, 1.0000f, 1.65f, 1.50f, 0.2082f, 0.008f, 0.2652f, 0.012f, 0.250f, 0.00f, 0.25f, 0.000f, 0), // parking lot
    REVERB_PRESET(0.3071f, 0.8000f, 0.3162f, 2.81f, 0.14f, 1.6387f, 0.014f, 3.2471f, 0.021f, 0.250f, 0.00f, 0.25f, 0.000f, 1), // sewer pipe
    REVERB_PRESET(0.3645f, 1.0000f, 0.0100f, 1.49f, 0.10f, 0.5963f, 0.007f, 7.0795f, 0.011f, 0.250f, 0.00f, 1.18f, 0.348f, 1), // underwater
    REVERB_PRESET(0.4287f, 0.5000f, 1.0000f, 8.39f, 1.39f, 0.8760f, 0.002f, 3.1081f, 0.030f, 0.250f, 0.00f, 0.25f, 1.000f, 0), // drugged
    REVERB_PRESET(0.3645f, 0.6000f, 0.6310f, 17.23f, 0.56f, 0.1392f, 0.020f, 0.4937f, 0.030f, 0.250f, 1.00f, 0.81f, 0.310f, 0), // dizzy
    REVERB_PRESET(0.0625f, 0.5000f, 0.8404f, 7.56f, 0.91f, 0.4864f, 0.020f, 2.4378f, 0.030f, 0.250f, 0.00f, 4.00f, 1.000f, 0), // psychotic
};

#undef REVERB_PRESET

// ---- the output's record ---------------------------------------------------------------

namespace {

// The effects extension's entry points, looked up through alGetProcAddress.
struct efx_functions
{
    void (*alSource3i)(ALuint source, ALenum parameter, ALint first, ALint second, ALint third);
    void (*alGenEffects)(ALsizei count, ALuint *effects);
    void (*alDeleteEffects)(ALsizei count, const ALuint *effects);
    void (*alEffectf)(ALuint effect, ALenum parameter, ALfloat value);
    void (*alEffectfv)(ALuint effect, ALenum parameter, const ALfloat *values);
    void (*alEffecti)(ALuint effect, ALenum parameter, ALint value);
    void (*alGenAuxiliaryEffectSlots)(ALsizei count, ALuint *slots);
    void (*alDeleteAuxiliaryEffectSlots)(ALsizei count, const ALuint *slots);
    void (*alAuxiliaryEffectSloti)(ALuint slot, ALenum parameter, ALint value);
};
enum { NUMBER_OF_EFX_FUNCTIONS = 9 };
static_assert(sizeof(efx_functions) == NUMBER_OF_EFX_FUNCTIONS * sizeof(void *));

const char *const efx_symbols[NUMBER_OF_EFX_FUNCTIONS] = {
    "alSource3i", "alGenEffects", "alDeleteEffects", "alEffectf", "alEffectfv", "alEffecti",
    "alGenAuxiliaryEffectSlots", "alDeleteAuxiliaryEffectSlots", "alAuxiliaryEffectSloti",
};

const ALuint NO_NAME = 0xFFFFFFFFu;

// A channel's free buffers, used as a stack.
struct buffer_queue
{
    ALuint names[MAXIMUM_SOUNDS_BUFFERED_PER_CHANNEL];
    int32_t count;
};

struct channel_data
{
    int32_t state; // sound_channel_state
    bool reverb_enabled; // the source sends to the reverb slot
    ALuint source;
    ALuint buffers[MAXIMUM_SOUNDS_BUFFERED_PER_CHANNEL];
    buffer_queue free_buffers;
};

struct al_globals
{
    bool initialized;
    uint32_t sound_pref_flags;
    bool efx_initialized; // all nine effect entry points were found
    bool reverb_initialized; // an effect and a slot exist
    ALuint reverb_effect_slot, reverb_effect;
    channel_data channels[TOTAL_NUMBER_OF_SOUND_CHANNELS];
    ALCdevice *device;
    ALCcontext *context;
    efx_functions efx;
};

struct al_globals al_globals;

// Kept apart from al_globals, which initialize clears.
openal_listener_procedure listener_procedure = sound_listener_proc;

const ALfunctions &al(void) { return *openal_functions(); }

// The channel, or null (asserted) for an output that is not up or an index
// outside the eight: every call then does nothing.
channel_data *get_channel(int32_t channel_index)
{
    if (!VASSERT(al_globals.initialized, "al_globals.initialized")) return nullptr;
    if (!VASSERT(channel_index >= 0 && channel_index < TOTAL_NUMBER_OF_SOUND_CHANNELS, "channel index out of range"))
        return nullptr;
    channel_data *channel = &al_globals.channels[channel_index];
    return channel->source == NO_NAME ? nullptr : channel;
}

void map_world_point(const world_point3d &point, ALfloat *out)
{
    out[0] = -(ALfloat)point.x / (ALfloat)WORLD_ONE;
    out[1] = (ALfloat)point.z / (ALfloat)WORLD_ONE;
    out[2] = (ALfloat)point.y / (ALfloat)WORLD_ONE;
}

void map_world_vector(const world_vector3d &vector, ALfloat *out)
{
    out[0] = -(ALfloat)vector.i / (ALfloat)WORLD_ONE;
    out[1] = (ALfloat)vector.k / (ALfloat)WORLD_ONE;
    out[2] = (ALfloat)vector.j / (ALfloat)WORLD_ONE;
}

// Takes back the buffers OpenAL has finished and sets the state from what is free.
void reclaim_channel_buffers(channel_data *channel)
{
    ALint processed = 0;
    al().alGetSourcei(channel->source, AL_BUFFERS_PROCESSED, &processed);
    buffer_queue &free_buffers = channel->free_buffers;
    for (; processed > 0 && free_buffers.count < MAXIMUM_SOUNDS_BUFFERED_PER_CHANNEL; --processed)
    {
        ALuint buffer = 0;
        al().alSourceUnqueueBuffers(channel->source, 1, &buffer);
        free_buffers.names[free_buffers.count++] = buffer;
    }
    channel->state = free_buffers.count == MAXIMUM_SOUNDS_BUFFERED_PER_CHANNEL ? _sound_channel_idle
                     : free_buffers.count == 0                                 ? _sound_channel_busy_and_full
                                                                               : _sound_channel_busy;
}

void set_reverb_send(channel_data *channel, bool send)
{
    al_globals.efx.alSource3i(channel->source, AL_AUXILIARY_SEND_FILTER,
                              send ? (ALint)al_globals.reverb_effect_slot : AL_EFFECTSLOT_NULL, 0, AL_FILTER_NULL);
    channel->reverb_enabled = send;
}

// Detaches and deletes whatever reverb exists.  Sources still sending to the
// slot are cut off first: OpenAL refuses to delete a slot in use, and a
// channel left marked as sending would never be pointed at the next map's slot.
void delete_reverb(void)
{
    const efx_functions &efx = al_globals.efx;
    for (channel_data &channel : al_globals.channels)
        if (channel.reverb_enabled && channel.source != NO_NAME) set_reverb_send(&channel, false);
    if (al_globals.reverb_effect_slot != 0)
        efx.alAuxiliaryEffectSloti(al_globals.reverb_effect_slot, AL_EFFECTSLOT_EFFECT, AL_EFFECT_NULL);
    if (al_globals.reverb_effect != 0) efx.alDeleteEffects(1, &al_globals.reverb_effect);
    if (al_globals.reverb_effect_slot != 0) efx.alDeleteAuxiliaryEffectSlots(1, &al_globals.reverb_effect_slot);
    al_globals.reverb_effect = 0;
    al_globals.reverb_effect_slot = 0;
    al_globals.reverb_initialized = false;
}

// Makes the slot and the effect; false (nothing left behind) on an OpenAL error.
bool create_reverb(void)
{
    const efx_functions &efx = al_globals.efx;
    al().alGetError();
    efx.alGenAuxiliaryEffectSlots(1, &al_globals.reverb_effect_slot);
    if (al().alGetError() != AL_NO_ERROR)
    {
        al_globals.reverb_effect_slot = 0;
        return false;
    }
    efx.alGenEffects(1, &al_globals.reverb_effect);
    if (al().alGetError() != AL_NO_ERROR)
    {
        al_globals.reverb_effect = 0;
        return false;
    }
    efx.alEffecti(al_globals.reverb_effect, AL_EFFECT_TYPE, AL_EFFECT_EAXREVERB);
    if (al().alGetError() != AL_NO_ERROR) return false;
    al_globals.reverb_initialized = true;
    return true;
}

// `value` within [low, high]; a value that is not a number (from a map) gives `low`.
float clamp_real(float value, float low, float high)
{
    if (!(value >= low)) return low;
    return value > high ? high : value;
}

void set_reverb_properties(const openal_reverb_properties &preset, const mesh_header &header)
{
    const efx_functions &efx = al_globals.efx;
    const ALuint effect = al_globals.reverb_effect;
    efx.alEffectf(effect, AL_EAXREVERB_DENSITY, preset.density);
    efx.alEffectf(effect, AL_EAXREVERB_DIFFUSION, preset.diffusion);
    efx.alEffectf(effect, AL_EAXREVERB_GAIN, clamp_real(header.reverb_volume, 0.0f, 0.5f));
    efx.alEffectf(effect, AL_EAXREVERB_GAINHF, preset.gain_hf);
    efx.alEffectf(effect, AL_EAXREVERB_GAINLF, preset.gain_lf);
    efx.alEffectf(effect, AL_EAXREVERB_DECAY_TIME, clamp_real(header.reverb_decay_time, 0.1f, 20.0f));
    efx.alEffectf(effect, AL_EAXREVERB_DECAY_HFRATIO, clamp_real(header.reverb_damping, 0.1f, 2.0f));
    efx.alEffectf(effect, AL_EAXREVERB_DECAY_LFRATIO, preset.decay_lf_ratio);
    efx.alEffectf(effect, AL_EAXREVERB_REFLECTIONS_GAIN, preset.reflections_gain);
    efx.alEffectf(effect, AL_EAXREVERB_REFLECTIONS_DELAY, preset.reflections_delay);
    efx.alEffectfv(effect, AL_EAXREVERB_REFLECTIONS_PAN, preset.reflections_pan);
    efx.alEffectf(effect, AL_EAXREVERB_LATE_REVERB_GAIN, preset.late_reverb_gain);
    efx.alEffectf(effect, AL_EAXREVERB_LATE_REVERB_DELAY, preset.late_reverb_delay);
    efx.alEffectfv(effect, AL_EAXREVERB_LATE_REVERB_PAN, preset.late_reverb_pan);
    efx.alEffectf(effect, AL_EAXREVERB_ECHO_TIME, preset.echo_time);
    efx.alEffectf(effect, AL_EAXREVERB_ECHO_DEPTH, preset.echo_depth);
    efx.alEffectf(effect, AL_EAXREVERB_MODULATION_TIME, preset.modulation_time);
    efx.alEffectf(effect, AL_EAXREVERB_MODULATION_DEPTH, preset.modulation_depth);
    efx.alEffectf(effect, AL_EAXREVERB_AIR_ABSORPTION_GAINHF, preset.air_absorption_gain_hf);
    efx.alEffectf(effect, AL_EAXREVERB_HFREFERENCE, preset.hf_reference);
    efx.alEffectf(effect, AL_EAXREVERB_LFREFERENCE, preset.lf_reference);
    efx.alEffectf(effect, AL_EAXREVERB_ROOM_ROLLOFF_FACTOR, preset.room_rolloff_factor);
    efx.alEffecti(effect, AL_EAXREVERB_DECAY_HFLIMIT, preset.decay_hf_limit);
}

// Looks up the nine effect entry points; true only when all are found.
bool load_efx_functions(void)
{
    char *slots = reinterpret_cast<char *>(&al_globals.efx);
    for (int32_t i = 0; i < NUMBER_OF_EFX_FUNCTIONS; ++i)
    {
        void *entry = al().alGetProcAddress(efx_symbols[i]);
        if (!entry)
        {
            memset(&al_globals.efx, 0, sizeof(al_globals.efx));
            return false;
        }
        memcpy(slots + i * sizeof(void *), &entry, sizeof(void *));
    }
    return true;
}

// ---- the eleven operations ------------------------------------------------------------

// Releases the context and the device, whichever exist.
static void close_openal_context(void)
{
    if (al_globals.context)
    {
        al().alcMakeContextCurrent(nullptr);
        al().alcDestroyContext(al_globals.context);
    }
    if (al_globals.device) al().alcCloseDevice(al_globals.device);
    al_globals.context = nullptr;
    al_globals.device = nullptr;
}

// The opening of the device, on a thread of its own: a sound driver that
// never answers (a back end stuck on a lock a killed process left behind)
// must not hold the game at start-up.  What the thread opened is handed
// over only when it finished in time.
namespace {
struct openal_opening
{
    std::mutex lock;
    std::condition_variable finished;
    bool done = false, current = false;
    ALCdevice *device = nullptr;
    ALCcontext *context = nullptr;
};
// A start-up that did not answer in time: its thread may still be inside the
// library, so the library is never unloaded nor called again in this process.
bool openal_abandoned = false;
} // namespace

static bool open_openal_device_within_limit(void)
{
    const std::shared_ptr<openal_opening> opening = std::make_shared<openal_opening>();
    const ALfunctions functions = al();
    std::thread([opening, functions] {
        // The named device is the one some systems offer; the default device
        // is what opens where it is absent.
        ALCdevice *device = functions.alcOpenDevice("Generic Software");
        if (!device) device = functions.alcOpenDevice(nullptr);
        ALCcontext *context = device ? functions.alcCreateContext(device, nullptr) : nullptr;
        const bool current = context && functions.alcMakeContextCurrent(context);
        std::lock_guard<std::mutex> guard(opening->lock);
        opening->device = device, opening->context = context, opening->current = current;
        opening->done = true;
        opening->finished.notify_all();
    }).detach();
    std::unique_lock<std::mutex> guard(opening->lock);
    if (!opening->finished.wait_for(guard, std::chrono::milliseconds(OPENAL_STARTUP_LIMIT_MS),
                                    [&] { return opening->done; }))
    {
        openal_abandoned = true;
        log_message(nullptr, -1, "OpenAL did not open a device within %d seconds (its driver does not answer): the "
                                 "game goes on silent", (int)(OPENAL_STARTUP_LIMIT_MS / 1000));
        return false;
    }
    al_globals.device = opening->device;
    al_globals.context = opening->context;
    return opening->current;
}

bool initialize_openal_manager(void)
{
    memset(&al_globals, 0, sizeof(al_globals));
    if (openal_abandoned)
    {
        log_message(nullptr, -1, "OpenAL did not answer at start-up: sound stays off until the game starts again");
        return false;
    }
    log_message(nullptr, -1, "Initializing sound with OpenAL...");

    if (load_openal())
    {
        if (open_openal_device_within_limit())
        {
            if (al().alcIsExtensionPresent(al_globals.device, "ALC_EXT_EFX"))
                al_globals.efx_initialized = load_efx_functions();
            // Every volume is the manager's: OpenAL attenuates nothing by distance.
            al().alDistanceModel(AL_NONE);
            for (channel_data &channel : al_globals.channels)
            {
                channel.source = NO_NAME;
                channel.buffers[0] = channel.buffers[1] = NO_NAME;
            }
            al_globals.initialized = true;
            log_message(nullptr, -1, "OpenAL initialized successfully.");
            return true;
        }
        if (openal_abandoned) return false;
        close_openal_context();
    }
    log_message(nullptr, -1, "OpenAL initialization failed.");
    return false;
}

void dispose_openal_manager(void)
{
    if (openal_abandoned) return;
    if (openal_is_loaded()) close_openal_context();
    al_globals.context = nullptr;
    al_globals.device = nullptr;
    al_globals.initialized = false;
    al_globals.reverb_initialized = false;
    unload_openal();
}

void dispose_openal_channels(void)
{
    if (!al_globals.initialized) return;
    if (al_globals.reverb_initialized) delete_reverb();
    for (channel_data &channel : al_globals.channels)
    {
        if (channel.source != NO_NAME)
        {
            al().alSourceStop(channel.source);
            al().alDeleteSources(1, &channel.source);
            al().alDeleteBuffers(MAXIMUM_SOUNDS_BUFFERED_PER_CHANNEL, channel.buffers);
        }
        channel.source = NO_NAME;
        channel.buffers[0] = channel.buffers[1] = NO_NAME;
        channel.free_buffers.count = 0;
        channel.reverb_enabled = false;
        channel.state = _sound_channel_idle;
    }
}

bool initialize_openal_channels(uint32_t sound_preference_flags)
{
    if (!VASSERT(al_globals.initialized, "al_globals.initialized")) return false;
    // One set at a time: a set still made is given up, never made over.
    dispose_openal_channels();
    al_globals.sound_pref_flags = sound_preference_flags;
    al().alGetError(); // an earlier call's error is not this one's
    for (int32_t i = 0; i < TOTAL_NUMBER_OF_SOUND_CHANNELS; ++i)
    {
        channel_data &channel = al_globals.channels[i];
        memset(&channel, 0, sizeof(channel));
        channel.source = NO_NAME;
        channel.buffers[0] = channel.buffers[1] = NO_NAME;
        ALuint source = NO_NAME;
        ALuint buffers[MAXIMUM_SOUNDS_BUFFERED_PER_CHANNEL] = {NO_NAME, NO_NAME};
        al().alGenSources(1, &source);
        const bool source_made = al().alGetError() == AL_NO_ERROR;
        if (source_made) al().alGenBuffers(MAXIMUM_SOUNDS_BUFFERED_PER_CHANNEL, buffers);
        if (!source_made || al().alGetError() != AL_NO_ERROR)
        {
            // Never half a set: what was made goes, and the game runs silent.
            if (source_made) al().alDeleteSources(1, &source);
            log_message(__FILE__, __LINE__, "OpenAL could not make sound channel %d: sound is off", (int)i);
            dispose_openal_channels();
            return false;
        }
        channel.source = source;
        channel.buffers[0] = buffers[0];
        channel.buffers[1] = buffers[1];
        channel.free_buffers.names[0] = channel.buffers[0];
        channel.free_buffers.names[1] = channel.buffers[1];
        channel.free_buffers.count = MAXIMUM_SOUNDS_BUFFERED_PER_CHANNEL;
        channel.state = _sound_channel_idle;
    }
    return true;
}

bool initialize_openal_mesh_parameters(void)
{
    if (!al_globals.initialized) return true;
    const mesh_header *header = get_mesh_header();
    if (!header || header->reverb_environment == NONE ||
        !(al_globals.sound_pref_flags & _sound_preferences_3D_positional_audio_flag))
        return true;

    const int32_t environment = header->reverb_environment;
    if (environment >= 0 && environment < NUMBER_OF_REVERB_ENVIRONMENTS)
    {
        if (!al_globals.reverb_initialized)
        {
            if (!al_globals.efx_initialized) return true;
            if (!create_reverb())
            {
                delete_reverb();
                return true;
            }
        }
        set_reverb_properties(reverb_presets[environment], *header);
        al_globals.efx.alAuxiliaryEffectSloti(al_globals.reverb_effect_slot, AL_EFFECTSLOT_EFFECT,
                                              (ALint)al_globals.reverb_effect);
        return true;
    }
    // Beyond the presets (or an environment no loader should pass): no reverb.
    if (al_globals.efx_initialized) delete_reverb();
    return true;
}

void openal_manager_update(bool update_listener)
{
    if (!update_listener || !al_globals.initialized) return;

    if (const world_location3d *listener = listener_procedure ? listener_procedure() : nullptr)
    {
        ALfloat position[3], velocity[3];
        map_world_point(listener->position, position);
        map_world_vector(listener->velocity, velocity);
        const float yaw = (float)listener->yaw * (2.0f * (float)M_PI / 65536.0f);
        // Facing along the yaw in the world's x-y plane, with the world's z up.
        const ALfloat orientation[6] = {-cosf(yaw), 0.0f, sinf(yaw), 0.0f, 1.0f, 0.0f};
        al().alListenerf(AL_GAIN, 1.0f);
        al().alListener3f(AL_POSITION, position[0], position[1], position[2]);
        al().alListener3f(AL_VELOCITY, velocity[0], velocity[1], velocity[2]);
        al().alListenerfv(AL_ORIENTATION, orientation);
    }
    for (channel_data &channel : al_globals.channels)
        if (channel.source != NO_NAME) reclaim_channel_buffers(&channel);
}

int32_t openal_channel_state(int32_t channel_index)
{
    const channel_data *channel = get_channel(channel_index);
    return channel ? channel->state : _sound_channel_idle;
}

void openal_channel_free(int32_t channel_index)
{
    channel_data *channel = get_channel(channel_index);
    if (!channel) return;
    al().alSourceStop(channel->source);
    reclaim_channel_buffers(channel);
    VASSERT(channel->state == _sound_channel_idle, "channel->state == _sound_channel_idle");
}

void openal_channel_update(int32_t channel_index, const sound_variables *variables, bool new_sound)
{
    channel_data *channel = get_channel(channel_index);
    if (!channel || !variables) return;

    // Only positional sounds reverberate.
    if (al_globals.reverb_initialized && variables->bHasSource != channel->reverb_enabled)
        set_reverb_send(channel, variables->bHasSource);

    ALfloat position[3] = {0.0f, 0.0f, 0.0f}, velocity[3] = {0.0f, 0.0f, 0.0f};
    if (variables->bHasSource)
    {
        map_world_point(variables->location.position, position);
        map_world_vector(variables->location.velocity, velocity);
    }
    al().alSourcei(channel->source, AL_SOURCE_RELATIVE, variables->bHasSource ? AL_FALSE : AL_TRUE);
    al().alSourcef(channel->source, AL_PITCH, openal_pitch_for_pitch(variables->pitch));
    al().alSourcef(channel->source, AL_GAIN, openal_gain_for_volume(variables->volume));
    al().alSource3f(channel->source, AL_POSITION, position[0], position[1], position[2]);
    al().alSource3f(channel->source, AL_VELOCITY, velocity[0], velocity[1], velocity[2]);
}

void openal_channel_buffer(int32_t channel_index, const platform_sound_samples *sound, tag sound_tag)
{
    channel_data *channel = get_channel(channel_index);
    if (!channel || !sound || sound->number_of_samples < 1) return;
    if (!VASSERT(sound->samples, "sound has no samples")) return;

    // Buffers OpenAL has finished since the last look leave the queue first:
    // a stopped source restarts from the head of its queue, and would play
    // a finished buffer again before this one.
    reclaim_channel_buffers(channel);
    buffer_queue &free_buffers = channel->free_buffers;
    if (free_buffers.count <= 0)
    {
        ASSERT(0);
        return;
    }

    VASSERT(sound->channels == 1 || sound->channels == 2, "encountered sound which is not mono or stereo!");
    VASSERT(sound->logical_bits_per_sample == 8 || sound->logical_bits_per_sample == 16,
            "encountered sound which is not 8 or 16 bit!");
    const bool mono = sound->channels == 1;
    const bool eight_bit = sound->logical_bits_per_sample == 8;
    const ALenum format = mono ? (eight_bit ? AL_FORMAT_MONO8 : AL_FORMAT_MONO16)
                               : (eight_bit ? AL_FORMAT_STEREO8 : AL_FORMAT_STEREO16);
    // The bytes of whole frames: OpenAL refuses a size that is not a multiple
    // of the frame.
    const int64_t frame_bytes = (eight_bit ? 1 : 2) * (mono ? 1 : 2);
    const int64_t samples_per_frame = mono ? 1 : 2;
    const int64_t size = (int64_t)sound->number_of_samples / samples_per_frame * frame_bytes;
    if (size <= 0) return;

    const ALuint buffer = free_buffers.names[--free_buffers.count];
    al().alBufferData(buffer, format, sound->samples, (ALsizei)size, (ALsizei)(sound->sample_rate >> 16));
    al().alSourceQueueBuffers(channel->source, 1, &buffer);
    // Starting a source that plays already would restart it from its first
    // buffer: a sound queued behind another must follow it, not cut it.
    ALint source_state = 0;
    al().alGetSourcei(channel->source, AL_SOURCE_STATE, &source_state);
    if (source_state != AL_PLAYING) al().alSourcePlay(channel->source);
    reclaim_channel_buffers(channel);
}

void openal_channel_3D(int32_t channel_index, bool positional) {}

} // namespace

const platform_sound_impl openal_impl = {
    initialize_openal_manager, initialize_openal_channels, initialize_openal_mesh_parameters,
    dispose_openal_channels,   dispose_openal_manager,     openal_manager_update,
    openal_channel_state,      openal_channel_free,        openal_channel_update,
    openal_channel_buffer,     openal_channel_3D,
};

float openal_gain_for_volume(int32_t volume)
{
    const double v = volume <= 0 ? 0.0 : volume >= 256 ? 1.0 : (double)volume / 256.0;
    return (float)pow(v, 1.5 - pow(v, 0.125));
}

float openal_pitch_for_pitch(int32_t pitch)
{
    if (pitch <= 1) return 1.0f / 256.0f;
    if (pitch >= 256) return 1.0f;
    return (float)pitch / 256.0f;
}

openal_listener_procedure set_openal_listener_procedure(openal_listener_procedure procedure)
{
    const openal_listener_procedure previous = listener_procedure;
    listener_procedure = procedure ? procedure : sound_listener_proc;
    return previous;
}

bool get_openal_reverb(ALuint *effect_slot, ALuint *effect)
{
    if (effect_slot) *effect_slot = al_globals.reverb_effect_slot;
    if (effect) *effect = al_globals.reverb_effect;
    return al_globals.reverb_initialized;
}
