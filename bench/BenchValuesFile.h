#pragma once

// Planning a batch from a large values file, in a process of its own, beside reading the
// file once: the time and the peak memory as ratios. Prints its lines; false when a goal
// is missed.
bool ReportValuesFile();
