// The invariant element of one root: the snapped diagonal of M - root I, the three
// minors of its first two columns, and the two coordinates by Cramer's rule. The
// same procedure gives invariant points of the matrix and, on the cofactor matrix,
// invariant lines.
#pragma once

#include "calculator/state.h"

namespace zv {

// Which pair of rows gave the first coordinate.
enum class FirstCoordinate { rows12, rows13, rows23, improper };

// 0 when v is zero relative to the matrix scale to the given degree (tolerance.h),
// and when it is not a number.
double snap_to_zero(double v, double scale, int degree);

// diag1[k] ... diag3[k] for root k.
void form_diagonal(CalculatorState& s, int k);
// minor12[k], minor13[k], minor23[k].
void form_minors(CalculatorState& s, int k);
// coord1[k] from the first pair of rows whose minor can divide; improper (also for a
// root that is not a finite number) leaves coord1[k] and coord2[k] as they were.
FirstCoordinate solve_first_coordinate(CalculatorState& s, int k);
// coord2[k] from the first equation whose coefficient of y is not negligible, else
// by Cramer's rule from the rows that gave coord1[k], which it needs.
void solve_second_coordinate(CalculatorState& s, int k);

// The whole element of root k, in the order above: diagonal, minors, first and (when
// that is found) second coordinate. The run prints what it leaves.
FirstCoordinate invariant_element(CalculatorState& s, int k);

// Replaces a11 ... a33 by their cofactors (not transposed); all nine are formed
// from the entered values before any is stored.
void replace_by_cofactors(CalculatorState& s);

}  // namespace zv
