// Commit-to-keystroke latency of the Linux program, side by side with a floor
// receiver that makes the same thread hops and types with one XTest sequence
// (floor_receiver_linux.cpp). On an X server of the tool's own, a reader
// window with the focus stamps each key press as its thread handles it; the
// phone side, in the same process and so on the same clock, stamps each
// commit right before its line goes out. The two receivers take turns, commit
// by commit, so that whatever else loads the machine falls on both alike.
// Afterwards the program, connected to nothing, is watched for wake-ups.
//
//   e2e_latency_linux [COMMITS [LONG_COMMITS [LONG_LENGTH]]]
//
// COMMITS short commits each (default 200); then LONG_COMMITS long ones each
// (default one for every twenty short ones, at least one), timed to their
// last character, of the long dictation's first LONG_LENGTH characters
// (default all 2,700). Exits with 1 when a text did not arrive whole and in
// order, or a receiver did not start or end properly; never for a figure.

#include <netinet/tcp.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/utf8.h"
#include "config/app_config.h"
#include "net/socket_platform.h"
#include "tests/e2e/long_dictation.h"
#include "tests/support/free_port.h"
#include "tests/support/program_run_linux.h"
#include "tests/support/xvfb_posix.h"
#include "tools/phone_sim/wire.h"
// Last: they bring Xlib's macros.
#include "tests/support/key_reader_x11.h"
// clang-format off
#include <X11/XKBlib.h>
// clang-format on

namespace {

using Clock = std::chrono::steady_clock;
using lumora::testing::KeyReader;
using namespace std::chrono_literals;

// Short dictations, taken in turn: most characters come back, a few are new
// to the keymap each time, as in speech.
const char* const kShortTexts[] = {
    "今天下午三点开会",
    "请把报告发给我",
    "我们明天早上见",
    "这个问题下午再讨论",
};

// The live text is drawn before its commit comes: nothing tells the phone
// when the drawing is done, so it gives the receiver this long.
constexpr auto kLiveTextSettle = 30ms;
constexpr auto kLongLiveTextSettle = 300ms;
// After a commit the program hides the overlay and writes the commit's log
// line 25 ms later, and every client that follows the keymap (the program's
// Qt among them) reads the keymap the typing changed anew, for several
// milliseconds: all that is over before the other receiver's commit goes out.
constexpr auto kAfterCommit = 40ms;
constexpr auto kAfterLongCommit = 300ms;
// How long a text may make no progress before it counts as lost.
constexpr auto kArrival = 10s;
// The program's wake-ups are counted over this long.
constexpr std::chrono::seconds kIdleWatch{5};

std::u32string Utf32(const std::string& utf8) {
  std::u32string text;
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t length = lumora::Utf8SequenceLength(utf8, i);
    text += length == 0 ? U'\uFFFD' : lumora::DecodeUtf8(utf8, i, length);
    i += length == 0 ? 1 : length;
  }
  return text;
}

std::string Utf8(const std::u32string& text) {
  std::string utf8;
  for (const char32_t c : text) {
    lumora::AppendUtf8(utf8, c);
  }
  return utf8;
}

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The phone's end of one connection.
class Phone {
 public:
  // Connects, reads the welcome and says hello; while nobody listens yet, it
  // tries again until `patience` is over.
  bool Connect(unsigned port, std::chrono::milliseconds patience) {
    const auto deadline = Clock::now() + patience;
    for (;;) {
      lumora::Socket socket(lumora::OpenTcpSocket());
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(static_cast<unsigned short>(port));
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        socket_ = std::move(socket);
        break;
      }
      if (Clock::now() > deadline) {
        return false;
      }
      std::this_thread::sleep_for(20ms);
    }
    // Without it the commit line waits in this socket for the acknowledgement
    // of the text line before it (Nagle's algorithm against delayed ACKs):
    // time that neither receiver could do anything about.
    const int no_delay = 1;
    ::setsockopt(socket_.get(), IPPROTO_TCP, TCP_NODELAY, &no_delay, sizeof no_delay);
    lumora::SetReceiveTimeout(socket_.get(), 10000);
    std::string welcome;
    return ReadLine(welcome) && welcome.find("\"welcome\"") != std::string::npos &&
           Send(lumora::BuildHello("latency", "1"));
  }

  bool Send(const std::string& line) {
    for (std::size_t sent = 0; sent < line.size();) {
      const long n = lumora::SendSome(socket_.get(), line.data() + sent, line.size() - sent);
      if (n <= 0) {
        return false;
      }
      sent += static_cast<std::size_t>(n);
    }
    return true;
  }

  // The next line the receiver sends must be the commit's ack.
  bool ReadCommitAck() {
    std::string line;
    lumora::ReceivedLine received;
    return ReadLine(line) && lumora::ParseReceivedLine(line, received) && received.type == "ack" &&
           received.Field("of") != nullptr && *received.Field("of") == "commit";
  }

  void Close() { socket_.Reset(); }

 private:
  bool ReadLine(std::string& line) {
    std::size_t end;
    while ((end = buffer_.find('\n')) == std::string::npos) {
      char chunk[4096];
      const long n = lumora::ReceiveSome(socket_.get(), chunk, sizeof chunk);
      if (n <= 0) {
        return false;
      }
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
    line = buffer_.substr(0, end);
    buffer_.erase(0, end + 1);
    return true;
  }

  lumora::Socket socket_;
  std::string buffer_;
};

