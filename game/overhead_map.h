#pragma once
// The overhead map: the battlefield's picture, blips, flags, sketches and the camera.
