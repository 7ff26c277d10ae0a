#pragma once
// Radio buttons.