struct Receiver {
  const char* name;
  Phone phone;
  std::vector<double> first_character;  // ms, commit sent to its first press
  std::vector<double> long_commit;      // ms, commit sent to its last press
};

// What arrived, against what was sent; false (and why on stderr) unless
// every character came, in order, with the focus on the reader throughout.
bool Arrived(const Receiver& receiver, KeyReader& reader, const std::vector<KeyReader::Key>& keys,
             const std::u32string& want) {
  std::u32string got;
  for (const KeyReader::Key& key : keys) {
    got += key.character;
  }
  if (got == want && !reader.lost_focus()) {
    return true;
  }
  std::fprintf(stderr, "%s: %zu of %zu characters arrived%s: \"%s\"\n", receiver.name, got.size(),
               want.size(), reader.lost_focus() ? " (the reader lost the focus)" : "",
               Utf8(got.substr(0, 60)).c_str());
  return false;
}

// One commit of `text`; the time to its first character, or to its last.
bool Commit(Receiver& receiver, KeyReader& reader, const std::string& text, bool to_last) {
  const std::u32string want = Utf32(text);
  reader.Clear();
  if (!receiver.phone.Send(lumora::BuildText(text))) {
    std::fprintf(stderr, "%s: the connection ended\n", receiver.name);
    return false;
  }
  std::this_thread::sleep_for(to_last ? kLongLiveTextSettle : kLiveTextSettle);
  const std::string commit = lumora::BuildCommit(false);
  // Taken right before the line goes out: the commit's time starts when the
  // phone sends it.
  const Clock::time_point sent = Clock::now();
  if (!receiver.phone.Send(commit)) {
    std::fprintf(stderr, "%s: the connection ended\n", receiver.name);
    return false;
  }
  // Given up on only when nothing more comes for a while.
  std::vector<KeyReader::Key> keys;
  std::size_t seen = 0;
  do {
    seen = keys.size();
    keys = reader.WaitFor(want.size(), kArrival);
  } while (keys.size() < want.size() && keys.size() > seen);
  if (!Arrived(receiver, reader, keys, want)) {
    return false;
  }
  if (!receiver.phone.ReadCommitAck()) {
    std::fprintf(stderr, "%s: no ack for the commit\n", receiver.name);
    return false;
  }
  if (to_last) {
    receiver.long_commit.push_back(Milliseconds(keys.back().at - sent));
  } else {
    receiver.first_character.push_back(Milliseconds(keys.front().at - sent));
  }
  std::this_thread::sleep_for(to_last ? kAfterLongCommit : kAfterCommit);
  // Nothing more after the text: a text typed twice, or keys of its own.
  if (const std::size_t after = reader.WaitFor(0, 0ms).size(); after != want.size()) {
    std::fprintf(stderr, "%s: %zu characters arrived for a text of %zu\n", receiver.name, after, want.size());
    return false;
  }
  return true;
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) {
    return 0;
  }
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
  return values[at];
}

// Each thread's context switches so far, voluntary and not, by thread id,
// with the thread's name: every wake-up of a thread that slept is one.
struct ThreadSwitches {
  std::string name;
  long long switches = 0;
};

