// The relay's worker, seen from inside: what it does at start.
#pragma once

// In the relay's worker, whose standard handles are all the relay socket:
// names the process after its program file, and starts a watcher that ends
// the process (status EPIPE) within moments of the requester hanging up,
// whether the search is writing, scanning without a match, or blocked on a
// drive target. Does nothing in any other process.
void posix_start_relay_worker();
