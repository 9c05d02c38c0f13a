// The library reads a cut-short or missing E01 segment as zeros without a
// word; so before it is trusted, each segment's chain of sections is
// followed with bounds of Morla's own: every section lies inside its file,
// each segment but the last ends with "next", the last with "done".
#pragma once

#include <string>

// For a first segment named '....E01' (any case); true when the chain is
// whole, or the file is no EWF segment. *cause is set when it is not.
bool ewf_segments_whole(const std::string& first, const char16_t** cause);
