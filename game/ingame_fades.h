#pragma once
// In-game fades of the whole game view.
