#include "core/phone_gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "log/log.h"

namespace lumora {
namespace {

constexpr std::uint32_t Ip(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  return a << 24 | b << 16 | c << 8 | d;
}

PhoneHello Hello(std::string client, std::uint32_t address, std::string hardware = "") {
  PhoneHello hello;
  hello.client = std::move(client);
  hello.address = address;
  hello.hardware_address = std::move(hardware);
  return hello;
}

const KnownPhone kPixel{"Pixel 8", "aa:bb:cc:dd:ee:01", "192.168.1.23"};
const KnownPhone kNoHardware{"Mi 13", "", "10.0.0.7"};

TEST(PhoneGateTest, AdmissionTable) {
  struct Case {
    const char* name;
    bool confirm;
    PhoneHello hello;
    Admission expected;
  };
  const Case cases[] = {
      {"asking is off", false, Hello("stranger", Ip(192, 168, 1, 99)), Admission::Serve},
      {"known phone", true, Hello("Pixel 8", Ip(192, 168, 1, 23), "aa:bb:cc:dd:ee:01"), Admission::Serve},
      {"known phone at a new address", true, Hello("Pixel 8", Ip(192, 168, 1, 50), "aa:bb:cc:dd:ee:01"),
       Admission::Serve},
      {"its address, another device", true, Hello("Pixel 8", Ip(192, 168, 1, 23), "aa:bb:cc:dd:ee:02"),
       Admission::Hold},
      {"its hardware, another name", true, Hello("Pixel 9", Ip(192, 168, 1, 23), "aa:bb:cc:dd:ee:01"),
       Admission::Hold},
      {"known without hardware, same address", true, Hello("Mi 13", Ip(10, 0, 0, 7), "aa:bb:cc:dd:ee:77"),
       Admission::Serve},
      {"known without hardware, other address", true, Hello("Mi 13", Ip(10, 0, 0, 8)), Admission::Hold},
      {"hardware unknown now, same address", true, Hello("Pixel 8", Ip(192, 168, 1, 23)), Admission::Serve},
      {"stranger", true, Hello("stranger", Ip(192, 168, 1, 99)), Admission::Hold},
      {"no name", true, Hello("", Ip(192, 168, 1, 23), "aa:bb:cc:dd:ee:01"), Admission::Hold},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PhoneGate gate(nullptr);
    AppConfig config;
    config.confirm_new_phones = c.confirm;
    config.known_phones = {kPixel, kNoHardware};
    gate.Configure(config);
    // The same answer when the settings change under a connected phone.
    EXPECT_EQ(gate.Review(c.hello), c.expected);
    EXPECT_EQ(gate.Admit(c.hello), c.expected);
  }
}

// One gate through a timeline: each step is a hello at a time, in seconds.
TEST(PhoneGateTest, AnUnknownDeviceThatKeepsAskingIsRefusedForAWhile) {
  std::error_code ec;
  std::filesystem::remove(LogDirectory() / kLogFileName, ec);
  using std::chrono::seconds;
  std::chrono::steady_clock::time_point now{};
  PhoneGate gate(nullptr, [&now] { return now; });
  AppConfig config;
  config.known_phones = {kPixel};
  gate.Configure(config);

  const PhoneHello stranger = Hello("stranger", Ip(192, 168, 1, 23));  // behind the Pixel's address
  struct Step {
    int at;
    const char* what;
    PhoneHello hello;
    Admission expected;
  };
  const Step steps[] = {
      {0, "first knock", stranger, Admission::Hold},
      {10, "second knock", stranger, Admission::Hold},
      {20, "third within a minute", stranger, Admission::Refuse},
      {21, "the known phone at that address", Hello("Pixel 8", Ip(192, 168, 1, 23), "aa:bb:cc:dd:ee:01"),
       Admission::Serve},
      {22, "another address", Hello("stranger", Ip(192, 168, 1, 50)), Admission::Hold},
      {25, "another name at that address", Hello("other", Ip(192, 168, 1, 23)), Admission::Refuse},
      {619, "still within the pause", stranger, Admission::Refuse},
      {620, "the pause is over", stranger, Admission::Hold},
      {681, "slow knocks are asked about", stranger, Admission::Hold},
      {742, "slow knocks are asked about", stranger, Admission::Hold},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    now = std::chrono::steady_clock::time_point{} + seconds(step.at);
    EXPECT_EQ(gate.Admit(step.hello), step.expected);
  }
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(gate.Review(Hello("stranger", Ip(192, 168, 1, 77))), Admission::Hold)
        << "review counts nothing";
  }
  EXPECT_EQ(gate.Admit(Hello("stranger", Ip(192, 168, 1, 77))), Admission::Hold);

