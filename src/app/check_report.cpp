#include "app/check_report.h"

#include <cstdio>

#include "app/console.h"
#include "text/excerpt.h"

namespace ixc {

std::string_view mark_text(Mark mark) {
  switch (mark) {
    case Mark::ok:
      return "OK    ";
    case Mark::aviso:
      return "AVISO ";
    case Mark::falha:
      return "FALHA ";
  }
  return "";
}

namespace {
// Long enough for the longest advice of our own; a server's text past it is cut.
constexpr std::size_t kShownFindingBytes = 2000;
}  // namespace

void report(CheckReport& report, CheckLine line) {
  // A finding quotes servers' texts (errors, versions, replies); one with a line feed or an
  // escape byte must not forge a line of its own or colour the terminal.
  line.finding = one_line_excerpt(line.finding, kShownFindingBytes);
  print_line(std::string(mark_text(line.mark)) + line.subject + ": " + line.finding);
  flush_output();
  report.lines.push_back(std::move(line));
}

std::string summary_line(const CheckReport& report) {
  int counts[3] = {0, 0, 0};
  for (const CheckLine& line : report.lines) ++counts[static_cast<int>(line.mark)];
  return "Resumo: " + std::to_string(report.lines.size()) + " verificações, " +
         std::to_string(counts[0]) + " OK, " + std::to_string(counts[1]) + " AVISO, " +
         std::to_string(counts[2]) + " FALHA";
}

std::vector<std::string> failed_subjects(const CheckReport& report) {
  std::vector<std::string> subjects;
  for (const CheckLine& line : report.lines) {
    if (line.mark == Mark::falha) subjects.push_back(line.subject);
  }
  return subjects;
}

std::string duration_text(std::chrono::duration<double> duration) {
  double seconds = duration.count();
  char text[32];
  if (seconds < 0.01) {
    std::snprintf(text, sizeof text, "%.2f ms", seconds * 1000);
  } else if (seconds < 1) {
    std::snprintf(text, sizeof text, "%.0f ms", seconds * 1000);
  } else if (seconds < 10) {
    std::snprintf(text, sizeof text, "%.1f s", seconds);
  } else {
    std::snprintf(text, sizeof text, "%.0f s", seconds);
  }
  return text;
}

}  // namespace ixc
