// The requester's drive map, as the relay learns it for its worker.
#pragma once

#include <string>

// The prefix folder of the requester at the other end of the relay socket:
// its WINEPREFIX, else its HOME's .wine, made absolute against its working
// directory (empty when it has neither), read through /proc. Returns 0 with
// errno set when the requester cannot be read.
int posix_requester_prefix(int socket, std::string* prefix);
