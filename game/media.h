#pragma once
// Media definitions ('medi'): what a map's water (or other liquid) looks like
// and what it throws up.  The mesh header names one by tag (`media_tag`); the
// mesh step resolves it to `media_type`, an index of this group, when the map
// starts.  The renderer reads the wobble of animated media vertices and the
// reflection settings; movers read the splash projectile groups.
//
// One 64-byte big-endian record per tag (version 1), described in
// docs/formats.md.  A tag of any other size, with unknown flag bits, a tint
// fraction above 256, or non-zero reserved bytes is refused (code 10); a map
// whose media is refused loads without water.

#include <cstddef>

#include "cseries/byte_swapping.h"
#include "cseries/cseries.h"
#include "rgb_color.h"
#include "tag_files/definitions.h"
#include "world.h"

#define MEDIA_DEFINITION_GROUP_TAG FOUR_CHARACTER_CODE('m', 'e', 'd', 'i')
// The group the splash tags name; the projectile module registers its
// projectile groups under this code.  Until it does, every splash is NONE.
#define PROJECTILE_GROUP_DEFINITION_GROUP_TAG FOUR_CHARACTER_CODE('p', 'r', 'g', 'r')

enum
{
    MEDIA_DEFINITION_VERSION = 1,
    MEDIA_DEFINITION_SIZE = 64,
    MAXIMUM_MEDIA_DEFINITIONS_PER_MAP = 4,
    MEDIA_REFLECTION_TINT_FRACTION_ONE = 256,
};

// Splash types: indexes of `projectile_group_tags`.
enum media_splash_type
{
    _media_splash_small = 0,
    _media_splash_medium,
    _media_splash_large,
    _media_splash_bloody,
    _media_splash_floating,
    _media_splash_steam,
    _media_splash_footstep,
    NUMBER_OF_MEDIA_SPLASH_TYPES
};

enum media_flag_bits
{
    _media_has_no_reflections_bit = 0, // views of the map omit reflections
    NUMBER_OF_MEDIA_FLAG_BITS,

    _media_has_no_reflections_flag = FLAG(_media_has_no_reflections_bit),
    _media_defined_flags = (1 << NUMBER_OF_MEDIA_FLAG_BITS) - 1,
};

struct media_definition
{
    uint32_t flags; // media_flag_bits
    file_tag projectile_group_tags[NUMBER_OF_MEDIA_SPLASH_TYPES]; // 'prgr' tags; NONE: no splash
    int16_t wobble_magnitude[3]; // x, y, z world units; 0: that axis does not wobble
    int16_t wobble_phase_multiplier[3]; // x, y, z; taken modulo 65536
    fixed_fraction reflection_transparency; // of reflected models; 65535 = invisible
    uint16_t reflection_tint_fraction; // 0..256 (256 = the colour alone)
    rgb_color reflection_tint_color; // flags word 0
    // How far the water's own surface (its media triangles) is pulled toward
    // the reflection tint colour: 0 leaves the bed's colours, 256 paints the
    // colour alone.  Lit like the terrain around it.
    uint16_t surface_tint_fraction; // 0..256
    uint8_t unused[6]; // 0
};
static_assert(sizeof(media_definition) == MEDIA_DEFINITION_SIZE);
static_assert(offsetof(media_definition, projectile_group_tags) == 4);
static_assert(offsetof(media_definition, wobble_magnitude) == 32);
static_assert(offsetof(media_definition, wobble_phase_multiplier) == 38);
static_assert(offsetof(media_definition, reflection_transparency) == 44);
static_assert(offsetof(media_definition, reflection_tint_fraction) == 46);
static_assert(offsetof(media_definition, reflection_tint_color) == 48);
static_assert(offsetof(media_definition, surface_tint_fraction) == 56);
static_assert(offsetof(media_definition, unused) == 58);

extern const byte_swap_code media_definition_byte_swapping_data[];
extern definition_globals media_definitions;

// Null when `definition` (host order) is valid, else the name of the first
// field found wrong.  The game and the data tool refuse the same records.
const char *media_definition_refusal(const media_definition *definition);

// Registers the group (start-up).  False when the registry refuses it.
bool initialize_media(void);
// Empties the group for the map that begins / frees it when the map ends.
void initialize_media_for_new_map(void);
void dispose_media_from_old_map(void);

// The definition at `media_index`; null for NONE, a hole or an index out of range.
const media_definition *get_media_definition(int32_t media_index);

// The projectile group (a definition index of 'prgr') of splash `splash_type`
// of the media at `media_index`; NONE for no media, a splash type outside
// 0-6, a splash the definition leaves empty, or a projectile group that could
// not be loaded.
int32_t get_media_projectile_group_type(int32_t media_index, int32_t splash_type);
