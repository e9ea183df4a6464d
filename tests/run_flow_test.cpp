// The program's command line, modes and exit statuses, watched from outside the process.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <sys/wait.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <thread>

#include "app/banner.h"
#include "app/deployment.h"
#include "support/loopback_socket.h"
#include "support/program_run.h"
#include "vendor/runtime_limiter.h"

namespace ixc::test {
namespace {

const std::string kCritical =
    std::string("Erro crítico -- Contactar Kestrel em: ") + deployment::kSupportContact + "\n";

ProgramOptions started_as(std::string argv0) {
  ProgramOptions options;
  options.argv0 = std::move(argv0);
  return options;
}

ProgramOptions with_limit_ms(int limit) {
  ProgramOptions options;
  options.environment = {"IXC_TEST_LIMIT_MS=" + std::to_string(limit)};
  return options;
}

std::vector<std::string> arguments(size_t count) {
  std::vector<std::string> args;
  for (size_t i = 0; i < count; ++i) args.push_back(i == 0 ? "version" : "x");
  return args;
}

TEST(ElementCount, AnyCountButTwoOrTenIsCriticalBeforeAnythingElse) {
  // With the path, 1, 3 to 9 and 11 or more elements; "version" first shows that the count is
  // tested before the mode is looked at.
  for (size_t count : {0, 2, 3, 4, 5, 6, 7, 8, 10, 11, 20}) {
    ProgramRun run = run_program(program_path(), arguments(count));
    EXPECT_EQ(run.out, kCritical) << count << " arguments";
    EXPECT_EQ(run.err, "") << count << " arguments";
    EXPECT_EQ(run.status, 1) << count << " arguments";
  }
}

TEST(VersionMode, PrintsTheBannerInEitherFormWithoutReadingOtherSettings) {
  std::string banner = std::string(deployment::kRightsNotice) + "\n/opt/ixc/ixc-atraso  2.1.2\n";
  ProgramOptions options = started_as("/opt/ixc/ixc-atraso");
  ProgramRun short_form = run_program(program_path(), {"version"}, options);
  EXPECT_EQ(short_form.out, banner);
  EXPECT_EQ(short_form.status, 0);
  // The full form's settings would fail any step that used them: the banner touches none.
  ProgramRun full_form =
      run_program(program_path(), {"version", "", "not-a-port", "", "", "", "", "", ""}, options);
  EXPECT_EQ(full_form.out, banner);
  EXPECT_EQ(full_form.err, "");
  EXPECT_EQ(full_form.status, 0);
}

TEST(VersionBanner, ReplacesEveryDotSlashOfTheProgramPath) {
  EXPECT_EQ(banner_path_line("./ixc-atraso"), " ixc-atraso  2.1.2");
  EXPECT_EQ(banner_path_line("../bin/ixc-atraso"), ". bin/ixc-atraso  2.1.2");
  EXPECT_EQ(banner_path_line("a/./b"), "a/ b  2.1.2");
  EXPECT_EQ(banner_path_line("././x"), "  x  2.1.2");
  EXPECT_EQ(banner_path_line("/usr/bin/ixc-atraso"), "/usr/bin/ixc-atraso  2.1.2");
  EXPECT_EQ(banner_path_line("ixc-atraso"), "ixc-atraso  2.1.2");
  ProgramRun run = run_program(program_path(), {"version"}, started_as("./ixc-atraso"));
  EXPECT_EQ(run.out, std::string(deployment::kRightsNotice) + "\n ixc-atraso  2.1.2\n");
}

TEST(ShortForm, AnyModeButVersionFailsNamingTheMissingZabbixHost) {
  for (std::string mode : {"descobertaClientes", "Version", "launch_x", "qualquer", ""}) {
    ProgramRun run = run_program(program_path(), {mode});
    EXPECT_EQ(run.out, "") << mode;
    EXPECT_NE(run.err.find("zabbix_host"), std::string::npos) << mode << ": " << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.status, 1) << mode;
  }
}

TEST(FullForm, UnrecognisedAndLaunchModesEndSilentlyWithStatusZero) {
  // Letter case matters: these are not the version or collection modes. "launch_" anywhere goes
  // to launch(), whose only job is "launch_verificar" exactly; "launch" alone is unrecognised.
  for (std::string mode :
       {"VERSION", "Version", "descobertaclientes", "DescobertaClientes", "launch_", "x_launch_y",
        "launch_relatorio", "launch_Verificar", "launch", "launchx", ""}) {
    ProgramRun run = run_program(program_path(), {mode, "", "", "", "", "", "", "", ""});
    EXPECT_EQ(run.out, "") << mode;
    EXPECT_EQ(run.err, "") << mode;
    EXPECT_EQ(run.status, 0) << mode;
  }
}

TEST(FullForm, AnUncaughtFailureIsOneLineOnStandardErrorWithItsOwnText) {
  ProgramRun run = run_program(
      program_path(), {"descobertaClientes", "127.0.0.1", "porta", "u", "p", "d", "", "", "h"});
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("porta"), std::string::npos) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_EQ(run.status, 1);
}

