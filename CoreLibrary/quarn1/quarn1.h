#pragma once
// A lossless codec for 24-bit images.
