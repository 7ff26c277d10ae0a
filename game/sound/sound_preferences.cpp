// The "sound" preferences record.  See sound_preferences.h.

#include "sound_preferences.h"

#include <cstring>

#include "cseries/log.h"
#include "tag_files/preferences.h"

const byte_swap_code sound_preferences_byte_swapping_data[] = {
    _begin_bs_array, 1, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _end_bs_array};

static struct sound_preferences_module
{
    sound_preferences record; // in force, host order
    sound_preferences stored; // what the store holds, as far as this process knows
    bool loaded; // `record` came from a read of the store
    bool store_unused;
    preferences_globals store;
} sound_preferences_globals = {
    {_sound_preferences_ambient_flag, MAXIMUM_SOUND_CHANNEL_COUNT, SOUND_PREFERENCES_MAXIMUM_VOLUME,
     SOUND_PREFERENCES_NORMAL_PITCH, _sound_provider_openal, 0},
    {},
    false,
    false,
    {SOUND_PREFERENCES_NAME, (int32_t)sizeof(sound_preferences), SOUND_PREFERENCES_VERSION_NUMBER,
     default_sound_preferences, verify_sound_preferences, sound_preferences_byte_swapping_data,
     FOUR_CHARACTER_CODE('s', 'o', 'u', 'n'), nullptr},
};

void default_sound_preferences(void *data)
{
    sound_preferences *record = (sound_preferences *)data;
    memset(record, 0, sizeof(*record));
    record->flags = _sound_preferences_ambient_flag;
    record->sound_channel_count = MAXIMUM_SOUND_CHANNEL_COUNT;
    record->master_volume = SOUND_PREFERENCES_MAXIMUM_VOLUME;
    record->master_pitch = SOUND_PREFERENCES_NORMAL_PITCH;
    record->provider_id = _sound_provider_openal;
}

bool verify_sound_preferences(void *data)
{
    sound_preferences *record = (sound_preferences *)data;
    if (record->sound_channel_count < MINIMUM_SOUND_CHANNEL_COUNT) record->sound_channel_count = MINIMUM_SOUND_CHANNEL_COUNT;
    if (record->sound_channel_count > MAXIMUM_SOUND_CHANNEL_COUNT) record->sound_channel_count = MAXIMUM_SOUND_CHANNEL_COUNT;
    if (record->master_volume > SOUND_PREFERENCES_MAXIMUM_VOLUME) record->master_volume = SOUND_PREFERENCES_MAXIMUM_VOLUME;
    if (record->master_volume < 0) record->master_volume = 0;
    record->master_pitch = SOUND_PREFERENCES_NORMAL_PITCH;
    if (record->provider_id != _sound_provider_none && record->provider_id != _sound_provider_openal)
        record->provider_id = _sound_provider_openal;
    return true;
}

sound_preferences *get_sound_preferences(void) { return &sound_preferences_globals.record; }

void use_sound_preferences_store(bool use)
{
    if (!use) free_sound_preferences();
    sound_preferences_globals.store_unused = !use;
}

void read_sound_preferences(bool again)
{
    sound_preferences_module &m = sound_preferences_globals;
    if (m.store_unused || (m.loaded && !again)) return;
    const void *data = read_preferences_convert(&m.store, nullptr);
    if (data)
        memcpy(&m.record, data, sizeof(m.record));
    else
    {
        log_message(nullptr, -1, "sound preferences: the store cannot be read, using the defaults");
        default_sound_preferences(&m.record);
    }
    verify_sound_preferences(&m.record);
    m.stored = m.record;
    m.loaded = true;
}

bool write_sound_preferences(void)
{
    sound_preferences_module &m = sound_preferences_globals;
    if (m.store_unused || !m.loaded || !m.store.data) return false;
    if (memcmp(&m.stored, &m.record, sizeof(m.record)) == 0) return true;
    memcpy(m.store.data, &m.record, sizeof(m.record));
    if (write_preferences(&m.store))
    {
        m.stored = m.record;
        return true;
    }
    log_message(nullptr, -1, "sound preferences: the record could not be stored");
    return false;
}

void free_sound_preferences(void)
{
    sound_preferences_module &m = sound_preferences_globals;
    free_preferences(&m.store);
    m.loaded = false;
}
