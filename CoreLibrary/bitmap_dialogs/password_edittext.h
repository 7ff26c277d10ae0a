#pragma once
// The password control: an edit-text control that shows a mask glyph.
