#include "core/connection_check.h"

#include <string>

namespace lumora {

namespace {

// The network as the lines name it: Windows' name for it, when it gave one.
std::string NetworkName(const ReachabilityFacts& facts) {
  return facts.network_name.empty() ? "当前网络" : facts.network_name;
}

}  // namespace

ConnectionDiagnosis DiagnoseConnection(bool has_network, const ReachabilityFacts& facts) {
  using Verdict = ConnectionDiagnosis::Verdict;
  ConnectionDiagnosis diagnosis;
  if (!has_network) {
    diagnosis.verdict = Verdict::Blocked;
    diagnosis.lines.push_back(
        "没有网络：这台电脑没有连接到 Wi-Fi 或有线网络。请先连接网络，并让手机连接同一个 Wi-Fi。");
    return diagnosis;
  }
  const FirewallVerdict firewall = JudgeFirewall(facts);
  const bool blocked = firewall == FirewallVerdict::Blocks;
  if (blocked) {
    const bool rule_blocks = facts.rule == RuleCover::Blocks;
    if (facts.category == NetworkCategory::Public) {
      diagnosis.lines.push_back(
          "网络「" + NetworkName(facts) +
          "」是公用网络：Windows 防火墙在公用网络上会阻止手机连接。请在网络设置中把它改为"
          "「专用网络」。");
      diagnosis.offer_network_settings = true;
    } else if (!facts.blocks_all_inbound && !rule_blocks) {
      // Blocked by default with no rule for this program: an allow rule is
      // the cure, but on a domain network that is the administrator's call.
      if (facts.category == NetworkCategory::Domain) {
        diagnosis.lines.push_back(
            "Windows 防火墙没有允许本程序接收连接。这是单位的域网络，请联系网络管理员。");
      } else if (facts.category == NetworkCategory::Private) {
        diagnosis.lines.push_back(
            "Windows 防火墙没有允许本程序接收连接：请点「允许手机连接」，按 Windows 的提示确认。");
        diagnosis.offer_firewall_rule = true;
      } else {
        // The rule the button adds is for private networks only; on a
        // network of unknown kind it may not apply, so no button is offered
        // and the text must not point at one.
        diagnosis.lines.push_back(
            "Windows 防火墙没有允许本程序接收连接：请在「Windows 安全中心 → 防火墙和网络保护 → "
            "允许应用通过防火墙」中允许本程序。");
      }
    }
    // An allow rule would not help against these two: say so on any network.
    if (rule_blocks) {
      diagnosis.lines.push_back(
          "Windows 防火墙中有一条规则阻止本程序：请在「高级安全 Windows Defender "
          "防火墙」的入站规则中停用或删除它。");
    }
    if (facts.blocks_all_inbound) {
      diagnosis.lines.push_back(
          "Windows 防火墙设置为阻止所有传入连接：请在「Windows 安全中心 → "
          "防火墙和网络保护」中取消「阻止所有传入连接」"
          "。");
    }
  }
  if (facts.category == NetworkCategory::Public && firewall == FirewallVerdict::Unknown) {
    // The usual cause, though unproven: Windows' firewall is on unless
    // someone turned it off, and on a public network it keeps phones out.
    diagnosis.lines.push_back(
        "网络「" + NetworkName(facts) +
        "」是公用网络：如果 Windows 防火墙开着，它会阻止手机连接。可以在网络设置中把它改为"
        "「专用网络」。");
    diagnosis.offer_network_settings = true;
  }
  const bool category_unknown = facts.category == NetworkCategory::Unknown;
  if (category_unknown) {
    diagnosis.lines.push_back("网络类型：无法检查。");
  }
  if (firewall == FirewallVerdict::Unknown) {
    diagnosis.lines.push_back("Windows 防火墙：无法检查。");
  }
  if (blocked) {
    diagnosis.verdict = Verdict::Blocked;
  } else if (category_unknown || firewall == FirewallVerdict::Unknown) {
    diagnosis.verdict = Verdict::Unknown;
    diagnosis.lines.push_back("无法检查的项目请在 Windows 安全中心自行查看。");
  } else {
    diagnosis.verdict = Verdict::CanConnect;
    diagnosis.lines.push_back("可以连接");
    diagnosis.lines.push_back(
        "如果手机仍然连不上：请确认手机和电脑连接的是同一个 Wi-Fi（访客网络通常不允许设备互连），"
        "并输入上面推荐的地址和端口。");
  }
  return diagnosis;
}

}  // namespace lumora
