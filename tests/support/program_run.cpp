#include "support/program_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace ixc::test {

ProgramRun run_program(const std::string& path, const std::vector<std::string>& args,
                       const ProgramOptions& options) {
  int out_pipe[2];
  int err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  std::vector<std::string> argv_text;
  argv_text.push_back(options.argv0.empty() ? path : options.argv0);
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  auto started = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_pipe[1], STDERR_FILENO);
    int null_in = open("/dev/null", O_RDONLY);
    dup2(null_in, STDIN_FILENO);
    for (const auto& entry : options.environment) putenv(const_cast<char*>(entry.c_str()));
    execv(path.c_str(), argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (options.while_running) options.while_running(pid);

  ProgramRun run;
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&run.out, &run.err};
  int open_pipes = 2;
  auto deadline = started + options.kill_after;
  bool killed = false;
  while (open_pipes > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 && !killed) {
      kill(pid, SIGKILL);
      killed = true;
    }
    int ready = poll(fds, 2, killed ? 1000 : static_cast<int>(left.count()));
    if (ready < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[65536];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_pipes;
      }
    }
  }
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);
  run.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - started);
  run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  return run;
}

std::string program_path() { return std::string(IXC_BIN_DIR) + "/ixc-atraso"; }

std::string test_build_program_path() { return std::string(IXC_BIN_DIR) + "/ixc-atraso-test"; }

std::vector<std::string> full_arguments(const std::string& mode, const std::string& db_host,
                                        const std::string& db_port, const std::string& quest_db_ip,
                                        const std::string& quest_db_port,
                                        const std::string& zabbix_host) {
  return {mode,          db_host,     db_port,       "ixc_leitura", "senhaSecreta#1",
          "ixcprovedor", quest_db_ip, quest_db_port, zabbix_host};
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = std::min(text.find('\n', start), text.size());
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace ixc::test
