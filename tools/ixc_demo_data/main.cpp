// ixc-demo-data: the customers and receivables of a made-up internet provider, for the demo,
// the benchmark and the tests. See usage below; generator.h says what the data holds and
// writers.h how it is written.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "generator.h"
#include "writers.h"

namespace {

// YYYY-MM-DD by shape only; the generator reads the numbers.
bool date_shaped(const std::string& text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i != 4 && i != 7 && (text[i] < '0' || text[i] > '9')) return false;
  }
  return true;
}

constexpr const char* kUsage =
    "usage: ixc-demo-data --customers N --seed S [--format sql|tsv] [--out DIR] [--today "
    "YYYY-MM-DD]\n"
    "       [--realistic] [--state K [--step-minutes M]]\n"
    "  N customers with overdue receivables (and N/10 more who owe nothing), the same rows for\n"
    "  the same seed. sql: one script, on stdout or in DIR/ixc-demo.sql, for `mariadb DB < file`.\n"
    "  tsv: DIR/cliente.tsv, DIR/fn_areceber.tsv and DIR/load.sql, for\n"
    "  `mariadb --local-infile=1 DB < DIR/load.sql`. Due dates are relative to the day of\n"
    "  loading (CURRENT_DATE()) unless --today fixes that day.\n"
    "  --realistic: the same customers with texts as operators type them: long names, capitals,\n"
    "  line feeds in names and neighbourhoods, more customers without a phone, and half of\n"
    "  those without a CPF/CNPJ with NULL instead of the blank text.\n"
    "  --state K: the same ERP K runs later, a run every M minutes (5): state 0 is the run at\n"
    "  23:55, state 1 midnight, when the day's bills fall due; through the day customers pay\n"
    "  (3 % of those who owe pay all, 1 % one of several bills, per day, most from 8 to 18 h).\n";

struct Options {
  long customers = -1;
  std::uint64_t seed = 0;
  bool seed_given = false;
  std::string format = "sql";
  std::string out;
  std::string today;
  demo::Variant variant;
};

[[noreturn]] void usage_error(const std::string& problem) {
  std::fprintf(stderr, "ixc-demo-data: %s\n%s", problem.c_str(), kUsage);
  std::exit(2);
}

bool whole_number(const std::string& text, unsigned long long& value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  value = std::strtoull(text.c_str(), nullptr, 10);
  return errno == 0;
}

Options parse_options(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string flag = argv[i];
    if (flag == "--help" || flag == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (flag == "--realistic") {
      options.variant.realistic = true;
      continue;
    }
    if (i + 1 >= argc) usage_error("missing value after " + flag);
    std::string value = argv[++i];
    unsigned long long number = 0;
    if (flag == "--customers") {
      if (!whole_number(value, number) || number > 10'000'000)
        usage_error("bad --customers " + value);
      options.customers = static_cast<long>(number);
    } else if (flag == "--seed") {
      if (!whole_number(value, number)) usage_error("bad --seed " + value);
      options.seed = number;
      options.seed_given = true;
    } else if (flag == "--state") {
      if (!whole_number(value, number) || number > 100'000) usage_error("bad --state " + value);
      options.variant.state = static_cast<int>(number);
    } else if (flag == "--step-minutes") {
      if (!whole_number(value, number) || number < 1 || number > 1440)
        usage_error("bad --step-minutes " + value);
      options.variant.step_minutes = static_cast<int>(number);
    } else if (flag == "--format") {
      if (value != "sql" && value != "tsv") usage_error("--format is sql or tsv, not " + value);
      options.format = value;
    } else if (flag == "--out") {
      options.out = value;
    } else if (flag == "--today") {
      if (!date_shaped(value)) {
        usage_error("--today needs YYYY-MM-DD, got " + value);
      }
      options.today = value;
    } else {
      usage_error("unknown option " + flag);
    }
  }
  if (options.customers < 0) usage_error("--customers is required");
  if (!options.seed_given) usage_error("--seed is required");
  if (options.format == "tsv" && options.out.empty()) usage_error("--format tsv needs --out DIR");
  return options;
}

template <typename Writer>
demo::Counts generate(const Options& options, Writer& writer) {
  demo::Generator generator(options.customers, options.seed, options.variant);
  demo::Chunk chunk;
  writer.begin();
  while (generator.next(chunk)) writer.write(chunk);
  writer.end();
  return generator.counts();
}

}  // namespace

int main(int argc, char** argv) {
  Options options = parse_options(argc, argv);
  try {
    if (!options.out.empty()) std::filesystem::create_directories(options.out);
    demo::Counts counts;
    if (options.format == "tsv") {
      demo::TsvWriter writer(options.out, options.today);
      counts = generate(options, writer);
    } else {
      std::FILE* out = stdout;
      std::string path = options.out + "/ixc-demo.sql";
      if (!options.out.empty() && !(out = std::fopen(path.c_str(), "w"))) {
        throw std::runtime_error("cannot write " + path);
      }
      static char buffer[1 << 20];
      std::setvbuf(out, buffer, _IOFBF, sizeof buffer);
      demo::SqlWriter writer(out, options.today);
      counts = generate(options, writer);
      if (out != stdout && std::fclose(out) != 0) throw std::runtime_error("cannot write " + path);
    }
    std::fprintf(stderr, "ixc-demo-data: %ld overdue customers, %ld up to date, %ld receivables\n",
                 counts.overdue_customers, counts.current_customers, counts.receivables);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "ixc-demo-data: %s\n", error.what());
    return 1;
  }
  return 0;
}
