#pragma once

/// Decimal rounding of money totals as the earlier collector did it (Python's
/// round(value, digits)): the exact binary value is rounded at the `digits`-th decimal
/// (tens, hundreds... when negative), an exact half goes to the even digit, and the result is
/// the double nearest to that decimal. So 0.125 gives 0.12, 0.375 gives 0.38, and 2.675, whose
/// double lies just below the half, gives 2.67. The sign survives (-0.001 gives -0.0); inf
/// and nan come back unchanged. Raises std::overflow_error when the rounded value exceeds
/// the double range (only possible with negative `digits`).
namespace ixc {

double round_decimal(double value, int digits);

}  // namespace ixc
