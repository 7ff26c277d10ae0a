#pragma once
// The double arrow control.
