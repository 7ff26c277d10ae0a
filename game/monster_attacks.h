#pragma once
// Attack choice and execution and the line-of-fire services.
