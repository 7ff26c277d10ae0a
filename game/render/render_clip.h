#pragma once
// The screen test of surfaces.
