#include "tools/phone_sim/session.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <istream>
#include <iterator>
#include <mutex>
#include <optional>
#include <ostream>
#include <string_view>
#include <thread>
#include <utility>

#include "net/protocol.h"
#include "net/socket_platform.h"
#include "tools/phone_sim/options.h"
#include "tools/phone_sim/script.h"
#include "tools/phone_sim/text.h"
#include "tools/phone_sim/wire.h"

namespace lumora {
namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

// A PC that streams bytes without ever ending a line must not grow the
// simulator without bound.
constexpr std::size_t kMaxLineBytes = std::size_t{1} << 20;

// Empty when all went well, else why not.
using Failure = std::optional<std::string>;

long long ElapsedMs(Clock::time_point since) {
  return std::chrono::duration_cast<Milliseconds>(Clock::now() - since).count();
}

std::int64_t EpochMs() {
  return std::chrono::duration_cast<Milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string WithoutLineFeed(std::string_view line) {
  if (!line.empty() && line.back() == '\n') {
    line.remove_suffix(1);
  }
  return std::string(line);
}

// Time-stamped lines on `out`, from both threads.
class Transcript {
 public:
  explicit Transcript(std::ostream& out) : out_(out) {}

  void Write(std::string_view marker, std::string_view text) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%5lld ms] ", ElapsedMs(start_));
    std::lock_guard<std::mutex> lock(mutex_);
    out_ << stamp << marker << ' ' << text << '\n';
    out_.flush();
  }

 private:
  std::ostream& out_;
  const Clock::time_point start_ = Clock::now();
  std::mutex mutex_;
};

enum class Next : int { Line = 0, Closed = 1, TimedOut = 2 };

// One connected socket: a reader thread splits what arrives into lines,
// prints and queues them; the main thread sends and takes lines off the queue.
// The socket is closed only once the reader is joined, so it never reads a
// handle that was closed (and perhaps reused) under it.
class Link {
 public:
  Link(Socket socket, Transcript& transcript) : socket_(std::move(socket)), transcript_(transcript) {}
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;
  ~Link() { Close(); }

  // False when the reader's wake-up could not be made; nothing started then.
  bool Start() {
    if (!wake_.Open()) {
      return false;
    }
    reader_ = std::thread([this] { ReadLoop(); });
    return true;
  }

