#pragma once

// Listening over the air against a fake BlueZ: the time from the matching advertisement to
// the verdict, and the processor time spent while nothing is heard. Prints its lines;
// false when a goal is missed.
bool ReportListening();
