#pragma once
// The "landscape" command of the data tool: writes the colour-map collection
// ('.256') of a map from the map's own source: for each submesh of 32 x 32
// cells a 256 x 256 colour map (bitmap 2s: the terrain type of the triangle
// under each texel in a 256-colour terrain palette, with some noise) and a
// shadow map (bitmap 2s + 1: 0 dark to 255 full light, lit from a fixed sun in
// the south-east over the map's relief), and the palette's 64 KB blend table.
// With --png it also writes what the terrain looks like (colour shaded by
// shadow) as a PNG picture of the whole map.  With --overhead it also writes
// the map's overhead-map collection: one flat 8-bit picture of the colour map
// seen from above (at most 256 pixels across, x mirrored as the overhead map
// reads it) in the landscape's palette, as sequence 0, view 0, frame 0.
//
//   vesk_tags landscape OUT --subgroup S --name N [--png PICTURE]
//                       [--overhead OUT2 --overhead-subgroup S2] MAP-SOURCE

int landscape_tags_command(int argc, char **argv);
