#pragma once

#include <string>

// A trace must never hold "inf" or "nan": a value that is not finite means a
// fault in the arithmetic, and storing it would hide the fault in a result
// that looks complete. These guards throw an InternalError instead, "internal
// error: iteration I would write the value V to the QUANTITY; ...", before
// anything of that value reaches a file.

// Checks every white-space separated word of `text` that reads as a number.
// `quantity`: what the text holds (the `what` of its output track).
void ensure_finite_text(const std::string& text, const std::string& quantity, long iteration);

void ensure_finite_value(double value, const std::string& quantity, long iteration);
