#include "tools/phone_sim/text.h"

namespace lumora {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool InRange(unsigned char c, unsigned char low, unsigned char high) { return c >= low && c <= high; }

}  // namespace

std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos) {
  if (pos >= text.size()) {
    return 0;
  }
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
  const std::size_t left = text.size() - pos;
  const unsigned char lead = byte(0);
  if (lead < 0x80) {
    return 1;
  }
  // The second byte's range is what rules out overlong forms, surrogates and
  // code points past U+10FFFF.
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (InRange(lead, 0xC2, 0xDF)) {
    length = 2;
  } else if (InRange(lead, 0xE0, 0xEF)) {
    length = 3;
    if (lead == 0xE0) {
      low = 0xA0;
    } else if (lead == 0xED) {
      high = 0x9F;
    }
  } else if (InRange(lead, 0xF0, 0xF4)) {
    length = 4;
    if (lead == 0xF0) {
      low = 0x90;
    } else if (lead == 0xF4) {
      high = 0x8F;
    }
  } else {
    return 0;
  }
  if (left < length || !InRange(byte(1), low, high)) {
    return 0;
  }
  for (std::size_t i = 2; i < length; ++i) {
    if (!InRange(byte(i), 0x80, 0xBF)) {
      return 0;
    }
  }
  return length;
}

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
