#pragma once

// A record that benches share, in the PostgreSQL server named by PGHOST and the rest (as
// pg_virtualenv sets them): one module's claim and end beside its session, and how many
// claims per second eight benches get at once. Prints its lines; false when a goal is
// missed. Says so and counts as missed where no server is named.
bool ReportLine(double sessionNanoseconds);
