// The Linux record source: answers the two NTFS volume requests from the
// volume's own bytes, as Windows' NTFS driver would.
#pragma once

#include "platform/posix/handles.h"

// Releases what the source holds (maps, caches); null is allowed.
void record_source_release(RecordSource* source);