  // Sends every byte. False when the socket failed, with the reason kept for
  // Describe().
  bool Send(std::string_view bytes) {
    while (!bytes.empty()) {
      const long sent = SendSome(socket_.get(), bytes.data(), bytes.size());
      if (sent <= 0) {
        send_error_ = DescribeSocketError(LastSocketError());
        return false;
      }
      bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
  }

  Next Take(Milliseconds timeout, std::string& line) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, timeout, [this] { return !lines_.empty() || ended_; });
    if (!lines_.empty()) {
      line = std::move(lines_.front());
      lines_.pop_front();
      return Next::Line;
    }
    return ended_ ? Next::Closed : Next::TimedOut;
  }

  // Whether nothing more will arrive: the PC closed, or reading failed.
  bool Ended() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ended_;
  }

  // How the connection ended, with the PC's last line when there was one,
  // since a bye or error there usually says why.
  std::string Describe() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text = !end_reason_.empty() ? end_reason_ : "sending failed: " + send_error_;
    if (!last_line_.empty()) {
      text += "; its last line was " + EscapeForDisplay(last_line_);
    }
    return text;
  }

  // Ends the connection from this side and joins the reader. Lines already
  // queued stay readable.
  void Close() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closing_ = true;
    }
    wake_.Wake();
    if (reader_.joinable()) {
      reader_.join();
    }
    if (socket_.valid()) {
      ShutdownSocket(socket_.get());
      socket_.Reset();
    }
  }

 private:
  void ReadLoop() {
    std::string pending;
    std::size_t scanned = 0;
    std::string reason;
    char buffer[4096];
    for (;;) {
      if (WaitForSocket(socket_.get(), SocketDirection::Read, -1, wake_) != SocketWait::Ready) {
        reason = "the connection was closed from this side";
        break;
      }
      const long received = ReceiveSome(socket_.get(), buffer, sizeof buffer);
      if (received == 0) {
        reason = "the PC closed the connection";
        break;
      }
      if (received < 0) {
        reason = "the connection failed: " + DescribeSocketError(LastSocketError());
        break;
      }
      pending.append(buffer, static_cast<std::size_t>(received));
      std::size_t start = 0;
      for (std::size_t end = pending.find('\n', scanned); end != std::string::npos;
           end = pending.find('\n', start)) {
        Deliver(pending.substr(start, end - start));
        start = end + 1;
      }
      pending.erase(0, start);
      scanned = pending.size();
      if (pending.size() > kMaxLineBytes) {
        reason = "the PC sent over 1 MiB without a line feed";
        break;
      }
    }

    std::lock_guard<std::mutex> lock(mutex_);
    if (!closing_) {
      if (!pending.empty()) {
        transcript_.Write("<", EscapeForDisplay(pending.substr(0, 200)) + "  (no line feed)");
      }
      transcript_.Write("*", reason);
    }
    end_reason_ = std::move(reason);
    ended_ = true;
    changed_.notify_all();
  }

  void Deliver(std::string line) {
    transcript_.Write("<", EscapeForDisplay(line));
    std::lock_guard<std::mutex> lock(mutex_);
    last_line_ = line;
    lines_.push_back(std::move(line));
    changed_.notify_all();
  }

  Socket socket_;
  Transcript& transcript_;
  std::thread reader_;
  std::string send_error_;  // main thread only
  SocketWake wake_;         // ends the reader's wait

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> lines_;
  std::string last_line_;
  std::string end_reason_;
  bool ended_ = false;
  bool closing_ = false;
};

// The phone's part of one connection.
class Phone {
 public:
  Phone(const SimOptions& options, Link& link, Transcript& transcript)
      : options_(options), link_(link), transcript_(transcript), timeout_(options.timeout_ms) {}

  Failure AwaitWelcome() {
    std::string line;
    if (Failure failure = TakeLine("the welcome", line)) {
      return failure;
    }
    ReceivedLine welcome;
    if (!ParseReceivedLine(line, welcome) || welcome.type != "welcome") {
      return "the first line is not a welcome: " + EscapeForDisplay(line);
    }
    const std::string* protocol = welcome.Field("protocol");
    if (protocol == nullptr || *protocol != std::to_string(kProtocolVersion)) {
      return "the PC speaks protocol " + (protocol != nullptr ? *protocol : std::string("(none)")) +
             ", this simulator speaks " + std::to_string(kProtocolVersion);
    }
    const std::string* server = welcome.Field("server");
    const std::string* version = welcome.Field("version");
    server_ = (server != nullptr ? *server : std::string("?")) + " " + (version != nullptr ? *version : "?");
    return std::nullopt;
  }

  Failure Hello() {
    if (!options_.send_hello) {
      return std::nullopt;
    }
    return Send(BuildHello(options_.client, options_.version));
  }

  // The reachability check.
  Failure Check(std::string& summary) {
    const std::int64_t ts = EpochMs();
    const Clock::time_point sent = Clock::now();
    if (Failure failure = Send(BuildPing(ts))) {
      return failure;
    }
    if (Failure failure = Expect("pong", {{"ts", std::to_string(ts)}})) {
      return failure;
    }
    const long long round_trip = ElapsedMs(sent);
    if (Failure failure = Bye()) {
      return failure;
    }
    summary = server_ + " at " + Where() + " answered a ping in " + std::to_string(round_trip) + " ms";
    return std::nullopt;
  }

  Failure Dictate(const std::vector<std::string>& partials, std::string& summary) {
    const Milliseconds interval(options_.interval_ms);
    for (const std::string& partial : partials) {
      if (Failure failure = Send(BuildText(partial))) {
        return failure;
      }
      std::this_thread::sleep_for(interval);
    }
    if (Failure failure = Send(BuildCommit(options_.press_enter))) {
      return failure;
    }
    if (Failure failure = Expect("ack", {{"of", "commit"}})) {
      return failure;
    }
    if (Failure failure = Bye()) {
      return failure;
    }
    summary = server_ + " at " + Where() + " acknowledged the commit after " +
              std::to_string(partials.size()) + (partials.size() == 1 ? " partial" : " partials");
    return std::nullopt;
  }

