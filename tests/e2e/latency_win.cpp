// Commit-to-keystroke latency of the real program, side by side with a floor
// receiver that makes the same thread hops and nothing else (floor_receiver).
// For each commit: the time from the commit line leaving the phone's socket
// to the first character reaching a focused edit control.
//
//   e2e_latency [COMMITS [LONG_COMMITS [LONG_CHARACTERS]]]   (defaults 50, a tenth, 2,700)

#include <windows.h>
#include <winsock2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/app_config.h"
#include "net/server.h"
#include "net/socket_platform.h"
#include "tests/e2e/long_dictation.h"
#include "tests/e2e/program_run_win.h"
#include "tests/support/free_port.h"
#include "tests/support/probe_window_win.h"

namespace {

using lumora::SocketHandle;
using Clock = std::chrono::steady_clock;

SocketHandle Connect(unsigned port) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    const SocketHandle socket = lumora::OpenTcpSocket();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<unsigned short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
      // Without it the commit line waits in the phone's socket for the
      // acknowledgement of the text line before it (Nagle and delayed ACKs):
      // about 10 ms that neither receiver can do anything about and that
      // hid every difference between them.
      const BOOL no_delay = TRUE;
      setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay), sizeof no_delay);
      return socket;
    }
    lumora::CloseSocket(socket);
    Sleep(50);
  }
  return lumora::kInvalidSocket;
}

// Dispatches messages until the first character of a commit has reached the
// edit; `at` is when its WM_CHAR did, as the edit's window procedure saw it.
// The wait wakes for every message as it arrives (no polling step), so the
// character is dispatched the moment it is there.
bool WaitForFirstCharacter(lumora::testing::ProbeWindow& probe, Clock::time_point& at) {
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (probe.first_char_at() == Clock::time_point{}) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      return false;
    }
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(left), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  at = probe.first_char_at();
  return true;
}

std::vector<double> MeasureLong(SocketHandle phone, int commits, int pieces,
                                lumora::testing::ProbeWindow& probe);

struct Timings {
  std::vector<double> first_character;
  std::vector<double> long_commit;
};

// `commits` short commits, then `long_commits` long ones, on one connection.
Timings Measure(unsigned port, int commits, int long_commits, int long_pieces,
                lumora::testing::ProbeWindow& probe) {
  Timings timings;
  std::vector<double>& latencies = timings.first_character;
  const SocketHandle phone = Connect(port);
  if (phone == lumora::kInvalidSocket) {
    return timings;
  }
  char welcome[512];
  lumora::ReceiveSome(phone, welcome, sizeof welcome);
  lumora::SendLine(phone, "{\"type\":\"hello\",\"client\":\"latency\"}\n");
  for (int i = 0; i < commits; ++i) {
    probe.Clear();
    lumora::SendLine(phone, "{\"type\":\"text\",\"content\":\"commit" + std::to_string(i) + "\"}\n");
    probe.Pump([] { return false; }, std::chrono::milliseconds(30));
    const std::string commit = "{\"type\":\"commit\",\"press_enter\":false}\n";
    // Taken right before the line goes out: the commit's time starts when the
    // phone sends it.
    const auto sent = Clock::now();
    lumora::SendLine(phone, commit);
    Clock::time_point arrived;
    if (!WaitForFirstCharacter(probe, arrived)) {
      std::fprintf(stderr, "commit %d: nothing arrived\n", i);
      break;
    }
    latencies.push_back(std::chrono::duration<double, std::milli>(arrived - sent).count());
    probe.Pump([] { return false; }, std::chrono::milliseconds(20));
  }
  timings.long_commit = MeasureLong(phone, long_commits, long_pieces, probe);
  lumora::ShutdownSocket(phone);
  lumora::CloseSocket(phone);
  return timings;
}

