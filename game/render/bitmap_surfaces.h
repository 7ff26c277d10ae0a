#pragma once
// Surfaces made of a collection's bitmaps: quads, rectangles and oriented quads.
