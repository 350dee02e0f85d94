#pragma once

// The connection box on Linux: the port and whether it is served, the PC's
// addresses with the one to type first, and what phones tried; the same
// texts as on Windows. There is no Windows Firewall to read here: the check's
// place says which firewall to look at instead.

#include <QDialog>

#include <cstdint>
#include <functional>
#include <string>

class QLabel;
class QListWidget;

namespace lumora {

inline constexpr char kConnectionDialogQtObjectName[] = "Parlino.ConnectionDialog";

struct ConnectionSourceQt {
  std::function<std::int32_t()> port;
  std::function<bool()> listening;
  std::function<std::u16string()> history;
};

class ConnectionDialogQt final : public QDialog {
 public:
  explicit ConnectionDialogQt(ConnectionSourceQt source);
  // Reads the addresses and the history again.
  void Refresh();

 private:
  ConnectionSourceQt source_;
  QLabel* heading_ = nullptr;
  QListWidget* addresses_ = nullptr;
  QLabel* diagnosis_ = nullptr;
  QLabel* history_ = nullptr;
};

// What the check's place says on Linux, for `port`.
std::u16string LinuxFirewallNote(std::int32_t port);

}  // namespace lumora
