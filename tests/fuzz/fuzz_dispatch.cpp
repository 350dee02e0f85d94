// Feeds arbitrary byte streams through the connection's framing and dispatch,
// whole and cut into pieces, and checks that the cut never matters and that
// every reply is one whole line. This is the suite's one check that cutting
// never changes the outcome; its seeds (corpus/dispatch) hold the lines a
// phone sends, well-formed and not, for it to cut and recombine. A phone that
// waits for the user's consent goes through the same framing: it must end where
// a served phone would, and nothing it says may get through or be acked.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "net/server.h"

namespace {

void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

struct Outcome {
  std::vector<std::string> trace;
  bool ended = false;
  std::string left;
};

Outcome Feed(std::string_view stream, std::uint8_t cut_seed,
             lumora::DispatchMode mode = lumora::DispatchMode::Serve) {
  Outcome out;
  lumora::ServerCallbacks callbacks;
  callbacks.OnClientConnected = [](const std::string&) { Check(false); };
  callbacks.OnText = [&](const std::string& c) { out.trace.push_back("t" + c); };
  callbacks.OnCommit = [&](bool e) { out.trace.push_back(e ? "c1" : "c0"); };
  callbacks.OnClear = [&] { out.trace.push_back("x"); };
  callbacks.OnKey = [&](const std::string& n) {
    Check(!n.empty());
    out.trace.push_back("k" + n);
  };
  callbacks.OnError = [&](const std::string& c, const std::string& m) {
    Check(c == "bad_frame");
    out.trace.push_back("e" + m);
  };
  const auto send = [&](std::string_view line) {
    Check(!line.empty() && line.back() == '\n' && line.find('\n') == line.size() - 1);
    out.trace.push_back("r" + std::string(line));
  };

  std::string buffer;
  std::size_t at = 0;
  std::uint32_t state = cut_seed;
  while (at < stream.size()) {
    // Piece sizes from a tiny generator: 0 means "all that is left".
    state = state * 1103515245u + 12345u;
    std::size_t piece = cut_seed == 0 ? stream.size() : 1 + (state >> 16) % 64;
    piece = std::min(piece, stream.size() - at);
    buffer.append(stream.substr(at, piece));
    at += piece;
    if (!lumora::DispatchLines(buffer, callbacks, send, mode)) {
      out.ended = true;
      return out;
    }
    Check(buffer.find('\n') == std::string::npos);
  }
  out.left = buffer;
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::string_view stream(reinterpret_cast<const char*>(data) + 1, size - 1);
  const Outcome whole = Feed(stream, 0);
  const Outcome cut = Feed(stream, static_cast<std::uint8_t>(data[0] | 1));
  Check(whole.trace == cut.trace);
  Check(whole.ended == cut.ended);
  Check(whole.left == cut.left);
  // Held: what a served phone would get, less everything it says and the acks.
  const Outcome held = Feed(stream, static_cast<std::uint8_t>(data[0] | 1), lumora::DispatchMode::Hold);
  std::vector<std::string> expected;
  for (const std::string& event : whole.trace) {
    if (event[0] == 'e' || (event[0] == 'r' && event.find("\"ack\"") == std::string::npos)) {
      expected.push_back(event);
    }
  }
  Check(held.trace == expected);
  Check(held.ended == whole.ended);
  Check(held.left == whole.left);
  // A rejected line is answered with its error and then bye, last.
  for (std::size_t i = 0; i < whole.trace.size(); ++i) {
    if (whole.trace[i][0] == 'e') {
      Check(whole.ended && i + 3 == whole.trace.size());
      Check(whole.trace.back() == "r{\"type\":\"bye\",\"reason\":\"protocol_error\"}\n");
    }
  }
  return 0;
}
