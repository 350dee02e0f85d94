#pragma once

// The real Linux program started as a child, in a session of the test's own:
// its settings, log and runtime folders are temporary ones, its X server and
// session bus are whatever the test gives it. Watched through its log file
// and its exit status; stopped by pid.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/log_messages.h"

namespace lumora::testing {

// Temporary XDG folders for one test, gone with it.
class PrivateSession {
 public:
  PrivateSession() {
    std::string pattern = (std::filesystem::temp_directory_path() / "parlino-session-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) {
      root_ = pattern;
      for (const char* folder : {"config", "state", "runtime"}) {
        std::filesystem::create_directories(root_ / folder);
      }
      // The runtime folder is the user's alone, as the session's is.
      std::filesystem::permissions(root_ / "runtime", std::filesystem::perms::owner_all);
    }
  }
  ~PrivateSession() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  PrivateSession(const PrivateSession&) = delete;
  PrivateSession& operator=(const PrivateSession&) = delete;

  std::filesystem::path config_home() const { return root_ / "config"; }
  std::filesystem::path state_home() const { return root_ / "state"; }
  std::filesystem::path runtime_dir() const { return root_ / "runtime"; }
  std::filesystem::path config_file() const { return config_home() / "Parlino" / "config.toml"; }
  std::filesystem::path log_file() const { return state_home() / "Parlino" / "ParlinoApp.log"; }

  void WriteConfig(const std::string& toml) const {
    std::filesystem::create_directories(config_file().parent_path());
    std::ofstream(config_file(), std::ios::binary) << toml;
  }

  // The log's messages, without their time stamps.
  std::vector<std::string> LogMessages() const { return LogMessagesOf(log_file()); }
  bool Logged(const std::string& needle) const {
    for (const std::string& message : LogMessages()) {
      if (message.find(needle) != std::string::npos) {
        return true;
      }
    }
    return false;
  }
  // The program writes its log as things happen: waited for, generously.
  bool WaitForLog(const std::string& needle, std::chrono::milliseconds timeout = std::chrono::seconds(20)) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!Logged(needle)) {
      if (std::chrono::steady_clock::now() > deadline) {
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

  // The program's environment: the test's own, these folders, and `extra`.
  std::map<std::string, std::string> Environment(const std::map<std::string, std::string>& extra) const {
    std::map<std::string, std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text = *entry;
      const std::size_t equals = text.find('=');
      if (equals != std::string::npos) {
        env[text.substr(0, equals)] = text.substr(equals + 1);
      }
    }
    env["XDG_CONFIG_HOME"] = config_home();
    env["XDG_STATE_HOME"] = state_home();
    env["XDG_RUNTIME_DIR"] = runtime_dir();
    env["QT_QPA_PLATFORM"] = "xcb";
    env.erase("XDG_SESSION_TYPE");
    for (const auto& [name, value] : extra) {
      if (value.empty()) {
        env.erase(name);
      } else {
        env[name] = value;
      }
    }
    return env;
  }

 private:
  std::filesystem::path root_;
};

// A child process, started with an environment of its own and stopped by
// pid: SIGTERM first (the program's own end), SIGKILL after a while.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() { Stop(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env) {
    std::vector<std::string> env_text;
    for (const auto& [name, value] : env) {
      env_text.push_back(name + "=" + value);
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      std::vector<char*> args;
      for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
      }
      args.push_back(nullptr);
      std::vector<char*> envp;
      for (const std::string& entry : env_text) {
        envp.push_back(const_cast<char*>(entry.c_str()));
      }
      envp.push_back(nullptr);
      ::execve(args[0], args.data(), envp.data());
      ::_exit(127);
    }
    return pid_ > 0;
  }

  // The exit status once the process ended within `timeout`; -1 if it did
  // not (it is left running), -2 if it died of a signal.
  int WaitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (pid_ > 0) {
      int status = 0;
      const pid_t done = ::waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
      }
      if (std::chrono::steady_clock::now() > deadline) {
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }

  // Ends the process as the session's end would; its exit status.
  int Stop() {
    if (pid_ <= 0) {
      return -1;
    }
    ::kill(pid_, SIGTERM);
    const int status = WaitForExit(std::chrono::seconds(10));
    if (status == -1 && pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    return status;
  }

  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

// A session bus of the test's own, by pid.
class SessionBus {
 public:
  SessionBus() = default;
  ~SessionBus() { Stop(); }
  SessionBus(const SessionBus&) = delete;
  SessionBus& operator=(const SessionBus&) = delete;

  bool Start() {
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) {
      return false;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(pipe_fds[0]);
      const std::string fd = "--print-address=" + std::to_string(pipe_fds[1]);
      ::execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile", fd.c_str(),
               static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(pipe_fds[1]);
    pid_ = pid;
    char c = 0;
    while (::read(pipe_fds[0], &c, 1) == 1 && c != '\n') {
      address_ += c;
    }
    ::close(pipe_fds[0]);
    return !address_.empty();
  }
  void Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }
  const std::string& address() const { return address_; }

 private:
  pid_t pid_ = -1;
  std::string address_;
};

}  // namespace lumora::testing
