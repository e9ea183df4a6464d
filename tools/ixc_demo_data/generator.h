#pragma once
/// Draws the customers and receivables of the made-up provider, chunk by chunk, so that a
/// million receivables never sit in memory at once. The same seed always gives the same rows.
///
/// Exactly `overdue_customers` customers have at least one receivable that the collector counts
/// as overdue (open, due before the load day, with an open amount, on a contract); besides that
/// one, they carry what a real ERP holds around it: paid history, the next bill, partial
/// payments, a NULL `valor`, a cancelled or zero-balance bill, a bill due on the load day, an
/// installation fee outside any contract, a bill of a branch that no longer exists. One more
/// customer in ten has nothing overdue at all, only bills of those other kinds.
///
/// Two variations, both off by default (the default rows are the ones published figures come
/// from, and must not move):
/// - realistic texts: the same customers, with what operators type into a real ERP: long names,
///   names in capitals, stray blanks, a line feed pasted into a name or a neighbourhood, more
///   customers without a phone or a CPF/CNPJ;
/// - a later state of the same ERP: state K is the ERP K runs (of `step_minutes`) after state
///   0, which is taken at 23:55. Through the day customers pay all they owe (and leave the
///   overdue list) or one of several bills (their amount and count drop), mostly in business
///   hours; at each midnight every date moves one day on, so that the bills due that day fall
///   due together: customers who owed nothing appear, others owe one bill more.
#include <cstdint>

#include <span>

#include "erp_rows.h"
#include "random.h"

namespace demo {

struct Counts {
  long overdue_customers = 0;
  long current_customers = 0;
  long receivables = 0;
};

struct Variant {
  bool realistic = false;
  int state = 0;
  int step_minutes = 5;
};

/// The assumed pace of a provider's day (per customer who owes, per day), and how it spreads
/// over the hours: payments in the bank's and the shops' hours, PIX at any hour.
struct DayRates {
  double pay_all = 0.03;  // pays every overdue bill
  double pay_one = 0.01;  // pays the oldest of two or more
};

class Generator {
 public:
  Generator(long overdue_customers, std::uint64_t seed, Variant variant = {});

  /// Replaces the content of `chunk` with the next customers (at most kChunkCustomers) and
  /// their receivables; false, with `chunk` empty, once every customer has been drawn.
  bool next(Chunk& chunk);

  /// What has been drawn so far.
  const Counts& counts() const { return counts_; }

  static constexpr int kChunkCustomers = 1000;

 private:
  Customer customer(bool overdue);
  void make_realistic(Customer& customer);
  void advance(const Customer& customer, std::span<Receivable> bills);
  void overdue_bills(const Customer& customer, std::vector<Receivable>& out);
  void current_bills(const Customer& customer, std::vector<Receivable>& out);
  Receivable bill(const Customer& customer, std::optional<int> contract, int due_in_days,
                  Cents valor);
  std::optional<int> branch_of_bill(const Customer& customer);
  Cents plan_price(const Customer& customer);

  Random random_;
  std::uint64_t seed_;
  Variant variant_;
  long overdue_target_;
  long current_target_;
  Counts counts_;
  int next_customer_id_ = 1001;
  int next_contract_id_ = 501;
  int next_receivable_id_ = 1;
};

}  // namespace demo
