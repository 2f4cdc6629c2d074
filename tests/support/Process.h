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
#include <process.h>

#include "platform/Win32.h"

#include <psapi.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
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

inline int ProcessId() {
#ifdef _WIN32
  return ::_getpid();
#else
  return static_cast<int>(::getpid());
#endif
}

// The largest memory this process has held at once so far, in KiB (0 where the system does not
// tell).
inline long OwnPeakMemoryKiB() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return static_cast<long>(counters.PeakWorkingSetSize / 1024);
#else
  rusage usage{};
  return ::getrusage(RUSAGE_SELF, &usage) == 0 ? usage.ru_maxrss : 0;
#endif
}

// The file that swallows what is written to it.
inline const char* NullDevice() {
#ifdef _WIN32
  return "NUL";
#else
  return "/dev/null";
#endif
}

#ifdef _WIN32
// One argument as the C runtime of the child splits its command line again.
inline std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote is escaped.
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  return quoted + "\"";
}
#endif

// A started program. Its exit status is collected by Wait; a process still running when the
// object goes is killed.
class ChildProcess {
 public:
  // argv[0] is the program's path. Empty output paths discard that output.
  ChildProcess(const std::vector<std::string>& argv, const std::string& stdoutPath = "",
               const std::string& stderrPath = "") {
#ifdef _WIN32
    // The arguments are UTF-8, as the programs take them; the system gets them as UTF-16.
    auto wide = [](const std::string& utf8) {
      std::wstring w(utf8.size() + 1, L'\0');
      w.resize(static_cast<std::size_t>(
          ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(),
                                static_cast<int>(w.size()))));
      return w;
    };
    std::string utf8;
    for (const std::string& a : argv)
      utf8 += (utf8.empty() ? "" : " ") + QuoteArgument(a);
    std::wstring commandLine = wide(utf8);
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    auto open = [&inherit](const std::string& path, bool write) {
      return ::CreateFileA(path.empty() ? NullDevice() : path.c_str(),
                           write ? GENERIC_WRITE : GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                           write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = open("", false);
    startup.hStdOutput = open(stdoutPath, true);
    startup.hStdError = open(stderrPath, true);
    PROCESS_INFORMATION info{};
    const BOOL started = ::CreateProcessW(wide(argv[0]).c_str(), commandLine.data(), nullptr,
                                          nullptr, TRUE, 0, nullptr, nullptr, &startup, &info);
    for (HANDLE h : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
      if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    if (!started) throw std::runtime_error("cannot start " + argv[0]);
    ::CloseHandle(info.hThread);
    process_ = info.hProcess;
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
#ifdef _WIN32
    ::CloseHandle(process_);
#endif
  }

  // The exit status; 128 + the signal's number when a signal ended it (Kill gives 137 on every
  // system).
  int Wait() {
    if (waited_) return status_;
    waited_ = true;
#ifdef _WIN32
    DWORD code = 1;
    ::WaitForSingleObject(process_, INFINITE);
    ::GetExitCodeProcess(process_, &code);
    status_ = static_cast<int>(code);
    PROCESS_MEMORY_COUNTERS counters{};
    if (::GetProcessMemoryInfo(process_, &counters, sizeof counters))
      peak_kib_ = static_cast<long>(counters.PeakWorkingSetSize / 1024);
#else
    int raw = 0;
    rusage usage{};
    while (::wait4(pid_, &raw, 0, &usage) < 0) {
    }
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    peak_kib_ = usage.ru_maxrss;
#endif
    return status_;
  }

  // Whether the process has ended (its status is then collected, as Wait would).
  bool Ended() {
    if (waited_) return true;
#ifdef _WIN32
    if (::WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) return false;
    Wait();
    return true;
#else
    int raw = 0;
    rusage usage{};
    if (::wait4(pid_, &raw, WNOHANG, &usage) != pid_) return false;
    waited_ = true;
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    peak_kib_ = usage.ru_maxrss;
    return true;
#endif
  }

  // The largest memory the process held at once, in KiB, once Wait returned; 0 where the system
  // does not tell.
  long PeakMemoryKiB() const {
    return peak_kib_;
  }

  // Ends the process at once, as a crash or a power cut would end a program.
  void Kill() {
#ifdef _WIN32
    ::TerminateProcess(process_, 128 + 9);
#else
    ::kill(pid_, SIGKILL);
#endif
  }

 private:
#ifdef _WIN32
  HANDLE process_ = nullptr;
#else
  pid_t pid_ = -1;
#endif
  bool waited_ = false;
  int status_ = -1;
  long peak_kib_ = 0;
};

// Runs a program to its end and returns its exit status.
inline int RunProgram(const std::vector<std::string>& argv, const std::string& stdoutPath = "",
                      const std::string& stderrPath = "") {
  ChildProcess child(argv, stdoutPath, stderrPath);
  return child.Wait();
}

}  // namespace qv::test
