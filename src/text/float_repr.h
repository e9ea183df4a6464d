#pragma once

#include <string>

/// A double as the earlier collector wrote it everywhere (discovery document, debug report,
/// stored rows): the shortest digits that read back as the same double, always with a
/// fraction or an exponent ("150.0", "0.0", "-0.0"), exponent form when the decimal exponent
/// is below -4 or at least 16, with a sign and at least two digits ("1e-05", "1e+16",
/// "5e-324"), and "inf", "-inf", "nan" (any NaN, whatever its sign bit).
namespace ixc {

std::string float_repr(double value);
void append_float_repr(std::string& out, double value);

}  // namespace ixc
