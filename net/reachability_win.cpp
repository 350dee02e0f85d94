#include <windows.h>

#include <netfw.h>
#include <netlistmgr.h>
#include <oaidl.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/scoped_win.h"
#include "base/win32_util_win.h"
#include "log/log.h"
#include "net/reachability.h"

namespace lumora {
namespace {

// Bounds on the enumerators, so that a broken one that never says "end"
// gives an unknown answer instead of a hang.
constexpr int kMaxConnections = 1024;
constexpr int kMaxRules = 100000;

// The COM apartment for one query. A thread without one gets the
// multithreaded apartment for the call (no message loop needed); a thread that
// has one keeps it. Every successful CoInitializeEx (S_FALSE too: already
// initialised the same way) is balanced, and RPC_E_CHANGED_MODE (the thread
// is in a single-threaded apartment) initialised nothing, so it is not.
class ComApartment {
 public:
  ComApartment() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (SUCCEEDED(result_)) {
      CoUninitialize();
    }
  }

  bool usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }
  HRESULT result() const { return result_; }

 private:
  HRESULT result_;
};

// A string a COM getter handed over, freed with SysFreeString.
class ScopedBstr {
 public:
  ScopedBstr() = default;
  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;
  ~ScopedBstr() { SysFreeString(text_); }

  // For out-parameters; frees what was held first.
  BSTR* Receive() {
    SysFreeString(text_);
    text_ = nullptr;
    return &text_;
  }
  // A null BSTR is the empty string.
  std::wstring Text() const {
    return text_ == nullptr ? std::wstring() : std::wstring(text_, SysStringLen(text_));
  }

 private:
  BSTR text_ = nullptr;
};

// A VARIANT an enumerator filled, cleared with VariantClear (which releases
// the object it holds).
class ScopedVariant {
 public:
  ScopedVariant() { VariantInit(&value_); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  ~ScopedVariant() { VariantClear(&value_); }

  VARIANT* Receive() {
    VariantClear(&value_);
    return &value_;
  }
  const VARIANT& get() const { return value_; }

 private:
  VARIANT value_;
};

// Rules name programs as "%ProgramFiles%\..." or "%SystemRoot%\...": compared
// with this program's path only once expanded. Unexpandable text stays as it
// is (and then matches no real path).
std::wstring ExpandEnvironment(const std::wstring& text) {
  if (text.find(L'%') == std::wstring::npos) {
    return text;
  }
  const DWORD size = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  if (size == 0) {
    return text;
  }
  std::wstring expanded(size, L'\0');
  const DWORD written = ExpandEnvironmentStringsW(text.c_str(), expanded.data(), size);
  if (written == 0 || written > size) {
    return text;
  }
  expanded.resize(written - 1);
  return expanded;
}

// Every unanswered question is logged with the system's code: the user sees
// "cannot check", and the log says why.
bool Failed(std::string_view what, HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
  Log(LogLevel::Warn, "APP", "Reachability: " + std::string(what) + " failed, " + code);
  return false;
}

NetworkCategory FromNlmCategory(NLM_NETWORK_CATEGORY category) {
  switch (category) {
    case NLM_NETWORK_CATEGORY_PUBLIC:
      return NetworkCategory::Public;
    case NLM_NETWORK_CATEGORY_PRIVATE:
      return NetworkCategory::Private;
    case NLM_NETWORK_CATEGORY_DOMAIN_AUTHENTICATED:
      return NetworkCategory::Domain;
  }
  return NetworkCategory::Unknown;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                              TRUE) == CSTR_EQUAL;
}

// One rule's fields. The strings are read only for enabled inbound rules of
// TCP or any protocol: for the others they cannot make the rule cover a TCP
// listener, and some getters fail for protocols without ports.
bool ReadRule(INetFwRule& rule, FirewallRule& out) {
  VARIANT_BOOL enabled = VARIANT_FALSE;
  NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_OUT;
  NET_FW_ACTION action = NET_FW_ACTION_BLOCK;
  LONG protocol = 0;
  LONG profiles = 0;
  HRESULT hr = rule.get_Enabled(&enabled);
  if (FAILED(hr)) {
    return Failed("reading a rule's state", hr);
  }
  if (FAILED(hr = rule.get_Direction(&direction))) {
    return Failed("reading a rule's direction", hr);
  }
  if (FAILED(hr = rule.get_Action(&action))) {
    return Failed("reading a rule's action", hr);
  }
  if (FAILED(hr = rule.get_Protocol(&protocol))) {
    return Failed("reading a rule's protocol", hr);
  }
  if (FAILED(hr = rule.get_Profiles(&profiles))) {
    return Failed("reading a rule's profiles", hr);
  }
  out.enabled = enabled != VARIANT_FALSE;
  out.inbound = direction == NET_FW_RULE_DIR_IN;
  out.allow = action == NET_FW_ACTION_ALLOW;
  out.protocol = static_cast<int>(protocol);
  out.profiles = static_cast<std::uint32_t>(profiles);
  if (!out.enabled || !out.inbound || (protocol != 6 && protocol != 256)) {
    return true;
  }
  ScopedBstr application;
  ScopedBstr service;
  ScopedBstr ports;
  ScopedBstr remote;
  if (FAILED(hr = rule.get_ApplicationName(application.Receive()))) {
    return Failed("reading a rule's program", hr);
  }
  if (FAILED(hr = rule.get_ServiceName(service.Receive()))) {
    return Failed("reading a rule's service", hr);
  }
  if (FAILED(hr = rule.get_LocalPorts(ports.Receive()))) {
    return Failed("reading a rule's local ports", hr);
  }
  if (FAILED(hr = rule.get_RemoteAddresses(remote.Receive()))) {
    return Failed("reading a rule's remote addresses", hr);
  }
  out.application = WideToUtf8(ExpandEnvironment(application.Text()));
  out.service = WideToUtf8(service.Text());
  out.local_ports = WideToUtf8(ports.Text());
  out.remote_addresses = WideToUtf8(remote.Text());
  return true;
}

