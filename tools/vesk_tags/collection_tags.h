#pragma once
// The "collection" command of the data tool: writes a collection ('.256') as a
// local tag file from a small text description.  Bitmaps are placeholders of
// one colour (flat, 8-bit, no row table): enough for the sequence facts, key
// points and world bounds the game computes from them.
//
//   vesk_tags collection OUT [--group .256] --subgroup S --name N SOURCE
//
// Source: one statement per line, '#' starts a comment; numbers may be
// decimal or 0x hex.
//   flags N                              the collection's user data flags
//                                        (before the first sequence)
//   color INDEX RED GREEN BLUE           a colour table entry (0-255; 0-65535)
//   bitmap NAME WIDTH HEIGHT [COLOR]     (1-4096 pixels, every pixel COLOR)
//   instance BITMAP RX RY KX KY [FLAGS]  registration and key point in pixels;
//                                        BITMAP an index of the bitmaps above
//   sequence NAME                        starts a sequence; until the next one:
//     views N (1-64) | flags N | ticks_per_frame N | key_frame N|none
//     | loop_frame N|none | transfer_mode N | transfer_period N
//     | pixels_to_world N (16.16) | radius N | height0 N | height1 N (pixels)
//     | frame INSTANCE...   one instance per view; with the mirroring flag
//       (1) only the views drawn unmirrored may be given, and the tool adds a
//       copy of each source view's instance for the mirrored ones.
// Instances are numbered in the order given; the key frame must be a frame.
// A refused line is reported with its line number.

// Returns 0, 1 with a reason on standard error for a refused source, 2 for
// wrong usage.
int collection_tags_command(int argc, char **argv);
