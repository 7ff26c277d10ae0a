#pragma once
// The control protocol: verbs, their parameter records, the control registry.
