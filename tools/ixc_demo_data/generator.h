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
#include <cstdint>

#include "erp_rows.h"
#include "random.h"

namespace demo {

struct Counts {
  long overdue_customers = 0;
  long current_customers = 0;
  long receivables = 0;
};

class Generator {
 public:
  Generator(long overdue_customers, std::uint64_t seed);

  /// Replaces the content of `chunk` with the next customers (at most kChunkCustomers) and
  /// their receivables; false, with `chunk` empty, once every customer has been drawn.
  bool next(Chunk& chunk);

  /// What has been drawn so far.
  const Counts& counts() const { return counts_; }

  static constexpr int kChunkCustomers = 1000;

 private:
  Customer customer(bool overdue);
  void overdue_bills(const Customer& customer, std::vector<Receivable>& out);
  void current_bills(const Customer& customer, std::vector<Receivable>& out);
  Receivable bill(const Customer& customer, std::optional<int> contract, int due_in_days,
                  Cents valor);
  std::optional<int> branch_of_bill(const Customer& customer);
  Cents plan_price(const Customer& customer);

  Random random_;
  long overdue_target_;
  long current_target_;
  Counts counts_;
  int next_customer_id_ = 1001;
  int next_contract_id_ = 501;
  int next_receivable_id_ = 1;
};

}  // namespace demo