// For each of `commits` long commits on the phone's connection, the time
// from the commit line leaving the phone to the whole text being in the edit.
std::vector<double> MeasureLong(SocketHandle phone, int commits, int pieces,
                                lumora::testing::ProbeWindow& probe) {
  const lumora::testing::LongDictation text = lumora::testing::MakeLongDictation(pieces);
  const std::string line = "{\"type\":\"text\",\"content\":\"" + text.utf8 + "\"}\n";
  std::vector<double> times;
  for (int i = 0; i < commits; ++i) {
    probe.Clear();
    lumora::SendLine(phone, line);
    probe.Pump([] { return false; }, std::chrono::milliseconds(100));
    const auto sent = Clock::now();
    lumora::SendLine(phone, "{\"type\":\"commit\",\"press_enter\":false}\n");
    if (!probe.Pump([&] { return probe.Text().size() >= text.utf16.size(); }, std::chrono::seconds(60))) {
      std::fprintf(stderr, "long commit %d: %zu of %zu units arrived\n", i, probe.Text().size(),
                   text.utf16.size());
      break;
    }
    times.push_back(std::chrono::duration<double, std::milli>(probe.last_char_at() - sent).count());
    if (probe.Text() != text.utf16) {
      std::fprintf(stderr, "long commit %d arrived changed\n", i);
      times.pop_back();
      break;
    }
    probe.Pump([] { return false; }, std::chrono::milliseconds(100));
  }
  return times;
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) {
    return 0;
  }
  std::sort(values.begin(), values.end());
  const std::size_t at = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
  return values[at];
}

std::wstring SiblingPath(const wchar_t* name) {
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, length);
  return path.substr(0, path.find_last_of(L"\\/") + 1) + name;
}

}  // namespace

int main(int argc, char** argv) {
  const int commits = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
  // One long commit for every ten short ones, at least one.
  const int long_commits = argc > 2 ? std::max(1, std::atoi(argv[2])) : std::max(1, commits / 10);
  // The long commit's length in characters, in whole pieces of the text.
  const int long_pieces = argc > 3 ? std::max(1, std::atoi(argv[3]) / 9) : 300;
  lumora::EnsureWinsock();
  lumora::testing::ProbeWindow probe;
  if (!probe.ready()) {
    std::fprintf(stderr, "probe window has no focus\n");
    return 1;
  }

  // The program, with settings that type without Enter.
  lumora::AppConfig config;
  config.listen_port = static_cast<std::int32_t>(lumora::testing::FreePort());
  config.press_enter_on_commit = false;
  config.auto_start = false;
  // Allowed before: the measured path goes through the gate without a prompt.
  config.known_phones = {{"latency", "", "127.0.0.1"}};
  lumora::SaveAppConfig(config);
  std::error_code ec;
  std::filesystem::remove(lumora::LogDirectory() / lumora::kLogFileName, ec);
  Timings program;
  {
    lumora::testing::ProgramRun run;
    if (!run.Start() || !lumora::testing::ProgramRun::WaitForLog("ParlinoServer: listening on port")) {
      std::fprintf(stderr, "the program did not start\n");
      return 1;
    }
    program = Measure(static_cast<unsigned>(config.listen_port), commits, long_commits, long_pieces, probe);
    DWORD exit_code = 0;
    run.Close(&exit_code);
  }

  // The floor receiver.
  const unsigned floor_port = lumora::testing::FreePort();
  std::wstring command = L"\"" + SiblingPath(L"floor_receiver.exe") + L"\" " + std::to_wstring(floor_port);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::fprintf(stderr, "floor receiver did not start\n");
    return 1;
  }
  const Timings floor = Measure(floor_port, commits, long_commits, long_pieces, probe);
  WaitForSingleObject(process.hProcess, 5000);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);

  const auto row = [](const char* name, const std::vector<double>& values) {
    std::printf("%-10s %8.2f %8.2f %8zu\n", name, Percentile(values, 0.5), Percentile(values, 0.9),
                values.size());
  };
  std::printf("commit to first character, %d commits each (ms)\n", commits);
  std::printf("%-10s %8s %8s %8s\n", "receiver", "median", "p90", "n");
  row("program", program.first_character);
  row("floor", floor.first_character);
  const double floor_p90 = Percentile(floor.first_character, 0.9);
  std::printf("p90 ratio program/floor: %.2f\n",
              floor_p90 > 0 ? Percentile(program.first_character, 0.9) / floor_p90 : 0.0);

  std::printf("\nlong commit (%d characters) to its last character, %d commits each (ms)\n", long_pieces * 9,
              long_commits);
  std::printf("%-10s %8s %8s %8s\n", "receiver", "median", "p90", "n");
  row("program", program.long_commit);
  row("floor", floor.long_commit);
  const double program_long = Percentile(program.long_commit, 0.5);
  std::printf("speed ratio program/floor (floor time / program time, medians): %.2f\n",
              program_long > 0 ? Percentile(floor.long_commit, 0.5) / program_long : 0.0);
  const auto complete = [&](const Timings& t) {
    return t.first_character.size() == static_cast<std::size_t>(commits) &&
           t.long_commit.size() == static_cast<std::size_t>(long_commits);
  };
  return complete(program) && complete(floor) ? 0 : 1;
}
