#pragma once
// Bitmap items.
