#pragma once

#include <vector>

// Nodes in increasing order and their weights.
struct QuadratureRule {
  std::vector<double> nodes;
  std::vector<double> weights;
};

// The `points`-point Gauss-Legendre rule on [lower, upper] (points >= 1,
// lower < upper): exact for polynomials of degree up to 2 * points - 1.
// Nodes and weights are found in extended precision and rounded once, so a
// node close to `lower` keeps its full relative accuracy.
QuadratureRule gauss_legendre_rule(int points, double lower, double upper);