INetFwPolicy2* CreateFirewallPolicy() {
  INetFwPolicy2* policy = nullptr;
  const HRESULT hr = CoCreateInstance(__uuidof(NetFwPolicy2), nullptr, CLSCTX_INPROC_SERVER,
                                      __uuidof(INetFwPolicy2), reinterpret_cast<void**>(&policy));
  if (FAILED(hr)) {
    Failed("creating the firewall policy", hr);
    return nullptr;
  }
  return policy;
}

// The network list and the firewall policy of Windows. Lives inside a
// ComApartment.
class WindowsReachabilitySource final : public detail::ReachabilitySource {
 public:
  WindowsReachabilitySource() : policy_(CreateFirewallPolicy()) {}

  void ReadNetwork(const std::string& adapter_id, NetworkCategory& category, std::string& name) override {
    if (adapter_id.empty()) {
      return;
    }
    INetworkListManager* raw_manager = nullptr;
    HRESULT hr = CoCreateInstance(__uuidof(NetworkListManager), nullptr, CLSCTX_ALL,
                                  __uuidof(INetworkListManager), reinterpret_cast<void**>(&raw_manager));
    const ScopedComPtr<INetworkListManager> manager(raw_manager);
    if (FAILED(hr) || manager.get() == nullptr) {
      Failed("creating the network list", hr);
      return;
    }
    IEnumNetworkConnections* raw_connections = nullptr;
    hr = manager.get()->GetNetworkConnections(&raw_connections);
    const ScopedComPtr<IEnumNetworkConnections> connections(raw_connections);
    if (FAILED(hr) || connections.get() == nullptr) {
      Failed("listing the network connections", hr);
      return;
    }
    const std::wstring wanted = Utf8ToWide(adapter_id);
    for (int i = 0; i < kMaxConnections; ++i) {
      INetworkConnection* raw_connection = nullptr;
      ULONG fetched = 0;
      hr = connections.get()->Next(1, &raw_connection, &fetched);
      const ScopedComPtr<INetworkConnection> connection(raw_connection);
      if (hr != S_OK || fetched != 1 || connection.get() == nullptr) {
        if (FAILED(hr)) {
          Failed("enumerating the network connections", hr);
          return;
        }
        break;
      }
      GUID id{};
      wchar_t id_text[40] = {};
      if (FAILED(connection.get()->GetAdapterId(&id)) || StringFromGUID2(id, id_text, 40) == 0 ||
          !SameText(id_text, wanted)) {
        continue;
      }
      INetwork* raw_network = nullptr;
      hr = connection.get()->GetNetwork(&raw_network);
      const ScopedComPtr<INetwork> network(raw_network);
      if (FAILED(hr) || network.get() == nullptr) {
        Failed("reading the network of the adapter", hr);
        return;
      }
      ScopedBstr network_name;
      if (FAILED(hr = network.get()->GetName(network_name.Receive()))) {
        Failed("reading the network's name", hr);
      } else {
        name = WideToUtf8(network_name.Text());
      }
      NLM_NETWORK_CATEGORY value = NLM_NETWORK_CATEGORY_PUBLIC;
      if (FAILED(hr = network.get()->GetCategory(&value))) {
        Failed("reading the network's category", hr);
      } else {
        category = FromNlmCategory(value);
      }
      return;
    }
    Log(LogLevel::Warn, "APP", "Reachability: no network connection of adapter " + LogSafeText(adapter_id));
  }

  bool CurrentProfiles(std::uint32_t& profiles) override {
    LONG types = 0;
    if (policy_.get() == nullptr) {
      return false;
    }
    if (const HRESULT hr = policy_.get()->get_CurrentProfileTypes(&types); FAILED(hr)) {
      return Failed("reading the current firewall profiles", hr);
    }
    profiles = static_cast<std::uint32_t>(types);
    return true;
  }

