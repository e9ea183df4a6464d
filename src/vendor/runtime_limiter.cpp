#include "vendor/runtime_limiter.h"

#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <optional>

namespace kestrelkit {
namespace {

using Clock = std::chrono::steady_clock;

std::string amount_text(std::chrono::milliseconds limit) {
  auto ms = limit.count();
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

// How long past the limit an unbounded wait may run before the backstop ends the process.
constexpr std::chrono::milliseconds kBackstopGrace{1500};

std::optional<Clock::time_point> open_deadline;
std::chrono::milliseconds open_limit{0};
std::optional<Clock::time_point> step_deadline;
std::chrono::milliseconds step_limit{0};

// The backstop writes a text prepared in advance: only async-signal-safe calls in the handler.
char backstop_text[256];
size_t backstop_length = 0;

extern "C" void on_backstop_alarm(int) {
  ssize_t ignored = ::write(STDOUT_FILENO, backstop_text, backstop_length);
  (void)ignored;
  ::_exit(0);
}

void arm_backstop(std::chrono::milliseconds after) {
  std::string text = timeout_text() + "\n";
  backstop_length = std::min(text.size(), sizeof backstop_text);
  std::copy_n(text.data(), backstop_length, backstop_text);

  struct sigaction action {};
  action.sa_handler = on_backstop_alarm;
  sigemptyset(&action.sa_mask);
  sigaction(SIGALRM, &action, nullptr);

  itimerval timer{};
  auto total = after + kBackstopGrace;
  timer.it_value.tv_sec = static_cast<time_t>(total.count() / 1000);
  timer.it_value.tv_usec = static_cast<suseconds_t>((total.count() % 1000) * 1000);
  setitimer(ITIMER_REAL, &timer, nullptr);
}

void disarm_backstop() {
  itimerval timer{};
  setitimer(ITIMER_REAL, &timer, nullptr);
  signal(SIGALRM, SIG_DFL);
}

}  // namespace

RuntimeLimiter::RuntimeLimiter(std::chrono::milliseconds limit) {
  open_limit = limit;
  open_deadline = Clock::now() + limit;
  arm_backstop(limit);
}

RuntimeLimiter::~RuntimeLimiter() {
  disarm_backstop();
  open_deadline.reset();
}

StepLimiter::StepLimiter(std::chrono::milliseconds limit) {
  step_limit = limit;
  step_deadline = Clock::now() + limit;
}

StepLimiter::~StepLimiter() { step_deadline.reset(); }

RuntimeLimiter runtime_limiter(int limit_seconds) {
  return RuntimeLimiter(std::chrono::seconds(limit_seconds));
}

RuntimeLimiter runtime_limiter(std::chrono::milliseconds limit) { return RuntimeLimiter(limit); }

std::chrono::milliseconds time_left() {
  auto now = Clock::now();
  auto left = kUnlimited;
  if (open_deadline) {
    left = std::chrono::ceil<std::chrono::milliseconds>(*open_deadline - now);
    if (left.count() <= 0) throw TimeoutException(timeout_text());
  }
  if (step_deadline) {
    auto step_left = std::chrono::ceil<std::chrono::milliseconds>(*step_deadline - now);
    if (step_left.count() <= 0) {
      throw StepTimeout("sem resposta em " + amount_text(step_limit));
    }
    left = std::min(left, step_left);
  }
  return left;
}

void check_time_left() { (void)time_left(); }

int poll_timeout_ms(std::chrono::milliseconds cap) {
  return static_cast<int>(std::min(time_left(), cap).count());
}

std::string timeout_text() {
  return "Tempo limite de execução esgotado (" + amount_text(open_limit) + ")";
}

}  // namespace kestrelkit
