#pragma once

#include <ostream>

// The program's one logging hook: where the diagnostic lines of the model
// code go (tables, intermediate sums, step-size tuning). Nowhere by default,
// so a run writes none; a developer or a test points it at a stream. Code
// with something to show asks for the stream and writes only when there is
// one, so no function needs a stream parameter for it. Set it on the main
// thread, outside the parallel passes.
std::ostream* diagnostics();
// Sets the stream (nullptr: none) and returns the one set before.
std::ostream* set_diagnostics(std::ostream* stream);
