#pragma once

// Typing any character on X11 through keycodes the keyboard does not use:
// for the moment of the press, a spare keycode is mapped to the character's
// keysym. X gives no acknowledgement that a client has seen a new mapping,
// and a client reads the keymap as it is when it handles the press, so a
// keycode that was pressed is never mapped anew (or given back) until a
// cooldown since that press has passed. The plan below keeps to that rule;
// the X half carries it out. Portable, so that the rule is checked without an
// X server and without waiting.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace lumora {

// The keysym X gives `code_point`: Latin-1 printable characters are their own
// keysyms, every other Unicode character 0x01000000 plus its code point. 0 for
// what no keysym types: control characters, surrogates, beyond U+10FFFF.
std::uint32_t KeysymForCodePoint(char32_t code_point);

// True for what certainly has no case, so that Caps Lock cannot change it
// when a client looks its keysym up: ASCII other than letters, CJK
// characters and punctuation, kana, Hangul, general punctuation, emoji.
// False for the rest, the letters of every script among them.
bool CapsLockCannotChange(char32_t code_point);

// The keysyms a keycode is mapped to, and the presses that type a run of
// them, in order. The remaps come first and may wait: none of them before
// `not_before`.
struct KeyChunk {
  using TimePoint = std::chrono::steady_clock::time_point;
  std::vector<std::pair<std::uint8_t, std::uint32_t>> remaps;  // keycode, keysym
  std::vector<std::uint8_t> presses;                           // keycodes
  TimePoint not_before{};
  std::size_t consumed = 0;  // keysyms of the text this chunk types
};

// Which spare keycode holds which keysym, and when each was last pressed.
// Mappings are kept between texts (a character typed again needs no remap)
// and handed back after a while without presses. One thread.
class KeymapPlan {
 public:
  using TimePoint = KeyChunk::TimePoint;

  // `spare`: keycodes with no keysym of their own, free for us. `cooldown`:
  // how long after its press a keycode keeps its mapping.
  KeymapPlan(std::vector<std::uint8_t> spare, std::chrono::milliseconds cooldown);

  // The next chunk of `keysyms` (none 0): as many as the spare keycodes can
  // type without mapping one anew within the chunk. Records the chunk's
  // remaps; the caller carries it out and then calls Typed. Empty (nothing
  // consumed) only when `keysyms` is empty or there is no spare keycode.
  KeyChunk NextChunk(std::u32string_view keysyms, TimePoint now);
  // The chunk's presses were made, the last of them at `at`.
  void Typed(const KeyChunk& chunk, TimePoint at);
  // The keycodes to give back now, pressed last at least `idle` ago (and no
  // sooner than the cooldown); they count as unmapped from here on.
  std::vector<std::uint8_t> TakeIdle(TimePoint now, std::chrono::milliseconds idle);
  // Every keycode still mapped, for the end: they are given back at once
  // (the caller waits the cooldown first). They count as unmapped afterwards.
  std::vector<std::uint8_t> TakeAll();

 private:
  struct Slot {
    std::uint8_t keycode = 0;
    std::uint32_t keysym = 0;  // 0: unmapped
    TimePoint last_press{};
    bool pressed = false;  // ever, since it was mapped
  };
  std::vector<Slot> slots_;
  std::chrono::milliseconds cooldown_;
};

}  // namespace lumora