std::map<int, ThreadSwitches> ContextSwitches(pid_t pid) {
  std::map<int, ThreadSwitches> threads;
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
    std::ifstream status(task.path() / "status");
    ThreadSwitches thread;
    std::string line;
    while (std::getline(status, line)) {
      const std::size_t colon = line.find(':');
      if (colon == std::string::npos) {
        continue;
      }
      const std::string key = line.substr(0, colon);
      const std::size_t start = line.find_first_not_of(" \t", colon + 1);
      const std::string value = start == std::string::npos ? std::string() : line.substr(start);
      if (key == "Name") {
        thread.name = value;
      } else if (key == "voluntary_ctxt_switches" || key == "nonvoluntary_ctxt_switches") {
        thread.switches += std::atoll(value.c_str());
      }
    }
    threads[std::atoi(task.path().filename().c_str())] = thread;
  }
  return threads;
}

// How often the threads of a process woke within a while, and which.
struct Wakeups {
  long long count = 0;
  std::string threads;  // " name (id): count;" for each thread that woke
};

Wakeups CountWakeups(pid_t pid, std::chrono::seconds watch) {
  const auto before = ContextSwitches(pid);
  std::this_thread::sleep_for(watch);
  Wakeups wakeups;
  for (const auto& [tid, thread] : ContextSwitches(pid)) {
    const auto was = before.find(tid);
    const long long count = thread.switches - (was != before.end() ? was->second.switches : 0);
    if (count > 0) {
      wakeups.count += count;
      wakeups.threads += " " + thread.name + " (" + std::to_string(tid) + "): " + std::to_string(count) + ";";
    }
  }
  return wakeups;
}

// Whether the keymap is the session's own again (both receivers gave their
// keycodes back) within `timeout`, looked at again on each of XKB's news of a
// change. Xlib takes up XKB on every connection, and the server then sends
// such a client no core MappingNotify: only XKB's map events, selected here
// only now, so that nothing of the measured runs went to this connection.
bool WaitForKeymap(Display* display, const std::vector<KeySym>& original, std::chrono::milliseconds timeout) {
  XkbSelectEvents(display, XkbUseCoreKbd, XkbMapNotifyMask, XkbMapNotifyMask);
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
    }
    if (lumora::testing::Keymap(display) == original) {
      return true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left <= 0ms) {
      return false;
    }
    // Unless the look at the keymap queued news already.
    if (XPending(display) == 0) {
      pollfd connection{ConnectionNumber(display), POLLIN, 0};
      ::poll(&connection, 1, static_cast<int>(left.count()));
    }
  }
}

void PrintRow(const char* name, const std::vector<double>& values) {
  std::printf("%-10s %9.3f %9.3f %6zu\n", name, Percentile(values, 0.5), Percentile(values, 0.9),
              values.size());
}

}  // namespace

