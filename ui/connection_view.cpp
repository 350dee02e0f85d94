#include "ui/connection_view.h"

#include <atomic>
#include <utility>

#include "base/product.h"
#include "output/desktop.h"

namespace lumora {

namespace {

std::atomic<detail::RankedAddressQuery> g_address_query{nullptr};
std::atomic<detail::ReachabilityQuery> g_reachability_query{nullptr};

std::u16string Number(std::int32_t value) { return ToUtf16(std::to_string(value)); }

std::u16string JoinLines(const std::vector<std::string>& lines) {
  std::u16string text;
  for (const std::string& line : lines) {
    if (!text.empty()) {
      text += u'\n';
    }
    text += ToUtf16(line);
  }
  return text;
}

}  // namespace

std::u16string AdapterKindWords(AdapterKind kind) {
  switch (kind) {
    case AdapterKind::HyperV:
      return u"Hyper-V 或 WSL 虚拟网卡";
    case AdapterKind::VirtualBox:
      return u"VirtualBox 虚拟网卡";
    case AdapterKind::VMware:
      return u"VMware 虚拟网卡";
    case AdapterKind::Tunnel:
      return u"VPN 或隧道";
    case AdapterKind::BluetoothPan:
      return u"蓝牙网络";
    case AdapterKind::Docker:
      return u"Docker 或虚拟机网桥";
    case AdapterKind::Ethernet:
    case AdapterKind::WiFi:
    case AdapterKind::Other:
      break;
  }
  return {};
}

std::u16string AddressLine(const ShownAddress& address, std::int32_t port) {
  std::u16string line = ToUtf16(address.address) + u":" + Number(port);
  // The one to type comes first and says so; the others say why they are
  // not it, so that a user on a VPN can still pick its address knowingly.
  std::u16string what;
  if (address.recommended) {
    what = u"推荐";
  } else if (address.link_local) {
    what = u"没有网络";
  } else if (IsVirtualKind(address.kind)) {
    what = AdapterKindWords(address.kind);
  } else {
    what = ToUtf16(address.adapter_name);
  }
  if (!what.empty()) {
    line += u"（" + what + u"）";
  }
  return line;
}

std::vector<std::u16string> AddressLines(const std::vector<ShownAddress>& ranked, std::int32_t port) {
  std::vector<std::u16string> lines;
  for (const ShownAddress& address : ranked) {
    lines.push_back(AddressLine(address, port));
  }
  if (lines.empty()) {
    lines.emplace_back(u"（无可用网络接口）");
  }
  return lines;
}

std::optional<ShownAddress> RecommendedAddress(const std::vector<ShownAddress>& ranked) {
  if (ranked.empty() || !ranked.front().recommended) {
    return std::nullopt;
  }
  return ranked.front();
}

std::u16string TipAddressLine(const std::vector<ShownAddress>& ranked) {
  const std::optional<ShownAddress> address = RecommendedAddress(ranked);
  return address ? u"地址 " + ToUtf16(address->address) : std::u16string(u"地址：没有网络");
}

std::optional<AddressNotice> AddressChangeNotice(const std::string& before, const std::string& now,
                                                 std::int32_t port) {
  if (before == now) {
    return std::nullopt;
  }
  if (now.empty()) {
    return AddressNotice{u"电脑没有网络了", u"连上 Wi-Fi 或网线后，手机才能连接。"};
  }
  return AddressNotice{u"电脑的地址变了",
                       u"请在手机 APP 中输入 " + ToUtf16(now) + u":" + Number(port) + u"。"};
}

std::u16string ConnectionHeading(std::int32_t port, bool listening) {
  const std::u16string product = ToUtf16(PARLINO_PRODUCT_NAME_TEXT);
  if (!listening) {
    return product + u"没有在监听端口 " + Number(port) +
           u"：可能有其他程序占用了它。请在「设置」中换一个端口。";
  }
  return product + u"正在监听端口 " + Number(port) +
         u"。请在手机 APP 的连接页面中输入标有「推荐」的地址和端口：";
}

ConnectionView CheckedView(std::int32_t port, bool listening, const std::vector<ShownAddress>& ranked,
                           const ConnectionDiagnosis& diagnosis) {
  ConnectionView view;
  view.heading = ConnectionHeading(port, listening);
  view.ranked = ranked;
  view.addresses = AddressLines(ranked, port);
  std::vector<std::string> lines = diagnosis.lines;
  if (!listening) {
    // The firewall may well let the phone in; nobody would answer it.
    if (diagnosis.verdict != ConnectionDiagnosis::Verdict::Blocked) {
      lines.clear();
    }
    lines.insert(lines.begin(), "本程序没有在监听端口：手机现在连不上。请在「设置」中换一个端口。");
  }
  view.diagnosis = JoinLines(lines);
  view.offer_firewall_rule = diagnosis.offer_firewall_rule;
  view.offer_network_settings = diagnosis.offer_network_settings;
  return view;
}

std::u16string HistoryText(const ConnectionHistory& history) {
  return JoinLines(ConnectionHistoryLines(history));
}

std::vector<ShownAddress> CurrentAddresses() {
  const detail::RankedAddressQuery query = g_address_query.load();
  return query != nullptr ? query() : GetRankedAddresses();
}

PendingCheck StartConnectionCheck(std::int32_t port, bool listening, const std::string& program_path) {
  std::vector<ShownAddress> ranked = CurrentAddresses();
  PendingCheck check;
  ConnectionDiagnosis checking;
  checking.lines = {"正在检查网络和 Windows 防火墙……"};
  check.shown = CheckedView(port, listening, ranked, checking);
  const detail::ReachabilityQuery query = g_reachability_query.load();
  check.finish = [port, listening, program_path, ranked = std::move(ranked), query] {
    const std::optional<ShownAddress> address = RecommendedAddress(ranked);
    ReachabilityFacts facts;
    if (address) {
      const unsigned served = static_cast<unsigned>(port);
      facts = query != nullptr ? query(address->adapter_id, program_path, served)
                               : QueryReachability(address->adapter_id, program_path, served);
    }
    return CheckedView(port, listening, ranked, DiagnoseConnection(address.has_value(), facts));
  };
  return check;
}

ConnectionView LookAtConnection(std::int32_t port, bool listening, const std::string& program_path) {
  return StartConnectionCheck(port, listening, program_path).finish();
}

namespace detail {
void SetAddressQueryForTest(RankedAddressQuery query) { g_address_query = query; }
void SetReachabilityQueryForTest(ReachabilityQuery query) { g_reachability_query = query; }
}  // namespace detail

}  // namespace lumora
