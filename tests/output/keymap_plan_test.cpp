#include "output/keymap_plan.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace lumora {
namespace {

using std::chrono::milliseconds;
using Remaps = std::vector<std::pair<std::uint8_t, std::uint32_t>>;
using Keycodes = std::vector<std::uint8_t>;

TEST(KeysymForCodePointTest, Table) {
  const std::pair<char32_t, std::uint32_t> cases[] = {
      {U'a', 0x61},
      {U' ', 0x20},
      {U'~', 0x7E},
      {U'é', 0xE9},
      {U'中', 0x01004E2D},
      {U'，', 0x0100FF0C},
      {U'€', 0x010020AC},
      {U'\U0001F600', 0x0101F600},
      {U'\U0010FFFF', 0x0110FFFF},
      {U'\n', 0},
      {U'\t', 0},
      {0x7F, 0},
      {0x9F, 0},
      {0xD800, 0},
      {0x110000, 0},
  };
  for (const auto& [code_point, keysym] : cases) {
    EXPECT_EQ(KeysymForCodePoint(code_point), keysym) << std::hex << static_cast<std::uint32_t>(code_point);
  }
}

TEST(CapsLockCannotChangeTest, Table) {
  const std::pair<char32_t, bool> cases[] = {
      {U'中', true}, {U'，', true}, {U'。', true},  {U'…', true},   {U'？', true}, {U'\U0001F600', true},
      {U'7', true},  {U' ', true},  {U'!', true},   {U'a', false},  {U'Z', false}, {U'é', false},
      {U'Ω', false}, {U'д', false}, {U'Ａ', false}, {U'ａ', false},
  };
  for (const auto& [code_point, caseless] : cases) {
    EXPECT_EQ(CapsLockCannotChange(code_point), caseless)
        << std::hex << static_cast<std::uint32_t>(code_point);
  }
}

// Steps of one plan on three spare keycodes, 30 ms cooldown: each text is
// planned at `at` ms and typed at once, chunk by chunk, each chunk's presses
// done at the later of `at` and its not_before.
TEST(KeymapPlanTest, NoKeycodeIsMappedAnewWithinItsCooldown) {
  struct Step {
    const char* what;
    int at;
    std::u32string text;
    std::vector<Remaps> remaps;  // per chunk
    std::vector<Keycodes> presses;
    std::vector<int> not_before;  // per chunk, ms
  };
  const Step steps[] = {
      {"a repeated keysym uses one keycode", 0, U"aba", {{{8, 'a'}, {9, 'b'}}}, {{8, 9, 8}}, {0}},
      {"a keysym already mapped needs no remap, a new one takes the free keycode",
       10,
       U"bc",
       {{{10, 'c'}}},
       {{9, 10}},
       {10}},
      {"all mapped: the oldest press goes first, after its cooldown", 15, U"d", {{{8, 'd'}}}, {{8}}, {30}},
      {"more keysyms than keycodes: the next chunk waits for the first's presses",
       40,
       U"efgh",
       {{{9, 'e'}, {10, 'f'}, {8, 'g'}}, {{8, 'h'}}},
       {{9, 10, 8}, {8}},
       {60, 90}},
  };
  const auto t0 = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
  KeymapPlan plan({8, 9, 10}, milliseconds(30));
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    std::u32string_view rest = step.text;
    auto now = t0 + milliseconds(step.at);
    std::size_t chunks = 0;
    while (!rest.empty()) {
      const KeyChunk chunk = plan.NextChunk(rest, now);
      ASSERT_LT(chunks, step.remaps.size());
      EXPECT_EQ(chunk.remaps, step.remaps[chunks]);
      EXPECT_EQ(chunk.presses, step.presses[chunks]);
      EXPECT_EQ(chunk.not_before, t0 + milliseconds(step.not_before[chunks]));
      ASSERT_GT(chunk.consumed, 0u);
      now = std::max(now, chunk.not_before);
      plan.Typed(chunk, now);
      rest.remove_prefix(chunk.consumed);
      ++chunks;
    }
    EXPECT_EQ(chunks, step.remaps.size());
  }
  // Given back once idle for as long as asked (9 and 10 were pressed last at
  // 60 ms, 8 at 90 ms), and never before the cooldown, however short that is.
  EXPECT_EQ(plan.TakeIdle(t0 + milliseconds(119), milliseconds(0)), (Keycodes{9, 10}));
  EXPECT_EQ(plan.TakeIdle(t0 + milliseconds(1089), milliseconds(1000)), Keycodes{});
  EXPECT_EQ(plan.TakeIdle(t0 + milliseconds(1090), milliseconds(1000)), Keycodes{8});
  EXPECT_EQ(plan.TakeAll(), Keycodes{});
  // Unmapped now: the same keysym is mapped again.
  EXPECT_EQ(plan.NextChunk(U"a", t0 + milliseconds(2000)).remaps, (Remaps{{8, 'a'}}));
  EXPECT_EQ(plan.TakeAll(), Keycodes{8});
}

TEST(KeymapPlanTest, WithoutSpareKeycodesNothingIsPlanned) {
  KeymapPlan plan({}, milliseconds(30));
  EXPECT_EQ(plan.NextChunk(U"a", std::chrono::steady_clock::now()).consumed, 0u);
}

}  // namespace
}  // namespace lumora
