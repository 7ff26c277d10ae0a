#pragma once
// A hash of the synchronized game: what every machine of a game (and every
// replay of its film) must agree on tick by tick.  It covers game time, the
// synchronized seed, the synchronized fields of the game record, and every
// record that a later subsystem registers (units, projectiles, objects...).
// Local state (local time, pause, speed, camera, selection, interface) is
// never part of it.
//
// The sync snapshots carry it, so a machine that drifted is caught even when
// its seed still agrees.

#include <cstddef>

#include "cseries/cseries.h"

enum { MAXIMUM_STATE_HASH_PROCEDURES = 32 };

// Adds a subsystem's synchronized records to the hash through state_hash_add.
// It must feed the same bytes on every machine: fields in a fixed order, in a
// fixed byte order (state_hash_add_int32 writes big-endian), no pointers, no
// padding bytes, records in index order.
typedef void (*state_hash_procedure)(uint32_t *hash);

// Registered procedures run in registration order; registering one again
// changes nothing.  False (logged) when the table is full or the procedure is null.
bool register_state_hash_procedure(state_hash_procedure procedure);
void reset_state_hash_procedures(void);

void state_hash_add(uint32_t *hash, const void *data, size_t size);
void state_hash_add_int32(uint32_t *hash, int32_t value);
// The same bytes as state_hash_add_int32 on each of `count` values in turn,
// fed to the CRC in large pieces: the way to hash a record's fields.
void state_hash_add_int32s(uint32_t *hash, const int32_t *values, size_t count);

// The hash of the synchronized game as it stands.
uint32_t compute_state_hash(void);
