// The network list and the firewall as this Windows (or Wine) answers them:
// the queries must run and give facts that hang together, whatever the
// system does or does not implement.

#include <objbase.h>
#include <shellapi.h>
#include <winsock2.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "base/win32_util_win.h"
#include "net/addresses.h"
#include "net/reachability.h"

namespace lumora {
namespace {

constexpr unsigned kPort = 47823;

// The id of the first adapter that is not loopback, as the address list
// hands it on; empty when there is none.
std::string FirstAdapterId() {
  std::vector<AdapterAddresses> adapters;
  detail::ListAdapters(adapters);
  for (const AdapterAddresses& adapter : adapters) {
    if (!adapter.loopback) {
      return adapter.id;
    }
  }
  return {};
}

std::string OwnPath() { return WideToUtf8(ModulePath()); }

TEST(QueryReachabilityWinTest, FactsHangTogether) {
  const std::string first = FirstAdapterId();
  const struct {
    const char* what;
    std::string adapter_id;
    bool known_adapter;
  } cases[] = {
      {"the first adapter", first, !first.empty()},
      {"an adapter nobody has", "{00000000-0000-0000-0000-000000000000}", false},
      {"no adapter", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ReachabilityFacts facts = QueryReachability(c.adapter_id, OwnPath(), kPort);
    // What this system answered, for the record of what Wine implements.
    std::printf(
        "%s [%s]: category %d name \"%s\" known %d on %d block-all %d blocked-by-default %d rule %d\n",
        c.what, c.adapter_id.c_str(), static_cast<int>(facts.category), facts.network_name.c_str(),
        facts.firewall_known, facts.firewall_on, facts.blocks_all_inbound, facts.inbound_blocked_by_default,
        static_cast<int>(facts.rule));
    if (!c.known_adapter) {
      EXPECT_TRUE(facts.network_name.empty());
    }
    if (!facts.firewall_known) {
      EXPECT_FALSE(facts.firewall_on);
    }
    if (!facts.firewall_on) {
      // Nothing more was read, so nothing more may be claimed.
      EXPECT_FALSE(facts.blocks_all_inbound);
      EXPECT_EQ(facts.rule, RuleCover::Unknown);
    }
  }
}

// The query joins the caller's COM apartment or makes one for itself, and
// leaves the thread exactly as it found it either way.
TEST(QueryReachabilityWinTest, LeavesTheThreadsApartmentAsItFound) {
  const struct {
    const char* what;
    bool has_apartment;
    DWORD model;
  } cases[] = {
      {"no apartment", false, COINIT_APARTMENTTHREADED},
      {"single-threaded", true, COINIT_APARTMENTTHREADED},
      {"multithreaded", true, COINIT_MULTITHREADED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    HRESULT before = E_FAIL;
    HRESULT during = E_FAIL;
    HRESULT after = E_FAIL;
    std::thread thread([&] {
      if (c.has_apartment) {
        before = CoInitializeEx(nullptr, c.model);
      }
      QueryReachability(FirstAdapterId(), OwnPath(), kPort);
      // S_FALSE: the caller's apartment is still there; S_OK: there was none
      // left behind.
      during = CoInitializeEx(nullptr, c.model);
      if (SUCCEEDED(during)) {
        CoUninitialize();
      }
      if (c.has_apartment && SUCCEEDED(before)) {
        CoUninitialize();
      }
      after = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      if (SUCCEEDED(after)) {
        CoUninitialize();
      }
    });
    thread.join();
    if (c.has_apartment) {
      EXPECT_EQ(before, S_OK);
    }
    EXPECT_EQ(during, c.has_apartment ? S_FALSE : S_OK);
    EXPECT_EQ(after, S_OK);
  }
}

// netsh reads its command line as Windows splits one: the quoted program
// path with spaces and Chinese must come through as one argument.
TEST(FirewallRuleArgumentsWinTest, SplitsIntoNetshsArguments) {
  const std::string path = "C:\\Program Files\\语音 输入\\LumoraVoiceInput.exe";
  const std::string arguments = FirewallRuleArguments(path);
  ASSERT_FALSE(arguments.empty());
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(Utf8ToWide("netsh.exe " + arguments).c_str(), &count);
  ASSERT_NE(argv, nullptr);
  std::vector<std::wstring> split(argv, argv + count);
  LocalFree(argv);
  ASSERT_EQ(split.size(), 12u);  // netsh.exe and eleven words
  EXPECT_EQ(split[5], L"name=Lumora语音输入");
  EXPECT_EQ(split[8], L"program=" + Utf8ToWide(path));
  EXPECT_EQ(split[11], L"enable=yes");
}

}  // namespace
}  // namespace lumora
