// What this process holds: open kernel handles and private memory, for leak checks and the soak.
#pragma once
#include <cstddef>

// The number of handles this process has open; 0 when the system cannot tell.
size_t OpenHandleCount();
// The bytes of memory that belong to this process alone (committed, not shared); 0 when unknown.
size_t PrivateBytes();
