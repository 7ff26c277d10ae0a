#pragma once
// Detail textures ('dtex').
