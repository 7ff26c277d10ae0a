#pragma once
// Sliders.
