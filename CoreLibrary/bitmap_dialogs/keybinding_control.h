#pragma once
// Capturing a key for a binding.