  bool FirewallEnabled(std::uint32_t profile, bool& enabled) override {
    VARIANT_BOOL value = VARIANT_FALSE;
    if (policy_.get() == nullptr) {
      return false;
    }
    if (const HRESULT hr = policy_.get()->get_FirewallEnabled(Profile(profile), &value); FAILED(hr)) {
      return Failed("reading whether the firewall is on for profile " + std::to_string(profile), hr);
    }
    enabled = value != VARIANT_FALSE;
    return true;
  }

  bool BlocksAllInbound(std::uint32_t profile, bool& blocks) override {
    VARIANT_BOOL value = VARIANT_FALSE;
    if (policy_.get() == nullptr) {
      return false;
    }
    if (const HRESULT hr = policy_.get()->get_BlockAllInboundTraffic(Profile(profile), &value); FAILED(hr)) {
      return Failed("reading whether all inbound is blocked for profile " + std::to_string(profile), hr);
    }
    blocks = value != VARIANT_FALSE;
    return true;
  }

  bool InboundBlockedByDefault(std::uint32_t profile, bool& blocked) override {
    NET_FW_ACTION action = NET_FW_ACTION_BLOCK;
    if (policy_.get() == nullptr) {
      return false;
    }
    if (const HRESULT hr = policy_.get()->get_DefaultInboundAction(Profile(profile), &action); FAILED(hr)) {
      return Failed("reading the default inbound action for profile " + std::to_string(profile), hr);
    }
    // Only an explicit allow lets connections in.
    blocked = action != NET_FW_ACTION_ALLOW;
    return true;
  }

  bool Rules(std::vector<FirewallRule>& rules) override {
    rules.clear();
    if (policy_.get() == nullptr) {
      return false;
    }
    INetFwRules* raw_rules = nullptr;
    HRESULT hr = policy_.get()->get_Rules(&raw_rules);
    const ScopedComPtr<INetFwRules> all(raw_rules);
    if (FAILED(hr) || all.get() == nullptr) {
      return Failed("reading the firewall rules", hr);
    }
    IUnknown* raw_enum = nullptr;
    hr = all.get()->get__NewEnum(&raw_enum);
    const ScopedComPtr<IUnknown> enumerator(raw_enum);
    if (FAILED(hr) || enumerator.get() == nullptr) {
      return Failed("enumerating the firewall rules", hr);
    }
    IEnumVARIANT* raw_variants = nullptr;
    hr = enumerator.get()->QueryInterface(__uuidof(IEnumVARIANT), reinterpret_cast<void**>(&raw_variants));
    const ScopedComPtr<IEnumVARIANT> variants(raw_variants);
    if (FAILED(hr) || variants.get() == nullptr) {
      return Failed("enumerating the firewall rules as variants", hr);
    }
    for (int i = 0; i < kMaxRules; ++i) {
      ScopedVariant item;
      ULONG fetched = 0;
      hr = variants.get()->Next(1, item.Receive(), &fetched);
      if (FAILED(hr)) {
        return Failed("reading the next firewall rule", hr);
      }
      if (hr != S_OK || fetched == 0) {
        return true;
      }
      const VARIANT& value = item.get();
      IUnknown* object =
          value.vt == VT_DISPATCH ? value.pdispVal : (value.vt == VT_UNKNOWN ? value.punkVal : nullptr);
      if (object == nullptr) {
        return Failed("reading a firewall rule of type " + std::to_string(value.vt), E_UNEXPECTED);
      }
      INetFwRule* raw_rule = nullptr;
      hr = object->QueryInterface(__uuidof(INetFwRule), reinterpret_cast<void**>(&raw_rule));
      const ScopedComPtr<INetFwRule> rule(raw_rule);
      if (FAILED(hr) || rule.get() == nullptr) {
        return Failed("asking a firewall rule for its fields", hr);
      }
      FirewallRule entry;
      if (!ReadRule(*rule.get(), entry)) {
        return false;
      }
      rules.push_back(std::move(entry));
    }
    return Failed("reading more than " + std::to_string(kMaxRules) + " firewall rules", E_UNEXPECTED);
  }

 private:
  static NET_FW_PROFILE_TYPE2 Profile(std::uint32_t profile) {
    return static_cast<NET_FW_PROFILE_TYPE2>(profile);
  }

  const ScopedComPtr<INetFwPolicy2> policy_;
};

}  // namespace

ReachabilityFacts QueryReachability(const std::string& adapter_id, const std::string& program_path,
                                    unsigned port) {
  const ComApartment apartment;
  if (!apartment.usable()) {
    Failed("joining a COM apartment", apartment.result());
    return {};
  }
  WindowsReachabilitySource source;
  return detail::CollectReachability(source, adapter_id, program_path, port);
}

}  // namespace lumora
