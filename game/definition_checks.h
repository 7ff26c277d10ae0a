#pragma once
// Small repairs shared by the unit and projectile definition checks: each
// brings one field of a loaded record back into its table and logs what it
// changed, naming the definition (`name`) and the field (`label`).  A field
// that no repair can make safe refuses the definition instead.

#include <cstdint>

// Clears bits outside `mask`.
void check_flags_32(uint32_t *flags, uint32_t mask, const char *name, const char *label);
void check_flags_16(uint16_t *flags, uint16_t mask, const char *name, const char *label);
// Brings a count into 0..maximum.
void check_count(int16_t *count, int16_t maximum, const char *name, const char *label);
// A negative value becomes 0.
void check_not_negative(int16_t *value, const char *name, const char *label);
// A sequence index below NONE becomes NONE (whether the collection holds it is
// the loader's question, once the collection is known).
void check_sequence_index(int16_t *sequence, const char *name, const char *label);

// Refuses the definition over `field`: error code 10 (pending), "<name>
// definition refused: <field> <what>".  Always false, for the caller to return.
bool refuse_definition_field(const char *name, const char *field, const char *what);
