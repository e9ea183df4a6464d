#pragma once
/// Brazilian tax numbers with correct check digits: CPF for people (11 digits, shown as
/// 123.456.789-09) and CNPJ for companies (14 digits, shown as 12.345.678/0001-95).
#include <string>

#include "random.h"

namespace demo {

/// The two check digits of the first 9 digits of a CPF (text of '0'..'9').
std::string cpf_check_digits(const std::string& first_nine);

/// The two check digits of the first 12 digits of a CNPJ.
std::string cnpj_check_digits(const std::string& first_twelve);

/// A random valid number, formatted, or as bare digits when `formatted` is false (some ERP
/// records were typed without the punctuation).
std::string random_cpf(Random& random, bool formatted);
std::string random_cnpj(Random& random, bool formatted);

}  // namespace demo
