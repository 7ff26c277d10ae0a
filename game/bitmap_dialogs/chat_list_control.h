#pragma once
// Chat lines that wrap and keep their styles.
