// The characteristic cubic det(x I - M) of the current matrix, its reduction to
// y^3 + p y + q, the snapped discriminant and the real roots by Cardano's formulas
// or the trigonometric form.
#pragma once

#include "calculator/state.h"

namespace zv {

// a, b, c from a11 ... a33.
void form_cubic(CalculatorState& s);
// p and q from a, b, c.
void reduce_cubic(CalculatorState& s);
// D from p and q, snapped to 0 within its rounding noise (and when not a number).
void form_discriminant(CalculatorState& s);
// root[1 ... n] and n from D, p, q and a; the roots are not sorted. A root that the
// formulas leave less accurate than ROOT_KEEP is refined on the current matrix.
void solve_cubic(CalculatorState& s);

// The sign-restoring power with CUBE_ROOT_EXPONENT (not an exact cube root).
double cube_root(double w);

}  // namespace zv