int main(int argc, char** argv) {
  const int commits = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  const int long_commits = argc > 2 ? std::max(1, std::atoi(argv[2])) : std::max(1, commits / 20);
  std::u32string long_text = Utf32(lumora::testing::MakeLongDictation().utf8);
  if (argc > 3) {
    long_text.resize(std::min(long_text.size(), static_cast<std::size_t>(std::max(1, std::atoi(argv[3])))));
  }
  const std::string long_utf8 = Utf8(long_text);

  XInitThreads();
  lumora::testing::XvfbServer server;
  if (!server.Start()) {
    std::fprintf(stderr, "Xvfb did not start\n");
    return 1;
  }
  const lumora::DisplayConnection watch(XOpenDisplay(server.display().c_str()));
  const std::vector<KeySym> original_keymap = lumora::testing::Keymap(watch.get());
  KeyReader reader;
  if (!reader.Open(server.display())) {
    std::fprintf(stderr, "the reader window did not open\n");
    return 1;
  }

  // Both receivers in a session of the tool's own: its X server, folders of
  // its own, a session bus address that leads nowhere (nothing of the
  // developer's session is touched, and D-Bus starts no bus of its own).
  lumora::testing::PrivateSession session;
  const auto environment = session.Environment({
      {"DISPLAY", server.display()},
      {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (session.runtime_dir() / "no-bus").string()},
      {"WAYLAND_DISPLAY", ""},
  });

  Receiver floor{"floor", {}, {}, {}};
  lumora::testing::ChildProcess floor_process;
  const unsigned floor_port = lumora::testing::FreePort();
  if (!floor_process.Start({PARLINO_FLOOR_PATH, std::to_string(floor_port)}, environment) ||
      !floor.phone.Connect(floor_port, 20s)) {
    std::fprintf(stderr, "the floor receiver did not start\n");
    return 1;
  }

  lumora::AppConfig config;
  config.listen_port = static_cast<std::int32_t>(lumora::testing::FreePort());
  config.press_enter_on_commit = false;
  config.auto_start = false;
  // No question for the measuring phone: it is served at once.
  config.confirm_new_phones = false;
  session.WriteConfig(lumora::FormatAppConfig(config));
  Receiver program{"program", {}, {}, {}};
  lumora::testing::ChildProcess program_process;
  if (!program_process.Start({PARLINO_PROGRAM_PATH}, environment) ||
      !program.phone.Connect(static_cast<unsigned>(config.listen_port), 30s)) {
    std::fprintf(stderr, "the program did not start\n");
    return 1;
  }

  Receiver* const receivers[] = {&program, &floor};
  bool complete = true;
  // One commit each first, not counted: the program makes its typist and
  // its X connection for output on its first text.
  for (Receiver* receiver : receivers) {
    complete = complete && Commit(*receiver, reader, kShortTexts[0], false);
    receiver->first_character.clear();
  }
  for (int i = 0; complete && i < commits; ++i) {
    for (Receiver* receiver : receivers) {
      complete = complete && Commit(*receiver, reader, kShortTexts[i % std::size(kShortTexts)], false);
    }
  }
  for (int i = 0; complete && i < long_commits; ++i) {
    for (Receiver* receiver : receivers) {
      complete = complete && Commit(*receiver, reader, long_utf8, true);
    }
  }

  // The floor ends with its phone's connection, its keycodes given back.
  floor.phone.Close();
  const int floor_status = floor_process.WaitForExit(10s);
  if (floor_status != 0) {
    std::fprintf(stderr, "the floor receiver ended with status %d\n", floor_status);
    complete = false;
  }

  // Idle: connected to nothing, once its last commit has settled (the
  // keycodes of its last text go back to the keymap a second after it).
  program.phone.Close();
  std::optional<Wakeups> idle;
  bool keymap_back = false;
  if (complete) {
    keymap_back = WaitForKeymap(watch.get(), original_keymap, 10s);
    std::this_thread::sleep_for(3s);
    idle = CountWakeups(program_process.pid(), kIdleWatch);
  }

  const int program_status = program_process.Stop();
  if (program_status != 0) {
    std::fprintf(stderr, "the program ended with status %d after SIGTERM\n", program_status);
    complete = false;
  }
  reader.Close();

  std::printf("commit to first character, %d commits each, taking turns (ms)\n", commits);
  std::printf("%-10s %9s %9s %6s\n", "receiver", "median", "p90", "n");
  PrintRow("program", program.first_character);
  PrintRow("floor", floor.first_character);
  const double floor_p90 = Percentile(floor.first_character, 0.9);
  const double floor_median = Percentile(floor.first_character, 0.5);
  std::printf("p90 ratio program/floor: %.2f (medians: %.2f)\n",
              floor_p90 > 0 ? Percentile(program.first_character, 0.9) / floor_p90 : 0.0,
              floor_median > 0 ? Percentile(program.first_character, 0.5) / floor_median : 0.0);

  std::printf("\nlong commit (%zu characters) to its last character, %d commits each (ms)\n",
              long_text.size(), long_commits);
  std::printf("%-10s %9s %9s %6s\n", "receiver", "median", "p90", "n");
  PrintRow("program", program.long_commit);
  PrintRow("floor", floor.long_commit);
  const double program_long = Percentile(program.long_commit, 0.5);
  const double floor_long = Percentile(floor.long_commit, 0.5);
  if (program_long > 0 && floor_long > 0) {
    std::printf("characters per second (medians): program %.0f, floor %.0f\n",
                static_cast<double>(long_text.size()) * 1000 / program_long,
                static_cast<double>(long_text.size()) * 1000 / floor_long);
  }
  std::printf("speed ratio program/floor (floor time / program time, medians): %.2f\n",
              program_long > 0 ? floor_long / program_long : 0.0);

  if (idle) {
    std::printf(
        "\nidle: %lld wake-ups of the program in %lld s, connected to nothing, 3 s after its last "
        "commit settled%s\n",
        idle->count, static_cast<long long>(kIdleWatch.count()),
        keymap_back ? "" : " (the keymap was not the session's own again within 10 s)");
    if (idle->count > 0) {
      std::printf("woken:%s\n", idle->threads.c_str());
    }
  }
  if (!complete) {
    std::fprintf(stderr, "the run is incomplete; the program's log:\n");
    std::ifstream log(session.log_file());
    std::string line;
    while (std::getline(log, line)) {
      std::fprintf(stderr, "  %s\n", line.c_str());
    }
  }
  return complete ? 0 : 1;
}