  Failure RunScript(const std::vector<ScriptStep>& steps, std::string& summary) {
    int expectations = 0;
    bool ended = false;
    for (const ScriptStep& step : steps) {
      Failure failure;
      switch (step.kind) {
        case StepKind::Send:
          failure = Send(step.bytes, step.raw);
          break;
        case StepKind::Ping:
          failure = Send(BuildPing(step.ts.value_or(EpochMs())));
          break;
        case StepKind::Bye:
          failure = Bye();
          ended = true;
          break;
        case StepKind::Sleep:
          std::this_thread::sleep_for(Milliseconds(step.milliseconds));
          break;
        case StepKind::Expect:
          failure = Expect(step.type, step.fields);
          ++expectations;
          break;
        case StepKind::WaitClose:
          failure = AwaitClose();
          ended = true;
          break;
        case StepKind::Close:
          transcript_.Write("*", "closing the connection without bye");
          link_.Close();
          ended = true;
          break;
      }
      if (failure) {
        return "script line " + std::to_string(step.line_number) + " (" + EscapeForDisplay(step.source) +
               "): " + *failure;
      }
    }
    if (!ended) {
      transcript_.Write("*", link_.Ended() ? "end of script" : "end of script, closing the connection");
    }
    summary = "the script ran to its end against " + server_ + " at " + Where() + ", " +
              std::to_string(expectations) + (expectations == 1 ? " expectation" : " expectations") + " met";
    return std::nullopt;
  }

  // A bye or error from the PC that no step asked for means the session did
  // not go as planned, even when every step passed.
  Failure CheckUnexpected() {
    std::string line;
    while (link_.Take(Milliseconds(0), line) == Next::Line) {
      skipped_.push_back(std::move(line));
    }
    for (const std::string& skipped : skipped_) {
      ReceivedLine received;
      if (ParseReceivedLine(skipped, received) && (received.type == "error" || received.type == "bye")) {
        return "the PC sent " + EscapeForDisplay(skipped) + ", which nothing expected";
      }
    }
    return std::nullopt;
  }

 private:
  std::string Where() const { return options_.host + ":" + std::to_string(options_.port); }

  Failure Send(const std::string& bytes, bool raw = false) {
    if (link_.Ended()) {
      return "cannot send: " + link_.Describe();
    }
    transcript_.Write(">", raw ? "raw " + EscapeForDisplay(bytes) : EscapeForDisplay(WithoutLineFeed(bytes)));
    if (!link_.Send(bytes)) {
      return "cannot send: " + link_.Describe();
    }
    return std::nullopt;
  }

  Failure TakeLine(std::string_view what, std::string& line) {
    switch (link_.Take(timeout_, line)) {
      case Next::Line:
        return std::nullopt;
      case Next::Closed:
        return "while waiting for " + std::string(what) + ", " + link_.Describe();
      case Next::TimedOut:
        break;
    }
    return "waited " + std::to_string(timeout_.count()) + " ms for " + std::string(what) + ", nothing came";
  }

  Failure Expect(const std::string& type, const std::vector<ExpectedField>& fields) {
    std::string wanted = type;
    for (const ExpectedField& field : fields) {
      wanted += " " + field.name + "=" + field.value;
    }
    std::string line;
    if (Failure failure = TakeLine(wanted, line)) {
      return failure;
    }
    std::string why;
    if (!MatchesExpectation(line, type, fields, why)) {
      return "expected " + wanted + ", got " + EscapeForDisplay(line) + " (" + why + ")";
    }
    return std::nullopt;
  }

  Failure Bye() {
    if (Failure failure = Send(BuildPhoneBye())) {
      return failure;
    }
    return AwaitClose();
  }

