#pragma once
// The "collection" command of the data tool: writes a collection ('.256') as a
// local tag file from a small text description.  Pictures are drawn by the
// description's statements (rectangles, ellipses, gradients, outlines) in any
// stored form the game reads.  See docs/formats.md for the stored layout.
//
//   vesk_tags collection OUT [--group .256] --subgroup S --name N SOURCE
//
// Source: one statement per line, '#' starts a comment; numbers may be
// decimal or 0x hex.  VALUE is a pixel: a colour index 0-255, with the
// transparency nibble in bits 8-11 for the nibble forms, a 565 colour for
// flat16, or "none" (transparent: left out of run-length rows, 0 elsewhere).
//   flags N                              the collection's user data flags
//                                        (before the first sequence)
//   color INDEX RED GREEN BLUE           a colour table entry (0-255; 0-65535)
//   bitmap NAME WIDTH HEIGHT [VALUE [FORM]]  (1-4096 pixels, every pixel VALUE,
//                                        0 when left out); FORM: flat (default),
//                                        rle, rle_nibble, nibble, flat16,
//                                        flat_rows (flat, with a row table)
//   rectangle LEFT TOP RIGHT BOTTOM VALUE | ellipse CX CY RX RY VALUE
//   | gradient LEFT TOP RIGHT BOTTOM FIRST LAST | outline VALUE
//                                        drawn into the last bitmap
//   hue_change NAME HUE0 HUE1 MINIMUM_SATURATION MEDIAN_HUE FLAGS
//                                        a player-colour range (FLAGS 1 primary,
//                                        2 secondary); its colours are marked
//                                        from the colour table
//   shadow_map BITMAP RX RY [FLAGS]      a shadow map (registration in pixels)
//   blend_table                          the 64 KB blend table of the colours
//   instance BITMAP RX RY KX KY [FLAGS]  registration and key point in pixels;
//                                        BITMAP an index of the bitmaps above
//   sequence NAME                        starts a sequence; until the next one:
//     views N (1-64) | flags N | ticks_per_frame N | key_frame N|none
//     | loop_frame N|none | transfer_mode N | transfer_period N
//     | pixels_to_world N (16.16) | radius N | height0 N | height1 N (pixels)
//     | frame INSTANCE...   one instance per view; with the mirroring flag
//       (1) only the views drawn unmirrored may be given, and the tool adds a
//       copy of each source view's instance for the mirrored ones
//     | shadow N            the shadow map of the last frame
// Instances are numbered in the order given; the key frame must be a frame.
// The collection is checked by the game's own loader before it is written.
// A refused line is reported with its line number.

// Returns 0, 1 with a reason on standard error for a refused source, 2 for
// wrong usage.
int collection_tags_command(int argc, char **argv);
