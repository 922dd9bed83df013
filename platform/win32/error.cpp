#include <windows.h>

#include "platform/error.h"

uint32_t LastErrorCode() { return GetLastError(); }
void SetLastErrorCode(uint32_t code) { SetLastError(code); }
