#pragma once
// The "font" command of the data tool: writes a font ('font') tag as a local
// tag file, either rendered from an outline font with FreeType (8-bit inverse
// coverage of the bytes 32..126 and 160..255 read as Latin-1, the check mark
// for 0xC3 and a bullet for the mask byte 165), or the fixed-advance test
// font drawn by code (tools/shared/font_builder.h).  With --underline a line
// is drawn under every glyph that advances.  The style options name the
// tags of the italic, bold, condensed and underlined variants.
//
//   vesk_tags font OUT --subgroup S --name N (--test | --face FILE --size PIXELS [--underline])
//                  [--italic T] [--bold T] [--condensed T] [--underlined T]

int font_tags_command(int argc, char **argv);
