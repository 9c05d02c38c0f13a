// The volumes a target holds, on the in-memory platform: as on Windows, a
// device path opens one volume, given once under its own device path.
#include "platform/windows/disk_parts.cpp"
