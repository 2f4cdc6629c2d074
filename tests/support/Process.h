// Starting programs and setting the environment from tests, the same way on every system: a child
// process with its arguments, standard input from nothing and its output into files.
#pragma once

#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace qv::test {

inline void SetEnv(const std::string& name, const std::string& value) {
#ifdef _WIN32
  ::_putenv_s(name.c_str(), value.c_str());
#else
  ::setenv(name.c_str(), value.c_str(), 1);
#endif
}

inline void UnsetEnv(const std::string& name) {
#ifdef _WIN32
  ::_putenv_s(name.c_str(), "");
#else
  ::unsetenv(name.c_str());
#endif
}

// A started program. Its exit status is collected by Wait; a process still running when the
// object goes is killed.
class ChildProcess {
 public:
  // argv[0] is the program's path. Empty output paths discard that output.
  ChildProcess(const std::vector<std::string>& argv, const std::string& stdoutPath = "",
               const std::string& stderrPath = "") {
#ifdef _WIN32
#else
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1,
                                     stdoutPath.empty() ? "/dev/null" : stdoutPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2,
                                     stderrPath.empty() ? "/dev/null" : stderrPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> args;
    for (const std::string& a : argv)
      args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int rc = ::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
#endif
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() {
    if (!waited_) {
      Kill();
      Wait();
    }
  }

  // The exit status; 128 + the signal's number when a signal ended it.
  int Wait() {
    if (waited_) return status_;
    waited_ = true;
#ifdef _WIN32
#else
    int raw = 0;
    while (::waitpid(pid_, &raw, 0) < 0) {
    }
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
#endif
    return status_;
  }

  // Whether the process has ended (its status is then collected, as Wait would).
  bool Ended() {
    if (waited_) return true;
#ifdef _WIN32
    return false;
#else
    int raw = 0;
    if (::waitpid(pid_, &raw, WNOHANG) != pid_) return false;
    waited_ = true;
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return true;
#endif
  }

  // Ends the process at once, as a crash or a power cut would end a program.
  void Kill() {
#ifdef _WIN32
#else
    ::kill(pid_, SIGKILL);
#endif
  }

 private:
#ifdef _WIN32
#else
  pid_t pid_ = -1;
#endif
  bool waited_ = false;
  int status_ = -1;
};

// Runs a program to its end and returns its exit status.
inline int RunProgram(const std::vector<std::string>& argv, const std::string& stdoutPath = "",
                      const std::string& stderrPath = "") {
  ChildProcess child(argv, stdoutPath, stderrPath);
  return child.Wait();
}

}  // namespace qv::test
