#pragma once

// What the connection box, the welcome dialog and the tray tip tell the user
// about reaching this PC from the phone: the addresses in the order to try
// them, whether anything blocks the phone and what to do about it, and what
// phones tried. Portable: the texts and the rules behind them are checked
// natively, and the Linux receiver shows the same words.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/connection_check.h"
#include "core/connection_history.h"
#include "net/addresses.h"
#include "net/reachability.h"

namespace lumora {

// The words for an adapter that a phone usually cannot reach, e.g. "VPN 或隧道";
// empty for a real adapter.
std::u16string AdapterKindWords(AdapterKind kind);

// One line of the address list: the address, ":" and the port, and what the
// address is: "（推荐）" for the one to type, the adapter's kind for a
// virtual one, "（没有网络）" for a link-local one, else the adapter's name.
std::u16string AddressLine(const ShownAddress& address, std::int32_t port);

// The list's lines in ranked order, or the placeholder "（无可用网络接口）"
// alone when there is no address.
std::vector<std::u16string> AddressLines(const std::vector<ShownAddress>& ranked, std::int32_t port);

// The address to type, when there is one: the first of the ranked list,
// if it is the recommended one.
std::optional<ShownAddress> RecommendedAddress(const std::vector<ShownAddress>& ranked);

// The tray tip's line with the address to type: "地址 192.168.1.5", or
// "地址：没有网络" when there is none.
std::u16string TipAddressLine(const std::vector<ShownAddress>& ranked);

// The notice after the PC's addresses changed, when the address to type is
// not the one it was: the new one with the port, or that there is no network
// now. Nothing when it stayed the same.
struct AddressNotice {
  std::u16string title;
  std::u16string text;
};
std::optional<AddressNotice> AddressChangeNotice(const std::string& before, const std::string& now,
                                                 std::int32_t port);

// Everything the connection box shows.
struct ConnectionView {
  std::u16string heading;                 // the port and whether it is served
  std::vector<ShownAddress> ranked;       // the addresses the lines show
  std::vector<std::u16string> addresses;  // AddressLines
  std::u16string diagnosis;               // the check's lines, one per line
  bool offer_firewall_rule = false;
  bool offer_network_settings = false;
  std::u16string history;  // what phones tried, one line each
};

// The heading: the port is being served, or it is not (taken by another
// program, say) and the user should choose another.
std::u16string ConnectionHeading(std::int32_t port, bool listening);

// The check as the box shows it. Not listening counts as a cause of its own:
// "可以连接" is never said of a port nobody serves.
ConnectionView CheckedView(std::int32_t port, bool listening, const std::vector<ShownAddress>& ranked,
                           const ConnectionDiagnosis& diagnosis);

// The history's lines as one text.
std::u16string HistoryText(const ConnectionHistory& history);

// A look at the PC in two steps: the ranked addresses at once, shown while
// the check runs; then `finish`, which reads the reachability of the
// recommended address's network for `program_path` on `port` and diagnoses
// it. `finish` blocks while the firewall's rules are read (hundreds on a
// real PC), may run on any thread and runs only once.
struct PendingCheck {
  ConnectionView shown;  // the diagnosis says it is being checked
  std::function<ConnectionView()> finish;
};
PendingCheck StartConnectionCheck(std::int32_t port, bool listening, const std::string& program_path);

// Both steps at once, on the caller's thread.
ConnectionView LookAtConnection(std::int32_t port, bool listening, const std::string& program_path);

// The PC's ranked addresses (GetRankedAddresses, unless a test put another
// query in).
std::vector<ShownAddress> CurrentAddresses();

namespace detail {
// Replace the platform's queries (null puts them back), so that a PC with any
// adapters and any firewall can be played on the bench.
using RankedAddressQuery = std::vector<ShownAddress> (*)();
void SetAddressQueryForTest(RankedAddressQuery query);
using ReachabilityQuery = ReachabilityFacts (*)(const std::string& adapter_id,
                                                const std::string& program_path, unsigned port);
void SetReachabilityQueryForTest(ReachabilityQuery query);
}  // namespace detail

}  // namespace lumora
