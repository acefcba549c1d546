#pragma once

namespace orivanta {

// Thread body of one download request: identity, prepare, reuse or start,
// transfer, verification, publication, folder and launch. Reports only through
// the shared state, the run diagnostics and exactly one worker-done message.
void RunDownloadWorker();

}  // namespace orivanta
