// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

// Confines a worker process once its libraries are loaded and its codecs are
// set up: from then on it can compute, allocate, start threads and use the
// descriptors it has or is handed, and nothing else. Opening any path,
// sockets, exec, ptrace, signalling other processes and every other call not
// listed fail with EPERM, for the process and every thread it starts later.
namespace Sandbox {

// Caps the data the process may allocate (RLIMIT_DATA); 0 leaves it alone.
// Must come before enter(), which forbids changing limits.
bool limitMemory(std::int64_t bytes);

// no_new_privs, then the seccomp filter. False when either failed; the
// process must then not go on to read untrusted files.
bool enter();

} // namespace Sandbox
