#pragma once

namespace palisor {

// Sends SIGINT, SIGTERM and SIGHUP to `handler` once each; the handler is then reset, so a
// second signal ends the process at once.
void CatchStopSignals(void (*handler)(int));

}  // namespace palisor
