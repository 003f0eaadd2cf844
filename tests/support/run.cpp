// Test support: fork and exec with captured standard output and error.
#include "support/run.hpp"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {
namespace {

// In the child: only async-signal-safe calls until exec.
[[noreturn]] void exec_child(const std::vector<std::string>& argv, const RunOptions& options,
                             int out_fd, int err_fd) {
  int null_fd = open("/dev/null", O_RDONLY);
  if (null_fd < 0 || dup2(null_fd, 0) < 0 || dup2(out_fd, 1) < 0 || dup2(err_fd, 2) < 0) _exit(126);
  if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
  if (options.file_size_limit >= 0) {
    rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                 static_cast<rlim_t>(options.file_size_limit)};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
  }
  if (options.ignore_sigxfsz) signal(SIGXFSZ, SIG_IGN);
  if (options.address_space_limit >= 0) {
    rlimit limit{static_cast<rlim_t>(options.address_space_limit),
                 static_cast<rlim_t>(options.address_space_limit)};
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
  }
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

}  // namespace

RunResult run(const std::vector<std::string>& argv, const RunOptions& options) {
  if (argv.empty()) throw std::invalid_argument("run: empty argument vector");
  int out_pipe[2], err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("run: pipe failed");
  }
  // The environment is changed in the parent around fork, so that the child
  // needs no allocation before exec.
  std::map<std::string, std::string> saved;
  std::vector<std::string> were_unset;
  for (const auto& [name, value] : options.env) {
    if (const char* old = getenv(name.c_str())) saved[name] = old; else were_unset.push_back(name);
    if (value == "\x01unset") unsetenv(name.c_str()); else setenv(name.c_str(), value.c_str(), 1);
  }
  pid_t pid = fork();
  if (pid == 0) exec_child(argv, options, out_pipe[1], err_pipe[1]);
  for (const auto& [name, value] : saved) setenv(name.c_str(), value.c_str(), 1);
  for (const auto& name : were_unset) unsetenv(name.c_str());
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (pid < 0) throw std::runtime_error("run: fork failed");

  RunResult result;
  const auto deadline = std::chrono::steady_clock::now() + options.timeout;
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_count = 2;
  while (open_count > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, static_cast<int>(left.count())) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char chunk[65536];
      ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
      if (n > 0) {
        sinks[i]->append(chunk, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  for (auto& fd : fds) if (fd.fd >= 0) close(fd.fd);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {}
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

std::string niftiTool() {
  const RunResult r = run({"sh", "-c", "command -v nifti_tool"});
  return r.exit_code == 0 ? r.out.substr(0, r.out.size() - 1) : "";
}

std::string sharedLibcTwin(const std::string& program) {
  return SHARED_LIBC_DIR "/" + program;
}

std::map<std::string, std::string> failingCalls(const std::string& faults) {
  if (faults.empty()) return {};
  // AddressSanitizer wants its runtime loaded first; here the fault library
  // comes first and hands every call on (RTLD_NEXT) to the sanitizer's own
  // wrappers, so the order does no harm.
  const char* asan = std::getenv("ASAN_OPTIONS");
  return {{"LD_PRELOAD", FAIL_CALL_LIB},
          {"PFILE_FAIL", faults},
          {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0"}};
}

}  // namespace testing_support
