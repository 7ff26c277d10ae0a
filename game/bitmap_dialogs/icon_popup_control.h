#pragma once
// Popups of icons.
