#pragma once
// The "dialog" command of the data tool: writes a dialog ('bina') as a local
// tag file from a short text description, and with it the dialog string list
// ('ditl') of the item texts when the description asks for one.
//
//   vesk_tags dialog OUT [--ditl DITL-OUT] --subgroup S --name N SOURCE
//
// Source: one statement per line.  A '#' that begins a word starts a comment
// (a code such as "in#1" stays whole); numbers may be decimal or 0x hex.
//   bounds TOP LEFT BOTTOM RIGHT   the dialog's rectangle on the screen; once
//   texts inline|list              where the item texts go, at most once
//                                  (inline when left out): "inline" after
//                                  the tag's records only; "list" also as
//                                  the dialog string list written to
//                                  DITL-OUT, row n - 1 holding item n's text
//                                  (empty rows where no item has that number)
//   item CODE ID TOP LEFT BOTTOM RIGHT FLAGS ["TEXT"]
//                                  one item, in the order of the tag's
//                                  records: the four-character code of its
//                                  type, its identifier (-32768-32767, unique
//                                  in the dialog; 1 or more with texts in a
//                                  list), its rectangle in dialog
//                                  coordinates, the flags its type reads when
//                                  it is made (0-65535), and its text in
//                                  double quotes (empty when left out)
// Rectangles are given in their stored order, top, left, bottom, right, with
// the right and bottom edges outside; an upside-down one is refused.  Texts
// take the escapes \\ \" \n \r \t and \xHH (not \x00).  The dialog's
// background is not part of the tag: the code that opens a dialog chooses it.
//
// The tag always carries the texts inline as well, so a dialog whose string
// list is missing still reads its own; the list, when present, wins.  A
// refused line is reported with its line number, and nothing is written.

// Returns 0, 1 with a one-line reason on standard error for a refused source
// or a failed write, 2 for wrong usage.
int dialog_tags_command(int argc, char **argv);
