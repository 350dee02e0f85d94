#include "tools/phone_sim/text.h"

#include "base/utf8.h"

namespace lumora {

bool IsValidUtf8(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t length = Utf8SequenceLength(text, pos);
    if (length == 0) {
      return false;
    }
    pos += length;
  }
  return true;
}

std::vector<std::string> GrowingPartials(std::string_view sentence) {
  std::size_t begin = 0;
  std::size_t end = sentence.size();
  while (begin < end && IsBlank(sentence[begin])) {
    ++begin;
  }
  while (end > begin && IsBlank(sentence[end - 1])) {
    --end;
  }
  const std::string_view text = sentence.substr(begin, end - begin);

  std::vector<std::string> partials;
  const bool has_blank = text.find_first_of(" \t") != std::string_view::npos;
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (has_blank) {
      while (pos < text.size() && IsBlank(text[pos])) {
        ++pos;
      }
      while (pos < text.size() && !IsBlank(text[pos])) {
        ++pos;
      }
    } else {
      // A byte that starts no sequence still moves on by one, so bad input
      // cannot stall the loop.
      const std::size_t length = Utf8SequenceLength(text, pos);
      pos += length == 0 ? 1 : length;
    }
    partials.emplace_back(text.substr(0, pos));
  }
  return partials;
}

std::string EscapeForDisplay(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string shown;
  shown.reserve(bytes.size());
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const auto c = static_cast<unsigned char>(bytes[pos]);
    const std::size_t length = Utf8SequenceLength(bytes, pos);
    if (c == '\n') {
      shown += "\\n";
    } else if (c == '\r') {
      shown += "\\r";
    } else if (c == '\t') {
      shown += "\\t";
    } else if (length == 0 || c < 0x20 || c == 0x7F) {
      shown += "\\x";
      shown += kHex[c >> 4];
      shown += kHex[c & 0x0F];
    } else {
      shown.append(bytes.substr(pos, length));
      pos += length;
      continue;
    }
    ++pos;
  }
  return shown;
}

}  // namespace lumora
