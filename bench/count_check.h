// The exact request counts: every operation run on the simulator in both
// driver protocols and set against the model, as a table.
#pragma once

#include <ostream>

namespace bench {

// Prints the table and a MISMATCH line for every count that differs from
// the model (or operation that failed); returns how many there were.
int CheckCounts(std::ostream& out);

}  // namespace bench
