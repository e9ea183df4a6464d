#pragma once
/// The lines of the check job (`ixc-atraso launch_verificar ...`). Each check gives one line on
/// standard output, printed as soon as it is done: a mark, what was checked and what was found,
///
///   OK     ERP conexão: MariaDB 10.0.0.5:3306: ...
///   AVISO  ERP data: ...
///   FALHA  Zabbix valores: ...
///
/// and the job ends with one summary line. The texts are the operator's, in Portuguese; none
/// may carry a password or a key.
#include <chrono>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vendor/runtime_limiter.h"

namespace ixc {

/// OK: as a collection needs it. AVISO: a collection works, but not as the operator may think.
/// FALHA: a collection fails, or its results do not land.
enum class Mark { ok, aviso, falha };

struct CheckLine {
  Mark mark = Mark::ok;
  std::string subject;  // what was checked: "ERP conexão", "QuestDB ixcClientes"
  std::string finding;  // what was found, naming the server as host:port
};

struct CheckReport {
  std::vector<CheckLine> lines;
};

/// "OK    ", "AVISO ", "FALHA ": the marks padded to one width, so that the subjects align.
std::string_view mark_text(Mark mark);

/// Prints `line` at once (and flushes, since a later check may take a while) and keeps it, its
/// finding escaped and shortened as every server text is (text/excerpt.h).
void report(CheckReport& report, CheckLine line);

/// "Resumo: 14 verificações, 12 OK, 1 AVISO, 1 FALHA".
std::string summary_line(const CheckReport& report);

/// The subjects of the FALHA lines, in order.
std::vector<std::string> failed_subjects(const CheckReport& report);

/// Runs `step` with every wait bounded by `limit` as well as by the run's own limit. Returns
/// nothing when the step finished, else the text of what it raised: a server's or a library's
/// failure, or "sem resposta em N s" for a step that ran out of its limit. The run's own limit
/// running out is not caught: it ends the job as it ends any run.
template <class Step>
std::optional<std::string> failure_of(std::chrono::milliseconds limit, Step&& step) {
  try {
    kestrelkit::StepLimiter guard(limit);
    step();
    return std::nullopt;
  } catch (const kestrelkit::StepTimeout& timeout) {
    return std::string(timeout.what());
  } catch (const kestrelkit::TimeoutException&) {
    throw;
  } catch (const std::exception& failure) {
    return std::string(failure.what());
  }
}

/// A duration for the operator: "0.35 ms", "12 ms", "1.7 s", "430 s".
std::string duration_text(std::chrono::duration<double> duration);

}  // namespace ixc
