#pragma once
// Story text scrolling with faded edges.
