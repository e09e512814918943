#pragma once

#include <vector>

// Continuous variates drawn from the C library's rand(), the program's one
// random generator (seeded once at start-up). Every function consumes rand()
// values in a fixed order, so a run is reproducible from its seed. A count of
// 0 yields an empty vector and consumes nothing.

// rand() converted to a double on [0, 1], both ends included (one rand() value).
double draw_unit_uniform();

// count values r * (upper - lower) / 2147483647.0 + lower, r = rand().
std::vector<double> sample_unif(long count, double lower, double upper);

// Box-Muller (cosine branch only). A standard deviation <= 0 throws an
// InternalError, also for a count of 0.
std::vector<double> sample_normal(long count, double mean, double standard_deviation);

// Gamma(shape, rate = inverse_scale): exponential for shape 1, Cheng's
// log-logistic rejection above 1, a two-piece rejection below 1. A result of
// exactly 0 is floored to 2.2250738585072014e-308. A shape <= 0 or an
// inverse_scale <= 0 throws an InternalError.
std::vector<double> sample_gamma(long count, double shape, double inverse_scale);

// The natural log of one Gamma(shape, rate) value, drawn in log space so that
// it never underflows however small the shape: with G ~ Gamma(shape + 1, 1)
// and U uniform on (0, 1], G U^(1/shape) is Gamma(shape, 1), so the log is
// ln G + ln(U) / shape - ln(rate). A shape <= 0 or a rate <= 0 throws an
// InternalError (status -1).
double sample_log_gamma(double shape, double rate);

// count Dirichlet vectors from normalised gamma draws; a component of exactly
// 0 is floored (not renormalised).
std::vector<std::vector<double>> sample_dirichlet(long count, const std::vector<double>& parameters);

// Lanczos approximation (gamma 5, six terms) of Gamma(x), or of ln Gamma(x)
// when `log_flag` is set.
double log_gamma(double x, bool log_flag);
