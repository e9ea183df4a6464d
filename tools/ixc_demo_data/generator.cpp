#include "generator.h"

#include <array>
#include <string_view>

#include "provider.h"
#include "tax_ids.h"

namespace demo {
namespace {

// Customers per city, in tenths of a percent, in the order of cities(); what is left over (2%)
// goes to a NULL city and to a city id the ERP no longer has.
constexpr std::array<unsigned, 10> kCityShare = {400, 110, 90, 110, 60, 90, 40, 40, 20, 20};
constexpr int kMissingCity = 99;
constexpr int kMissingBranch = 99;
constexpr int kDaysPerMonth = 30;

std::string digits(Random& random, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text.push_back(static_cast<char>('0' + random.below(10)));
  return text;
}

std::string person_name(Random& random) {
  const NameWords& words = name_words();
  std::span<const std::string_view> given =
      random.chance(500) ? words.given_male : words.given_female;
  std::string name(random.pick(given));
  if (random.chance(250)) name.append(" ").append(random.pick(given));
  if (random.chance(300)) name.append(" ").append(random.pick(words.particles));
  std::string_view surname = random.pick(words.surnames);
  name.append(" ").append(surname);
  std::string_view last = random.pick(words.surnames);
  if (random.chance(600) && last != surname) name.append(" ").append(last);
  return name;
}

std::string phone(Random& random, std::string_view area_code) {
  std::string text = "(";
  text.append(area_code).append(") ");
  if (random.chance(80)) return text + "3" + digits(random, 3) + "-" + digits(random, 4);
  if (random.chance(300)) return text + "9 " + digits(random, 4) + "-" + digits(random, 4);
  return text + "9" + digits(random, 4) + "-" + digits(random, 4);
}

// The ERP's text columns count characters, not bytes: a name stays within VARCHAR(150).
constexpr std::size_t kNameCharacters = 150;

std::size_t characters(std::string_view text) {
  std::size_t count = 0;
  for (char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

// Capitals as a clerk types them with caps lock on, accented letters of Latin-1 included
// (their second UTF-8 byte is 0x20 above the capital's).
std::string in_capitals(std::string_view text) {
  std::string out(text);
  for (std::size_t i = 0; i < out.size(); ++i) {
    auto byte = static_cast<unsigned char>(out[i]);
    if (byte >= 'a' && byte <= 'z') {
      out[i] = static_cast<char>(byte - 32);
    } else if (byte == 0xC3 && i + 1 < out.size()) {
      auto next = static_cast<unsigned char>(out[i + 1]);
      if (next >= 0xA0 && next <= 0xBE && next != 0xB7) out[i + 1] = static_cast<char>(next - 0x20);
      ++i;
    }
  }
  return out;
}

// A line feed between two words (pasted from a spreadsheet or a message), or at the end.
void break_line(Random& random, std::string& text) {
  std::size_t blank = text.find(' ', text.size() / 2);
  if (blank == std::string::npos || random.chance(300)) {
    text.append(random.chance(500) ? "\r\n" : "\n");
  } else {
    text[blank] = '\n';
  }
}

// State 0 is the ERP at the run before midnight; state k is k steps later.
int minute_of(int state, int step_minutes) { return 24 * 60 - step_minutes + state * step_minutes; }

// Payments per hour of the day, relative: few at night (PIX), most in the hours of banks,
// lottery shops and the provider's own counter, some in the evening.
constexpr std::array<int, 24> kHourWeight = {1,  1,  1,  1,  1,  1,  2, 4, 10, 10, 10, 10,
                                             10, 10, 10, 10, 10, 10, 6, 6, 6,  2,  2,  2};

double uniform(Random& random) { return static_cast<double>(random.next() >> 11) * 0x1.0p-53; }

bool overdue_on(const Receivable& bill, int day) {
  return bill.status == 'A' && bill.valor_aberto > 0 && bill.id_contrato &&
         bill.due_in_days - day < 0;
}

void pay(Receivable& bill) {
  bill.status = 'R';
  bill.valor_recebido += bill.valor_aberto;
  bill.valor_aberto = 0;
}

const City* city_of(const Customer& customer) {
  if (!customer.cidade || *customer.cidade < 1 ||
      static_cast<std::size_t>(*customer.cidade) > cities().size()) {
    return nullptr;
  }
  return &cities()[static_cast<std::size_t>(*customer.cidade - 1)];
}

}  // namespace

Generator::Generator(long overdue_customers, std::uint64_t seed, Variant variant)
    : random_(seed),
      seed_(seed),
      variant_(variant),
      overdue_target_(overdue_customers),
      current_target_((overdue_customers + 9) / 10) {}

bool Generator::next(Chunk& chunk) {
  chunk.customers.clear();
  chunk.receivables.clear();
  while (static_cast<int>(chunk.customers.size()) < kChunkCustomers) {
    long overdue_left = overdue_target_ - counts_.overdue_customers;
    long current_left = current_target_ - counts_.current_customers;
    if (overdue_left <= 0 && current_left <= 0) break;
    // Customers who owe nothing are spread among the others, about one in eleven.
    bool overdue = current_left <= 0 || (overdue_left > 0 && !random_.chance(91));
    Customer& drawn = chunk.customers.emplace_back(customer(overdue));
    std::size_t first_bill = chunk.receivables.size();
    if (overdue) {
      ++counts_.overdue_customers;
      overdue_bills(drawn, chunk.receivables);
    } else {
      ++counts_.current_customers;
      current_bills(drawn, chunk.receivables);
    }
    // Both variations draw from chance of their own, so that the customers and bills of the
    // default rows stay what they are.
    if (variant_.realistic) make_realistic(drawn);
    if (variant_.state > 0) {
      advance(drawn, std::span(chunk.receivables).subspan(first_bill));
    }
  }
  counts_.receivables += static_cast<long>(chunk.receivables.size());
  return !chunk.customers.empty();
}

Customer Generator::customer(bool overdue) {
  const NameWords& words = name_words();
  Customer c;
  c.id = next_customer_id_;
  // Deleted customers leave gaps in the ids.
  next_customer_id_ += random_.chance(150) ? random_.between(2, 6) : 1;

  bool company = random_.chance(200);
  c.tipo_pessoa = company ? 'J' : 'F';
  if (company) {
    std::string trade = std::string(random_.pick(words.businesses)) + " " +
                        std::string(random_.pick(words.trade_names));
    c.razao = trade + std::string(random_.pick(words.legal_forms));
    c.fantasia = trade;
  } else {
    c.razao = person_name(random_);
  }
  if (random_.chance(10)) {
    c.cnpj_cpf = "";  // typed in without the number
  } else {
    bool formatted = !random_.chance(40);
    c.cnpj_cpf = company ? random_cnpj(random_, formatted) : random_cpf(random_, formatted);
  }
  if (random_.chance(550)) c.email = "cliente" + std::to_string(c.id) + "@exemplo.com.br";

  unsigned share = random_.below(1000);
  for (std::size_t i = 0; i < kCityShare.size() && !c.cidade; ++i) {
    if (share < kCityShare[i]) {
      c.cidade = static_cast<int>(i + 1);
    } else {
      share -= kCityShare[i];
    }
  }
  if (!c.cidade && random_.chance(500)) c.cidade = kMissingCity;
  const City* city = city_of(c);
  const City& home = city ? *city : cities()[0];

  if (random_.chance(50)) {
    c.telefone_celular = std::nullopt;
  } else if (random_.chance(50)) {
    c.telefone_celular = "";
  } else {
    c.telefone_celular = phone(random_, home.area_code);
  }
  // Customers who stopped paying are the ones most often switched off.
  c.ativo = random_.chance(overdue ? 150 : 30) ? 'N' : 'S';
  if (!random_.chance(30)) {
    c.data_cadastro = {random_.between(2012, 2024), random_.between(1, 12), random_.between(1, 28)};
  }
  c.endereco = std::string(random_.pick(words.streets));
  c.numero = random_.chance(50) ? "S/N" : std::to_string(random_.between(1, 4999));
  if (random_.chance(20)) {
    c.bairro = std::nullopt;
  } else if (random_.chance(10)) {
    c.bairro = "";
  } else {
    c.bairro = std::string(random_.pick(std::span<const std::string_view>(home.districts)));
  }
  c.cep = (home.area_code == "85" ? "60" : "63") + digits(random_, 3) + "-" + digits(random_, 3);
  return c;
}

void Generator::make_realistic(Customer& c) {
  Random random(seed_ ^ 0x7265616c69737469ULL ^ (static_cast<std::uint64_t>(c.id) << 20));
  random.next();
  const NameWords& words = name_words();
  if (random.chance(30)) {  // the whole name of a person, or a company's full legal name
    while (characters(c.razao) < 100) {
      c.razao.append(" ").append(
          random.pick(random.chance(300) ? words.particles : words.surnames));
    }
    while (characters(c.razao) > kNameCharacters) c.razao.erase(c.razao.rfind(' '));
  }
  if (random.chance(80)) c.razao = in_capitals(c.razao);
  if (random.chance(20)) c.razao.append(" ");
  if (random.chance(5) && characters(c.razao) < kNameCharacters - 1) break_line(random, c.razao);
  if (c.bairro && !c.bairro->empty() && random.chance(5)) break_line(random, *c.bairro);
  // Still about one in a hundred without a CPF/CNPJ: typed in blank, or, for customers brought in
  // by an import, never set (NULL). Decided by the id, so the draws below stay as they were.
  if (c.cnpj_cpf && c.cnpj_cpf->empty() && c.id % 2 == 1) c.cnpj_cpf = std::nullopt;
  if (random.chance(40)) {
    c.telefone_celular = std::nullopt;
  } else if (random.chance(10) && c.telefone_celular && !c.telefone_celular->empty()) {
    // A landline beside the mobile, in the same area: still within VARCHAR(30).
    c.telefone_celular->append(" / 3" + digits(random, 3) + "-" + digits(random, 4));
  }
}

void Generator::advance(const Customer& customer, std::span<Receivable> bills) {
  DayRates rates;
  int weights = 0;
  for (int weight : kHourWeight) weights += weight;
  int step = variant_.step_minutes;
  for (int state = 1; state <= variant_.state; ++state) {
    int minute = minute_of(state, step);
    int day = minute / (24 * 60);
    // The same draws for a customer and a step whatever state is asked for: state K+1 is state
    // K with one more step.
    Random random(seed_ ^ (static_cast<std::uint64_t>(state) * 0xD1B54A32D192ED03ULL) ^
                  (static_cast<std::uint64_t>(customer.id) * 0xABC98388FB8AC02DULL));
    random.next();
    double share = static_cast<double>(kHourWeight[static_cast<std::size_t>(minute / 60 % 24)]) /
                   weights * step / 60.0;
    bool pays_all = uniform(random) < rates.pay_all * share;
    bool pays_one = uniform(random) < rates.pay_one * share;
    if (!pays_all && !pays_one) continue;
    Receivable* oldest = nullptr;
    int owed = 0;
    for (Receivable& bill : bills) {
      if (!overdue_on(bill, day)) continue;
      ++owed;
      if (pays_all) pay(bill);
      if (!oldest || bill.due_in_days < oldest->due_in_days) oldest = &bill;
    }
    if (!pays_all && owed >= 2) pay(*oldest);
  }
  int days = minute_of(variant_.state, step) / (24 * 60);
  for (Receivable& bill : bills) {
    bill.issued_in_days -= days;
    bill.due_in_days -= days;
  }
}

Cents Generator::plan_price(const Customer& customer) {
  return customer.tipo_pessoa == 'J' ? random_.pick(business_plans()) : random_.pick(home_plans());
}

std::optional<int> Generator::branch_of_bill(const Customer& customer) {
  if (random_.chance(10)) return std::nullopt;
  if (random_.chance(5)) return kMissingBranch;
  const City* city = city_of(customer);
  return city ? city->branch : 1;
}

Receivable Generator::bill(const Customer& customer, std::optional<int> contract, int due_in_days,
                           Cents valor) {
  Receivable r;
  r.id = next_receivable_id_++;
  r.id_cliente = customer.id;
  r.id_contrato = contract;
  r.filial_id = branch_of_bill(customer);
  r.documento = std::to_string(8000000 + r.id);
  r.issued_in_days = due_in_days - 10;
  r.due_in_days = due_in_days;
  r.valor = valor;
  r.valor_aberto = valor;
  return r;
}

void Generator::overdue_bills(const Customer& customer, std::vector<Receivable>& out) {
  int contract = next_contract_id_++;
  Cents price = plan_price(customer);
  // The last bill fell due between yesterday and a month ago; the ones before it, a month apart.
  int last_due = -random_.between(1, kDaysPerMonth);
  unsigned months = random_.below(100);
  int unpaid = months < 50 ? 1 : months < 75 ? 2 : months < 87 ? 3 : random_.between(4, 8);
  int paid = random_.between(0, 4);

  for (int month = paid + unpaid - 1; month >= 0; --month) {
    Receivable r = bill(customer, contract, last_due - month * kDaysPerMonth, price);
    if (month >= unpaid) {
      r.status = 'R';
      r.valor_recebido = price;
      r.valor_aberto = 0;
    } else {
      if (random_.chance(100)) {  // partly paid
        r.valor_recebido = price / 2;
        r.valor_aberto = price - r.valor_recebido;
      }
      if (random_.chance(20)) r.valor = std::nullopt;  // imported without its face value
    }
    out.push_back(r);
  }
  if (random_.chance(700)) out.push_back(bill(customer, contract, last_due + kDaysPerMonth, price));
  if (random_.chance(150)) {  // a second contract, on a cheaper plan
    Receivable r = bill(customer, next_contract_id_++, last_due, random_.pick(home_plans()));
    if (random_.chance(500)) {
      r.status = 'R';
      r.valor_recebido = *r.valor;
      r.valor_aberto = 0;
    }
    out.push_back(r);
  }
  if (random_.chance(40)) out.push_back(bill(customer, contract, 0, price));  // due today
  if (random_.chance(50)) {
    Receivable r = bill(customer, contract, last_due - kDaysPerMonth / 2, price);
    r.status = 'C';
    out.push_back(r);
  }
  if (random_.chance(30)) {  // settled, status never updated
    Receivable r = bill(customer, contract, last_due - 2 * kDaysPerMonth, price);
    r.valor_recebido = price;
    r.valor_aberto = 0;
    out.push_back(r);
  }
  if (random_.chance(20)) out.push_back(bill(customer, std::nullopt, last_due - 3, 15000));
}

void Generator::current_bills(const Customer& customer, std::vector<Receivable>& out) {
  int contract = next_contract_id_++;
  Cents price = plan_price(customer);
  int next_due = random_.between(1, kDaysPerMonth);
  int paid = random_.between(1, 6);
  for (int month = paid; month >= 1; --month) {
    Receivable r = bill(customer, contract, next_due - month * kDaysPerMonth, price);
    r.status = 'R';
    r.valor_recebido = price;
    r.valor_aberto = 0;
    out.push_back(r);
  }
  out.push_back(bill(customer, contract, next_due, price));
  if (random_.chance(150)) out.push_back(bill(customer, contract, 0, price));
  if (random_.chance(100)) {
    Receivable r = bill(customer, contract, next_due - kDaysPerMonth - 5, price);
    r.valor_recebido = price;
    r.valor_aberto = 0;
    out.push_back(r);
  }
  if (random_.chance(100)) {
    Receivable r = bill(customer, contract, next_due - 2 * kDaysPerMonth, price);
    r.status = 'C';
    out.push_back(r);
  }
  if (random_.chance(50))
    out.push_back(bill(customer, std::nullopt, -random_.between(1, 60), 15000));
}

}  // namespace demo
