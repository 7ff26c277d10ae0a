#pragma once
// The "objects" command of the data tool: writes an object definition
// ('obje'), collection reference ('core'), scenery definition ('scen'),
// geometry ('geom'), model definition ('mode'), model animation ('mani'),
// unit ('unit'), monster ('mons'), artifact ('arti'), projectile ('proj'),
// projectile group ('prgr'), local projectile group ('lpgr') or weather
// ('weat') definition as a local tag file from a small text description.
//
//   vesk_tags objects OUT --group obje|core|scen|geom|mode|mani|unit|mons|arti|proj|prgr|lpgr|weat
//                     --subgroup S --name N SOURCE
//
// Source: one statement per line, '#' starts a comment; numbers may be
// decimal or 0x hex; CODE is four characters or "none".
//   obje: flags N | radius N | height N | vitality N | gravity N | elasticity N
//         | scale N | scale_delta N | terminal_velocity N | modifier INDEX N
//   core: collection CODE | permutation COLOR_TABLE (up to 8)
//         | primary_color R G B | secondary_color R G B   (0-65535; the
//           colours of the collection's primary and secondary hue changes
//           for a player who brings none; unused when left out)
//   scen: flags N | collection CODE | object CODE | sequence N | ticks_per_frame N | color_table N
//   geom: center X Y Z | material SEQUENCE | vertex X Y Z
//         | surface MATERIAL V0 V1 V2 [FLAGS] [texture C0 R0 C1 R1 C2 R2]
//           (corners counter-clockwise seen from the front; normal and plane
//           computed; stored clockwise, as drawn.  Texture positions of the
//           corners: column and row in 16-bit fractions of the texture,
//           0-65535; 0 when left out)
//   mode: geometry CODE | collection CODE | color_table N | flags N
//         | permutation COLLECTION COLOR_TABLE [VIEW...]   (1 to 8)
//   mani: flags N | ticks_per_frame N | forward_sound N | backward_sound N | frame CODE (1 to 32)
//   unit, mons, arti, proj, prgr, lpgr, weat: `FIELD VALUE`, or `FIELD INDEX VALUE`
//         for an array, with the field names of docs/formats.md (tags by
//         their short names: monster, collection, object, sound, ...);
//         mons: `attack INDEX FIELD [INDEX] VALUE`; arti: `override_attack
//         FIELD [INDEX] VALUE`; prgr: `part INDEX FIELD VALUE` (the part count
//         follows the highest part named unless number_of_parts is given).
//         Fields not named keep the group's defaults; run-time fields are
//         written as zero.
// A refused line is reported with its line number.

// Returns 0, 1 with a reason on standard error for a refused source, 2 for
// wrong usage.
int object_tags_command(int argc, char **argv);
