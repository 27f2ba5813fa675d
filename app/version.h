// The program's version, as its version resource gives it and its diagnostics tell it. Included by the
// resource script too, so it holds nothing but macros.
#pragma once

#define CORVIX_VERSION_TEXT "1.00.0012"
#define CORVIX_VERSION_NUMBERS 1, 0, 0, 12
