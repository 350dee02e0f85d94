// A long dictation through the real program: a phone streams sentences the
// way a recogniser does (growing partial texts, then a commit) for the given
// number of minutes, and every commit must arrive in the focused edit control
// exactly once, in full. The program's memory is sampled as it goes.
//
//   e2e_soak [MINUTES]      (default 10)

#include <windows.h>
#include <winsock2.h>

#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/win32_util_win.h"
#include "config/app_config.h"
#include "net/server.h"
#include "net/socket_platform.h"
#include "tests/e2e/program_run_win.h"
#include "tests/support/free_port.h"
#include "tests/support/probe_window_win.h"

namespace {

using Clock = std::chrono::steady_clock;
using lumora::SocketHandle;

// Words of a dictated sentence: Chinese characters, an ASCII word, digits,
// now and then an emoji, so that every kind of unit is exercised.
std::vector<std::string> MakeSentence(std::mt19937& random) {
  static const char* const kWords[] = {
      "今天", "天气", "很好", "我们", "去", "公园", "散步", "，", "meeting", "3pm", "\xF0\x9F\x98\x80", "。"};
  std::vector<std::string> words;
  const int count = std::uniform_int_distribution<int>(3, 12)(random);
  for (int i = 0; i < count; ++i) {
    words.push_back(kWords[random() % (sizeof kWords / sizeof kWords[0])]);
  }
  return words;
}

std::string Json(const std::string& text) { return "{\"type\":\"text\",\"content\":\"" + text + "\"}\n"; }

std::size_t ProgramMemory(HANDLE process) {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(process, &counters, sizeof counters)) {
    return 0;
  }
  return counters.WorkingSetSize;
}

}  // namespace

int main(int argc, char** argv) {
  const double minutes = argc > 1 ? std::atof(argv[1]) : 10.0;
  lumora::EnsureWinsock();
  lumora::testing::ProbeWindow probe;
  if (!probe.ready()) {
    std::fprintf(stderr, "probe window has no focus\n");
    return 1;
  }
  lumora::AppConfig config;
  config.listen_port = static_cast<std::int32_t>(lumora::testing::FreePort());
  config.press_enter_on_commit = false;
  config.auto_start = false;
  // Allowed before: the measured path goes through the gate without a prompt.
  config.known_phones = {{"soak", "", "127.0.0.1"}};
  lumora::SaveAppConfig(config);
  std::error_code ec;
  std::filesystem::remove(lumora::LogDirectory() / lumora::kLogFileName, ec);

  lumora::testing::ProgramRun program;
  if (!program.Start() || !lumora::testing::ProgramRun::WaitForLog("ParlinoServer: listening on port")) {
    std::fprintf(stderr, "the program did not start\n");
    return 1;
  }
  const SocketHandle phone = lumora::OpenTcpSocket();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<unsigned short>(config.listen_port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(phone, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return 1;
  }
  char welcome[512];
  lumora::ReceiveSome(phone, welcome, sizeof welcome);
  lumora::SendLine(phone, "{\"type\":\"hello\",\"client\":\"soak\"}\n");
  // Acks pile up unread otherwise; a reader keeps the socket drained.
  std::thread drain([phone] {
    char chunk[4096];
    while (lumora::ReceiveSome(phone, chunk, sizeof chunk) > 0) {
    }
  });

  std::mt19937 random(20261208);
  const auto end = Clock::now() + std::chrono::duration<double, std::ratio<60>>(minutes);
  long commits = 0, partials = 0, units = 0, wrong = 0;
  std::size_t memory_first = 0, memory_max = 0, memory_last = 0;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ, FALSE, [&] {
    DWORD id = 0;
    GetWindowThreadProcessId(program.FindWindowOfClass(L"Parlino.Host"), &id);
    return id;
  }());
  while (Clock::now() < end) {
    const std::vector<std::string> words = MakeSentence(random);
    std::string text;
    probe.Clear();
    for (const std::string& word : words) {
      text += word;
      lumora::SendLine(phone, Json(text));
      ++partials;
    }
    lumora::SendLine(phone, "{\"type\":\"commit\"}\n");
    ++commits;
    const std::wstring want = lumora::Utf8ToWide(text);
    units += static_cast<long>(want.size());
    if (!probe.Pump([&] { return probe.Text().size() >= want.size(); }, std::chrono::seconds(5)) ||
        !probe.Pump([&] { return probe.Text() == want; }, std::chrono::milliseconds(50))) {
      ++wrong;
      std::fprintf(stderr, "commit %ld: %zu units arrived, %zu expected\n", commits, probe.Text().size(),
                   want.size());
    }
    // Nothing more may arrive after the text is complete.
    probe.Pump([] { return false; }, std::chrono::milliseconds(10));
    if (probe.Text() != want) {
      ++wrong;
    }
    if (commits % 50 == 1) {
      memory_last = ProgramMemory(process);
      if (memory_first == 0) {
        memory_first = memory_last;
      }
      memory_max = memory_last > memory_max ? memory_last : memory_max;
    }
  }
  memory_last = ProgramMemory(process);
  lumora::ShutdownSocket(phone);
  drain.join();
  lumora::CloseSocket(phone);
  DWORD exit_code = 99;
  program.Close(&exit_code);
  if (process != nullptr) {
    CloseHandle(process);
  }

  std::printf("soak: %.1f min, %ld commits, %ld partial texts, %ld UTF-16 units typed, %ld wrong\n", minutes,
              commits, partials, units, wrong);
  std::printf("program working set: first %zu KiB, max %zu KiB, last %zu KiB\n", memory_first / 1024,
              memory_max / 1024, memory_last / 1024);
  std::printf("program exit code %lu\n", static_cast<unsigned long>(exit_code));
  return wrong == 0 && exit_code == 0 ? 0 : 1;
}