  std::ifstream in(LogDirectory() / kLogFileName, std::ios::binary);
  const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t count = 0;
  for (std::size_t at = log.find("PhoneGate: 192.168.1.23 asked"); at != std::string::npos;
       at = log.find("PhoneGate: 192.168.1.23 asked", at + 1)) {
    ++count;
  }
  EXPECT_EQ(count, 1u) << log;
  EXPECT_EQ(log.find("stranger"), std::string::npos) << "the log names addresses, not what a device says";
}

TEST(PhoneGateTest, OwnSubnetsAreAskedOnlyForSourcesOutsideThePrivateRanges) {
  std::atomic<int> asked{0};
  PhoneGate gate([&asked] {
    ++asked;
    return std::vector<Ipv4Subnet>{{Ip(141, 30, 0, 0), 16}};
  });
  EXPECT_TRUE(gate.AcceptSource(Ip(192, 168, 0, 5)));
  EXPECT_TRUE(gate.AcceptSource(Ip(127, 0, 0, 1)));
  EXPECT_EQ(asked.load(), 0);
  EXPECT_TRUE(gate.AcceptSource(Ip(141, 30, 7, 9))) << "a campus LAN with public addresses";
  EXPECT_FALSE(gate.AcceptSource(Ip(141, 31, 7, 9)));
  EXPECT_FALSE(gate.AcceptSource(Ip(8, 8, 8, 8)));
  EXPECT_EQ(asked.load(), 3);
  EXPECT_FALSE(PhoneGate(nullptr).AcceptSource(Ip(8, 8, 8, 8)));
}

TEST(PhoneGateTest, RememberingReplacesTheSamePhoneAndKeepsTheNewest) {
  std::vector<KnownPhone> known = {kPixel, kNoHardware};
  RememberPhone(known, KnownPhone{"Pixel 8", "aa:bb:cc:dd:ee:01", "192.168.1.60"});
  ASSERT_EQ(known.size(), 2u);
  EXPECT_EQ(known[0], kNoHardware);
  EXPECT_EQ(known[1].address, "192.168.1.60");

  for (std::size_t i = 0; i < kMaxKnownPhones + 3; ++i) {
    RememberPhone(known, KnownPhone{"phone " + std::to_string(i), "", "10.1.0.1"});
  }
  ASSERT_EQ(known.size(), kMaxKnownPhones);
  EXPECT_EQ(known.front().name, "phone 3");
  EXPECT_EQ(known.back().name, "phone " + std::to_string(kMaxKnownPhones + 2));
}

TEST(PhoneGateTest, IdentityIsWhatTheSettingsFileKeeps) {
  const KnownPhone identity =
      IdentifyPhone(Hello(std::string(300, 'x'), Ip(192, 168, 1, 2), "aa:bb:cc:dd:ee:ff"));
  EXPECT_EQ(identity.name.size(), kMaxPhoneNameBytes);
  // As the settings file gives it back: invalid UTF-8 replaced, not kept.
  EXPECT_EQ(IdentifyPhone(Hello("a\xFF", 1)).name, "a\xEF\xBF\xBD");
  EXPECT_EQ(identity.address, "192.168.1.2");
  EXPECT_EQ(identity.hardware_address, "aa:bb:cc:dd:ee:ff");
}

}  // namespace
}  // namespace lumora
