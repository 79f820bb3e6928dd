// Hits carried over to the solar-system barycentre: the Earth's orbital and
// rotational motion along the line of sight taken out of each hit's
// frequency and drift, so that hits of units recorded on different days
// compare.
#pragma once

#include "search/search.h"
#include "workunit/reader.h"

namespace okrelt {

// Sets every hit's barycentric frequency and drift from the unit's start
// time, the telescope's place and the direction at the start. 0, or 1 with
// no hit changed and result->uncorrected_because naming what the header
// lacks (the time, the telescope's place, the direction or the sky frequency).
int correct_hits_to_barycentre(const WorkUnitInfo& info, SearchResult* result);

}  // namespace okrelt
