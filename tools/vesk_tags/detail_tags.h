#pragma once
// The "detail-texture" and "detail-map" commands of the data tool.
//
//   vesk_tags detail-texture OUT --subgroup S --name N SOURCE
//     writes a detail texture ('dtex', version 1): an image drawn by code,
//     stored through the image codec.  Source statements:
//       size W H            pixels, 1..4095 each (first statement)
//       color R G B         the base colour, 0..255 each
//       pattern NAME        flat | noise | blades | cracks | pebbles
//       seed N              varies the pattern (0 when left out)
//
//   vesk_tags detail-map OUT --subgroup S --name N --map MAP-SOURCE SOURCE
//     writes a detail map ('dmap', version 2) the size of the map
//     MAP-SOURCE (the subgroup should be the map's landscape tag).  Source:
//       entry I TEXTURE PIXELS R G B [NAME]   entry 1..127: the detail texture's
//                                             code, pixels per cell - 1 (0..255),
//                                             its average colour
//       terrain TYPE I                         each vertex whose triangle has
//                                             terrain TYPE (0..15) takes entry I
//       override X Y TRIANGLE I                cell (X, Y)'s triangle 0 or 1 takes entry I
//
// Every refused line is reported with its line number; exit status 1, wrong
// usage 2.

int detail_texture_tags_command(int argc, char **argv);
int detail_map_tags_command(int argc, char **argv);
