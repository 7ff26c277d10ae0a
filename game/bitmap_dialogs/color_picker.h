#pragma once
// The colour wheel the picker draws and reads.
