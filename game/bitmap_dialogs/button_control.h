#pragma once
// Buttons and checkboxes.
