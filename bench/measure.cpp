// measure OUT COMMAND [ARGS...]: runs COMMAND (standard streams inherited) and appends one line
// to OUT with its wall time, CPU time and peak resident memory, taken from wait4() so that the
// figures belong to that process alone:
//
//   wall_s=0.412 user_s=0.301 sys_s=0.052 maxrss_kb=10432 status=0
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: measure OUT COMMAND [ARGS...]\n");
    return 2;
  }
  auto started = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid < 0) return 2;
  if (pid == 0) {
    execvp(argv[2], argv + 2);
    std::perror(argv[2]);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
  }
  double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::FILE* out = std::fopen(argv[1], "a");
  if (!out) return 2;
  std::fprintf(out, "wall_s=%.4f user_s=%.4f sys_s=%.4f maxrss_kb=%ld status=%d\n", wall,
               seconds(usage.ru_utime), seconds(usage.ru_stime), usage.ru_maxrss, code);
  std::fclose(out);
  return code;
}
