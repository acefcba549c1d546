#pragma once

namespace orivanta {

// Ends the process at once while another thread may still be anywhere: inside a
// network call, holding a lock, half way through a write. No DLL is told and no
// static object destroyed, so nothing waits for a lock such a thread held or
// frees state it still uses; what was written to files stays written.
[[noreturn]] void EndProcessAtOnce(int exitCode);

}  // namespace orivanta
