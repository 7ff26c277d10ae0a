#pragma once
#include <cstdint>
// The "mesh" command of the data tool: writes a map ('mesh' tag, version 11)
// as a local tag file from a small text description.
//
//   vesk_tags mesh OUT --subgroup S --name N SOURCE
//
// Source: one statement per line, '#' starts a comment.
//   size W H                       cells, both even, 2..1024 (first statement)
//   name TEXT                      the name map lists show
//   teams N | flags N | extra_flags N | level N | priority N
//   zones LEFT TOP RIGHT BOTTOM    cells kept clear of the camera per side
//   lighting DARK R G B TRANSITION LIGHT R G B
//                                  the terrain's shading: how far its darkest level
//                                  moves towards the dark colour and its lightest
//                                  towards the light one (fractions, 256 = all the
//                                  way), colours as 16-bit channels, and the level
//                                  where darkening turns to lightening (65536 = the
//                                  lightest); without it shadows do not darken
//   tag FIELD CODE                 FIELD: landscape overhead interface observer media
//                                  description pregame postgame hints ambient preload
//                                  blood narration, and the story's: next (after a
//                                  win), next_after_failure, story (the prologue's
//                                  text), story_after_success, story_after_failure,
//                                  captions (the inset pictures'), win_ambient,
//                                  loss_ambient; CODE four characters or "none"
//   cutscene opening|win|loss NAME the level's movie (a file name under "cutscenes",
//                                  without extension; at most 63 characters)
//   reverb ENV VOLUME DECAY DAMPING the map's reverb: ENV 0-25 (or "none", the
//                                  default), VOLUME 0-1, DECAY 0.1-20 seconds,
//                                  DAMPING 0.1-2 (decimal numbers)
//   heights                        then H lines of W vertex heights (integers)
//   terrain                        then H lines of W characters: the terrain type
//                                  0-9, a-f of both triangles of the cell
//   media LEVEL                    then H lines of W characters: '.' dry, '~' both
//                                  triangles under media at LEVEL, '/' triangle 0 only,
//                                  '\' triangle 1 only
//   palette TYPE TEAM CODE [FLAGS] a palette entry (TEAM -1 for none; FLAGS the
//                                  palette flag bits, 0 when left out)
//   marker TYPE PALETTE IDENTIFIER X Y Z YAW [FLAGS [DIFFICULTY]]
//                                  a marker (world units, angle units; FLAGS the
//                                  marker flag bits, e.g. 4 detonates immediately;
//                                  DIFFICULTY 0..4 the lowest level that places it)
//   action IDENTIFIER TAG FLAGS MODE LOWER DELTA
//                                  a map action (identifier 1..32767, procedure tag or
//                                  "none", flag bits 0..31, deactivation mode 0..4,
//                                  trigger delay lower bound and delta in ticks)
//   parameter NAME TYPE [VALUE...] an entry of the last action: TYPE one of flag character
//                                  unit action angle integer distance field fixed
//                                  projectile_group string_list sound projectile point2d
//                                  rectangle object model sound_source point3d
//                                  local_projectile_group animation (or 0..20); values as
//                                  docs/formats.md "Writing map actions" gives them
// Every refused line is reported with its line number.

// Runs the command; `argv` is the tool's whole command line (argv[1] is
// "mesh").  Returns 0, 1 with a reason on standard error for a refused
// source, 2 for wrong usage.
int mesh_tags_command(int argc, char **argv);

// Reads the map source at `path` into mesh tag data (malloc'd, `*size`
// bytes) and loads it as the current mesh; null after the refusal line when
// the source is refused.
uint8_t *mesh_source_to_tag_data(const char *path, int32_t *size);
