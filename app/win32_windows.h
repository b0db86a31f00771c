// <windows.h> for files that also include the portable core's headers.
#pragma once

#include <windows.h>

// winuser.h's RegisterHotKey modifier macros share names with the core's
// ModifierMask enumerators; the core's names win here.
#undef MOD_ALT
#undef MOD_SHIFT