// Found after the values were sent and the snapshot emptied, these once ended with "OK".
TEST(FullForm, ASettingThatNamesNoServerEndsTheRunBeforeAnythingIsSentOrEmptied) {
  struct Case {
    std::string db_port, quest_ip, quest_port, zabbix_host, named;
  };
  const std::string port = "quest_db_port (QUESTDB_ILP_PORT) \"";
  const std::string host = "quest_db_ip (QUESTDB_HOST) \"";
  std::vector<Case> cases = {
      {"3306", "127.0.0.1", "abc", "h", port + "abc\""},
      {"3306", "127.0.0.1", "-1", "h", port + "-1\""},
      {"3306", "127.0.0.1", "99999", "h", port + "99999\""},
      {"3306", "127.0.0.1", "", "h", port + "\""},
      {"3306", "127.0.0.1", "0", "h", port + "0\""},
      {"3306", "127.0.0.1", "1;", "h", port + "1;\""},
      {"3306", "127.0.0.1:9109#", "9000", "h", host + "127.0.0.1:9109#\""},
      {"3306", "", "9000", "h", host + "\""},
      {"3306", "::1", "9000", "h", host + "::1\""},  // a bare IPv6 address needs its brackets
      {"3306", "127.0.0.1", "9000", "", "zabbix_host (ZABBIX_HOST) está vazio"},
      {"0", "127.0.0.1", "9000", "h", "porta \"0\""},
  };
  ProgramOptions options;
  // Nothing listens there: a value sent would end the run with a refused connection instead.
  options.environment = {"IXC_TEST_ZABBIX_SERVER=127.0.0.1:9"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.named);
    ProgramRun run = run_program(test_build_program_path(),
                                 {"descobertaClientes", "127.0.0.1", c.db_port, "u", "p", "d",
                                  c.quest_ip, c.quest_port, c.zabbix_host},
                                 options);
    EXPECT_EQ(run.out, "");  // no "Error:" of an emptying either
    EXPECT_TRUE(run.err.starts_with("ixc-atraso: ")) << run.err;
    EXPECT_NE(run.err.find(c.named), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.status, 1);
  }
  // A debug run sends and stores nothing, so only the ERP's settings matter to it.
  ProgramRun debug = run_program(
      test_build_program_path(),
      {"descobertaClientes", "127.0.0.1", "0", "u", "p", "d", "", "", "debug"}, options);
  EXPECT_NE(debug.err.find("porta \"0\""), std::string::npos) << debug.err;
}

TEST(RuntimeLimit, ASilentServerEndsTheRunWithTheTimeoutLineAndStatusZero) {
  // The connection completes in the kernel's backlog; the server never says a word.
  LoopbackSocket server(true);  // accepts in the backlog, never answers
  ProgramRun run =
      run_program(test_build_program_path(),
                  full_arguments("descobertaClientes", "127.0.0.1", std::to_string(server.port),
                                 "127.0.0.1", "9000", "zbx"),
                  with_limit_ms(1000));
  EXPECT_EQ(run.out, "Tempo limite de execução esgotado (1 s)\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_GE(run.elapsed.count(), 1000);
  EXPECT_LT(run.elapsed.count(), 2000);
}

TEST(FullForm, ThePasswordIsMaskedInTheProcessListWhileOtherArgumentsStayReadable) {
  LoopbackSocket erp(true);  // accepts in the backlog, never answers
  std::vector<std::string> args = full_arguments(
      "descobertaClientes", "127.0.0.1", std::to_string(erp.port), "127.0.0.1", "9000", "zbx");
  std::vector<std::string> expected = {test_build_program_path()};
  expected.insert(expected.end(), args.begin(), args.end());
  expected[5] = std::string(expected[5].size(), 'x');

  std::string cmdline;
  ProgramOptions options = with_limit_ms(30000);
  options.while_running = [&](int pid) {
    // A connection waiting in the backlog means the program has read its arguments.
    pollfd pending{erp.fd, POLLIN, 0};
    if (poll(&pending, 1, 10000) == 1) {
      std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
      cmdline.assign(std::istreambuf_iterator<char>(in), {});
    }
    kill(pid, SIGTERM);
  };
  ProgramRun run = run_program(test_build_program_path(), args, options);
  std::vector<std::string> seen;
  for (std::size_t start = 0; start < cmdline.size();) {
    std::size_t end = cmdline.find('\0', start);
    seen.push_back(cmdline.substr(start, end - start));
    start = end + 1;
  }
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(run.status, 128 + SIGTERM);
}

TEST(RuntimeLimit, StaysSpentOnceATimeoutWasSwallowed) {
  kestrelkit::RuntimeLimiter limiter(std::chrono::milliseconds(30));
  EXPECT_GT(kestrelkit::time_left().count(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  try {
    kestrelkit::check_time_left();
    FAIL() << "the limit should be spent";
  } catch (const kestrelkit::TimeoutException&) {
    // swallowed, as a catch-all would
  }
  EXPECT_THROW(kestrelkit::check_time_left(), kestrelkit::TimeoutException);
  EXPECT_THROW(kestrelkit::poll_timeout_ms(), kestrelkit::TimeoutException);
}

TEST(RuntimeLimit, IsUnboundedWhenNoLimitIsOpen) {
  { kestrelkit::RuntimeLimiter limiter(std::chrono::milliseconds(1)); }
  EXPECT_EQ(kestrelkit::time_left(), kestrelkit::kUnlimited);
}

TEST(RuntimeLimit, BackstopEndsAnUninterruptibleWaitSoonAfterTheLimit) {
  // A wait that never asks for the time left (here a plain sleep in a child) is cut by the
  // backstop alarm, which prints the same line and exits with status 0.
  auto started = std::chrono::steady_clock::now();
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipe_fds[1], STDOUT_FILENO);
    kestrelkit::RuntimeLimiter limiter(std::chrono::milliseconds(200));
    sleep(10);
    _exit(3);
  }
  close(pipe_fds[1]);
  std::string out;
  char buffer[256];
  ssize_t n;
  while ((n = read(pipe_fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, n);
  close(pipe_fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  auto elapsed = std::chrono::steady_clock::now() - started;
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(out, "Tempo limite de execução esgotado (200 ms)\n");
  EXPECT_LT(elapsed, std::chrono::milliseconds(200 + 2000));
}

}  // namespace
}  // namespace ixc::test
