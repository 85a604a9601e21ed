#pragma once
// The script of a parent's first launch, shared by the walks and by the start-up benchmark (which
// cannot take the walks' own header, as that brings in the test framework).

namespace program_run {

// A new baby, Ada, and the metric first-run units, in English.
inline constexpr const char* kNewBabyFirstRun = R"(tap Name
type Ada
key return
tap Girl
tap Done
tap kg
tap cm
tap °C
tap Start
tap Start
)";

}  // namespace program_run
