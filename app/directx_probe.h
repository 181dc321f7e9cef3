// The installed DirectX version, as one nine-digit number (4.09.00.0904 is 409000904).
#pragma once

#include "platform/win32.h"

DWORD ProbeDirectXVersion();
