#pragma once
// The "media", "preload" and "observer" commands of the data tool: write a
// media definition ('medi'), a map's preload list ('prel') or a map's camera
// physics limits ('obpc') as a local tag file
// from a small text description.  The tool refuses what the game refuses: the
// record is checked by the game's own validator before it is written.
//
//   vesk_tags media OUT [--group medi] --subgroup S --name N SOURCE
//   vesk_tags preload OUT [--group prel] --subgroup S --name N SOURCE
//   vesk_tags observer OUT [--group obpc] --subgroup S --name N SOURCE
//   vesk_tags interface OUT [--group inte] --subgroup S --name N SOURCE
//
// Source: one statement per line, '#' starts a comment; CODE is four
// characters or "none".
//   media:   flags N | splash TYPE CODE   (TYPE 0-6 or small, medium, large,
//            bloody, floating, steam, footstep; a 'prgr' tag)
//            | wobble_magnitude X Y Z | wobble_phase_multiplier X Y Z
//            | reflection_transparency N (0-65535)
//            | reflection_tint FRACTION RED GREEN BLUE (fraction 0-256)
//            | surface_tint FRACTION (0-256: the water surface's pull toward
//            the tint colour)
//   preload: tag GROUP SUBGROUP (up to 2048, read in this order)
//            | bitmap COLLECTION INDEX (up to 2048; index 0-16383)
//   observer: NAME MAX ACC DEC  or  NAME MAX ACC DEC MAX ACC DEC (negative
//            direction, then positive; 32-bit whole units per game tick);
//            NAME parallel, orthogonal, yaw, orbit, vertical, pitch or zoom;
//            a constant not named keeps the game's default
//   interface: collection CODE (the '.256' of its sprites, colours and
//            swatches) | font INDEX CODE|none (INDEX 0-7; fonts 0-5 are
//            used, 0-2 are required)
// A refused line is reported with its line number.

// Return 0, 1 with a reason on standard error for a refused source, 2 for
// wrong usage.
int media_tags_command(int argc, char **argv);
int preload_tags_command(int argc, char **argv);
int observer_tags_command(int argc, char **argv);
int interface_tags_command(int argc, char **argv);
