#include "support/questdb_standin.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace ixc::test {

namespace {

size_t append_to_string(char* data, size_t size, size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

// Keeps only the last header block, so that "100 Continue" does not hide the final reply.
size_t collect_header(char* data, size_t size, size_t count, void* target) {
  auto* headers = static_cast<std::string*>(target);
  std::string_view line(data, size * count);
  if (line.rfind("HTTP/", 0) == 0) headers->clear();
  headers->append(line);
  return size * count;
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string escaped(const std::string& text) {
  char* escaped = curl_easy_escape(nullptr, text.c_str(), static_cast<int>(text.size()));
  std::string out(escaped);
  curl_free(escaped);
  return out;
}

// Reads the child's stdout until its "listening a:p a:p ..." line, within a deadline.
std::string wait_for_listening(int fd, pid_t& pid) {
  std::string out;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (out.find('\n') == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) throw std::runtime_error("questdb-standin did not start listening");
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[512];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) {
      int status = 0;
      waitpid(pid, &status, 0);
      pid = -1;
      throw std::runtime_error("questdb-standin ended before listening, status " +
                               std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1));
    }
    out.append(buffer, static_cast<size_t>(n));
  }
  return out.substr(0, out.find('\n'));
}

}  // namespace

std::string HttpReply::header(std::string_view name) const {
  std::istringstream lines(headers);
  std::string line;
  std::string wanted = lower(name) + ":";
  while (std::getline(lines, line)) {
    if (lower(line).rfind(wanted, 0) != 0) continue;
    std::string value = line.substr(wanted.size());
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
    while (!value.empty() && value.front() == ' ') value.erase(0, 1);
    return value;
  }
  return "";
}

HttpReply http_call(const HttpCall& call) {
  HttpReply reply;
  CURL* curl = curl_easy_init();
  if (curl == nullptr) throw std::runtime_error("curl_easy_init failed");
  char error[CURL_ERROR_SIZE] = "";
  curl_easy_setopt(curl, CURLOPT_URL, call.url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, call.timeout_ms);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, append_to_string);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, collect_header);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply.headers);
  if (call.authenticate) {
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
    curl_easy_setopt(curl, CURLOPT_USERNAME, call.user.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, call.password.c_str());
  }
  if (call.method == "POST") {
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, call.body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(call.body.size()));
  } else if (call.method != "GET") {
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, call.method.c_str());
  }
  CURLcode code = curl_easy_perform(curl);
  if (code == CURLE_OK) {
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
  } else {
    reply.error = error[0] != '\0' ? error : curl_easy_strerror(code);
  }
  curl_easy_cleanup(curl);
  return reply;
}

std::string questdb_standin_path() { return std::string(IXC_BIN_DIR) + "/questdb-standin"; }

QuestDbStandin::QuestDbStandin(QuestDbStandinOptions options) : address(options.address) {
  std::vector<std::string> args = {questdb_standin_path(), "--address", options.address};
  for (int port : options.ports) {
    args.push_back("--port");
    args.push_back(std::to_string(port));
  }
  args.insert(args.end(), options.extra_arguments.begin(), options.extra_arguments.end());
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  std::string line;
  try {
    line = wait_for_listening(out[0], pid);
  } catch (...) {
    close(out[0]);
    stop();
    throw;
  }
  close(out[0]);
  std::istringstream words(line);
  std::string word;
  words >> word;  // "listening"
  while (words >> word) ports.push_back(std::stoi(word.substr(word.rfind(':') + 1)));
}

QuestDbStandin::~QuestDbStandin() { stop(); }

void QuestDbStandin::stop() {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid = -1;
}

std::string QuestDbStandin::url(std::string_view path, int port) const {
  return "http://" + address + ":" + std::to_string(port == 0 ? ports.at(0) : port) +
         std::string(path);
}

HttpReply QuestDbStandin::exec(const std::string& sql, long timeout_ms) const {
  HttpCall call;
  call.url = url("/exec?query=" + escaped(sql) + "&fmt=json");
  call.timeout_ms = timeout_ms;
  return http_call(call);
}

nlohmann::json QuestDbStandin::query(const std::string& sql) const {
  HttpReply reply = exec(sql);
  if (!reply.error.empty()) throw std::runtime_error("GET /exec failed: " + reply.error);
  return nlohmann::json::parse(reply.body);
}

HttpReply QuestDbStandin::write(const std::string& lines, int port) const {
  HttpCall call;
  call.method = "POST";
  call.url = url("/write?precision=n", port);
  call.body = lines;
  return http_call(call);
}

}  // namespace ixc::test
