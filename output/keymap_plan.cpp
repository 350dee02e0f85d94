#include "output/keymap_plan.h"

#include <algorithm>
#include <utility>

namespace lumora {

std::uint32_t KeysymForCodePoint(char32_t code_point) {
  const auto value = static_cast<std::uint32_t>(code_point);
  // Control characters type nothing as keysyms: Enter and Backspace are
  // keys of their own, and the rest must not turn into them.
  if (value < 0x20 || (value >= 0x7F && value < 0xA0) || (value >= 0xD800 && value < 0xE000) ||
      value > 0x10FFFF) {
    return 0;
  }
  // Latin-1's keysyms are the characters themselves; X defines every other
  // Unicode character's keysym as its code point with 0x01000000 set.
  return value <= 0xFF ? value : 0x01000000 | value;
}

bool CapsLockCannotChange(char32_t c) {
  if (c < 0x80) {
    return !((c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z'));
  }
  const std::pair<char32_t, char32_t> caseless[] = {
      {0x2000, 0x206F},    // general punctuation: dashes, quotes, the ellipsis
      {0x3000, 0x9FFF},    // CJK punctuation, kana, Bopomofo, CJK characters
      {0xAC00, 0xD7A3},    // Hangul syllables
      {0xF900, 0xFAFF},    // CJK compatibility characters
      {0xFF01, 0xFF20},    // full-width punctuation and digits (not its letters)
      {0x1F000, 0x1FAFF},  // emoji and pictographs
      {0x20000, 0x3FFFF},  // the rarer CJK characters
  };
  for (const auto& [first, last] : caseless) {
    if (c >= first && c <= last) {
      return true;
    }
  }
  return false;
}

KeymapPlan::KeymapPlan(std::vector<std::uint8_t> spare, std::chrono::milliseconds cooldown)
    : cooldown_(cooldown) {
  for (const std::uint8_t keycode : spare) {
    Slot slot;
    slot.keycode = keycode;
    slots_.push_back(slot);
  }
}

KeyChunk KeymapPlan::NextChunk(std::u32string_view keysyms, TimePoint now) {
  KeyChunk chunk;
  chunk.not_before = now;
  // A keycode this chunk presses keeps its keysym to the chunk's end: the
  // target may read the keymap for that press at any time until then.
  std::vector<bool> pressed_here(slots_.size(), false);
  for (const char32_t keysym : keysyms) {
    std::size_t index = slots_.size();
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      if (slots_[i].keysym == keysym) {
        index = i;
        break;
      }
    }
    if (index == slots_.size()) {
      // An unmapped keycode first; else the one whose last press is oldest,
      // since its cooldown is the first to pass.
      const auto sooner_free = [](const Slot& a, const Slot& b) {
        const auto rank = [](const Slot& slot) { return slot.keysym == 0 ? 0 : slot.pressed ? 2 : 1; };
        return rank(a) != rank(b) ? rank(a) < rank(b) : rank(a) == 2 && a.last_press < b.last_press;
      };
      for (std::size_t i = 0; i < slots_.size(); ++i) {
        if (!pressed_here[i] && (index == slots_.size() || sooner_free(slots_[i], slots_[index]))) {
          index = i;
        }
      }
      if (index == slots_.size()) {
        break;  // every keycode is pressed in this chunk: the next one maps anew
      }
      Slot& slot = slots_[index];
      if (slot.pressed) {
        chunk.not_before = std::max(chunk.not_before, slot.last_press + cooldown_);
      }
      slot.keysym = static_cast<std::uint32_t>(keysym);
      slot.pressed = false;
      chunk.remaps.emplace_back(slot.keycode, slot.keysym);
    }
    pressed_here[index] = true;
    chunk.presses.push_back(slots_[index].keycode);
    ++chunk.consumed;
  }
  return chunk;
}

void KeymapPlan::Typed(const KeyChunk& chunk, TimePoint at) {
  for (const std::uint8_t keycode : chunk.presses) {
    for (Slot& slot : slots_) {
      if (slot.keycode == keycode) {
        slot.last_press = at;
        slot.pressed = true;
      }
    }
  }
}

std::vector<std::uint8_t> KeymapPlan::TakeIdle(TimePoint now, std::chrono::milliseconds idle) {
  const std::chrono::milliseconds wait = std::max(idle, cooldown_);
  std::vector<std::uint8_t> idle_keycodes;
  for (Slot& slot : slots_) {
    // A mapping never pressed (a chunk that was not typed) was read by
    // nobody: it goes once the cooldown of the keycode's last press is over.
    if (slot.keysym != 0 && now - slot.last_press >= (slot.pressed ? wait : cooldown_)) {
      idle_keycodes.push_back(slot.keycode);
      slot.keysym = 0;
      slot.pressed = false;
    }
  }
  return idle_keycodes;
}

std::vector<std::uint8_t> KeymapPlan::TakeAll() {
  std::vector<std::uint8_t> mapped;
  for (Slot& slot : slots_) {
    if (slot.keysym != 0) {
      mapped.push_back(slot.keycode);
      slot.keysym = 0;
      slot.pressed = false;
    }
  }
  return mapped;
}

}  // namespace lumora
