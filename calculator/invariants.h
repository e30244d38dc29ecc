// The invariant element of one root: the snapped diagonal of M - root I, the three
// minors of its first two columns, and the two coordinates by Cramer's rule. The
// same procedure gives invariant points of the matrix and, on the cofactor matrix,
// invariant lines.
#pragma once

#include "calculator/state.h"

namespace zv {

// Which pair of rows gave the first coordinate.
enum class FirstCoordinate { rows12, rows13, rows23, improper };

// 0 unless the magnitude is at least ZERO_EPS (a value that is not a number too).
double snap_to_zero(double v);

// diag1[k] ... diag3[k] for root k.
void form_diagonal(CalculatorState& s, int k);
// minor12[k], minor13[k], minor23[k].
void form_minors(CalculatorState& s, int k);
// coord1[k] from the first pair of rows whose minor can divide; improper leaves
// coord1[k] and coord2[k] as they were.
FirstCoordinate solve_first_coordinate(CalculatorState& s, int k);
// coord2[k] from the first usable equation; needs coord1[k].
void solve_second_coordinate(CalculatorState& s, int k);

// Replaces a11 ... a33 by their cofactors (not transposed); all nine are formed
// from the entered values before any is stored.
void replace_by_cofactors(CalculatorState& s);

}  // namespace zv
