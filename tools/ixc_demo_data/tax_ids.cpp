#include "tax_ids.h"

namespace demo {
namespace {

// Both numbers use the same rule: a weighted sum modulo 11, where a remainder below 2 gives 0.
char check_digit(const std::string& digits,
                 int (*weight)(std::size_t position, std::size_t count)) {
  int sum = 0;
  for (std::size_t i = 0; i < digits.size(); ++i)
    sum += (digits[i] - '0') * weight(i, digits.size());
  int remainder = sum % 11;
  return static_cast<char>('0' + (remainder < 2 ? 0 : 11 - remainder));
}

// CPF weights count down from count + 1 to 2.
int cpf_weight(std::size_t position, std::size_t count) {
  return static_cast<int>(count + 1 - position);
}

// CNPJ weights run 2..9 from the right and start over.
int cnpj_weight(std::size_t position, std::size_t count) {
  return static_cast<int>(2 + (count - 1 - position) % 8);
}

std::string random_digits(Random& random, int count) {
  std::string digits;
  for (int i = 0; i < count; ++i) digits.push_back(static_cast<char>('0' + random.below(10)));
  return digits;
}

}  // namespace

std::string cpf_check_digits(const std::string& first_nine) {
  std::string digits = first_nine;
  digits.push_back(check_digit(digits, cpf_weight));
  digits.push_back(check_digit(digits, cpf_weight));
  return digits.substr(9);
}

std::string cnpj_check_digits(const std::string& first_twelve) {
  std::string digits = first_twelve;
  digits.push_back(check_digit(digits, cnpj_weight));
  digits.push_back(check_digit(digits, cnpj_weight));
  return digits.substr(12);
}

std::string random_cpf(Random& random, bool formatted) {
  std::string digits = random_digits(random, 9);
  // Nine equal digits pass the arithmetic but the tax office never issues them.
  if (digits.find_first_not_of(digits[0]) == std::string::npos)
    digits[8] = digits[0] == '9' ? '0' : '9';
  digits += cpf_check_digits(digits);
  if (!formatted) return digits;
  return digits.substr(0, 3) + "." + digits.substr(3, 3) + "." + digits.substr(6, 3) + "-" +
         digits.substr(9);
}

std::string random_cnpj(Random& random, bool formatted) {
  std::string digits = random_digits(random, 8);
  digits += random.chance(900) ? "0001" : "000" + std::to_string(random.between(2, 9));
  digits += cnpj_check_digits(digits);
  if (!formatted) return digits;
  return digits.substr(0, 2) + "." + digits.substr(2, 3) + "." + digits.substr(5, 3) + "/" +
         digits.substr(8, 4) + "-" + digits.substr(12);
}

}  // namespace demo
