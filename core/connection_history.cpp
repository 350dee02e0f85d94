#include "core/connection_history.h"

#include <mutex>
#include <utility>

#include "base/ipv4.h"

namespace lumora {

void ConnectionHistory::NoteRefused(RefusedConnection refused) {
  refused_.push_front(std::move(refused));
  while (refused_.size() > kKeptRefusals) {
    refused_.pop_back();
  }
}

std::string RefusalReasonText(RefusalReason reason) {
  switch (reason) {
    case RefusalReason::NotLocalNetwork:
      return "不在本机的局域网内";
    case RefusalReason::NoHello:
      return "没有按手机 APP 的方式问候（可能是别的程序，或 APP 的版本不对）";
    case RefusalReason::AskedTooOften:
      return "未知设备反复请求连接，暂时拒绝";
    case RefusalReason::RefusedByUser:
      return "你拒绝了它的连接请求";
    case RefusalReason::NotAnswered:
      return "连接请求没有及时得到回答";
    case RefusalReason::TooManyWaiting:
      return "同时等待回答的手机太多";
  }
  // A value no version of the server sends: shown as such, not as another
  // reason.
  return "原因不明";
}

std::vector<std::string> ConnectionHistoryLines(const ConnectionHistory& history) {
  std::vector<std::string> lines;
  lines.push_back(history.any_connected() ? "自本程序启动以来，已有手机连接过。"
                                          : "自本程序启动以来，还没有手机连接过。");
  if (history.refused().empty()) {
    lines.push_back("没有被拒绝的连接。");
    return lines;
  }
  lines.push_back("最近被拒绝的连接：");
  for (const RefusedConnection& refused : history.refused()) {
    lines.push_back("  " + refused.at + "  " + FormatIpv4(refused.address) + "  " +
                    RefusalReasonText(refused.reason));
  }
  return lines;
}

std::string ClockText(std::time_t at) {
  // std::localtime hands out one buffer of the runtime's: the lock keeps two
  // callers of this function from reading each other's time.
  static std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  const std::tm* local = std::localtime(&at);
  char text[16] = {};
  if (local == nullptr || std::strftime(text, sizeof text, "%H:%M:%S", local) == 0) {
    return "--:--:--";
  }
  return text;
}

}  // namespace lumora