  // Lines that arrive first are kept for CheckUnexpected.
  Failure AwaitClose() {
    const Clock::time_point deadline = Clock::now() + timeout_;
    std::string line;
    for (;;) {
      const auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now());
      switch (link_.Take(left.count() > 0 ? left : Milliseconds(0), line)) {
        case Next::Line:
          skipped_.push_back(std::move(line));
          continue;
        case Next::Closed:
          return std::nullopt;
        case Next::TimedOut:
          break;
      }
      return "the PC did not close the connection within " + std::to_string(timeout_.count()) + " ms";
    }
  }

  const SimOptions& options_;
  Link& link_;
  Transcript& transcript_;
  const Milliseconds timeout_;
  std::string server_ = "the PC";
  std::vector<std::string> skipped_;
};

bool ReadScript(const std::string& path, std::istream& in, std::string& text) {
  if (path == "-") {
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
  }
  // The path arrives as UTF-8 on every platform.
  std::ifstream file(std::filesystem::path(std::u8string(path.begin(), path.end())), std::ios::binary);
  if (!file) {
    return false;
  }
  text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return !file.bad();
}

}  // namespace

int RunPhoneSim(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                std::ostream& err) {
  SimOptions options;
  std::string error;
  if (!ParseSimArguments(args, options, error)) {
    err << "phone_sim: " << error << " (phone_sim --help tells how to use it)\n";
    return kSimUsage;
  }
  if (options.help) {
    out << kPhoneSimUsage;
    return kSimPassed;
  }

  // The whole plan is read and checked before connecting, so a typo never
  // leaves the PC with half a session.
  std::vector<ScriptStep> steps;
  if (options.mode == SimMode::Script) {
    const std::string name = options.script_path == "-" ? "standard input" : options.script_path;
    std::string text;
    if (!ReadScript(options.script_path, in, text)) {
      err << "phone_sim: cannot read the script from " << name << "\n";
      return kSimUsage;
    }
    if (!ParseScript(text, steps, error)) {
      err << "phone_sim: " << name << ": " << error << "\n";
      return kSimUsage;
    }
  }
  const std::vector<std::string> partials = GrowingPartials(options.sentence);

  const std::string where = options.host + ":" + std::to_string(options.port);
  if (!EnsureWinsock()) {
    err << "phone_sim: FAILED: the socket layer did not start\n";
    return kSimUsage;
  }
  Socket socket(OpenTcpSocket());
  if (!socket.valid()) {
    err << "phone_sim: FAILED: no socket: " << DescribeSocketError(LastSocketError()) << "\n";
    return kSimUsage;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(options.port);
  std::memcpy(&address.sin_addr, options.address.data(), options.address.size());
  if (const int failed = ConnectWithTimeout(socket.get(), address, options.timeout_ms); failed != 0) {
    err << "phone_sim: FAILED: cannot connect to " << where << ": " << DescribeSocketError(failed) << "\n";
    return kSimUsage;
  }

  Transcript transcript(out);
  transcript.Write("*", "connected to " + where);
  Link link(std::move(socket), transcript);
  if (!link.Start()) {
    err << "phone_sim: FAILED: no socket: " << DescribeSocketError(LastSocketError()) << "\n";
    return kSimUsage;
  }
  Phone phone(options, link, transcript);

  std::string summary;
  Failure failure = phone.AwaitWelcome();
  if (!failure) {
    failure = phone.Hello();
  }
  if (!failure) {
    switch (options.mode) {
      case SimMode::Check:
        failure = phone.Check(summary);
        break;
      case SimMode::Script:
        failure = phone.RunScript(steps, summary);
        break;
      case SimMode::Dictate:
        failure = phone.Dictate(partials, summary);
        break;
    }
  }
  link.Close();
  if (!failure) {
    failure = phone.CheckUnexpected();
  }

  if (failure) {
    err << "phone_sim: FAILED: " << *failure << "\n";
    return kSimFailed;
  }
  err << "phone_sim: OK: " << summary << "\n";
  return kSimPassed;
}

}  // namespace lumora
