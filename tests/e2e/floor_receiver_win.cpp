// The floor for the latency measurement: the least a receiver can do with the
// same thread hops as the program. A socket thread reads lines and posts the
// committed text to a UI thread, which hands it to a worker that types it
// with one SendInput call. Speaks just enough of the wire protocol for the
// measuring phone.
//
//   floor_receiver PORT

#include <windows.h>
#include <winsock2.h>

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr UINT kTextMessage = WM_APP + 10;

std::mutex g_mutex;
std::condition_variable g_wake;
std::deque<std::wstring> g_queue;

void Worker() {
  for (;;) {
    std::wstring text;
    {
      std::unique_lock<std::mutex> lock(g_mutex);
      g_wake.wait(lock, [] { return !g_queue.empty(); });
      text = std::move(g_queue.front());
      g_queue.pop_front();
    }
    if (text.empty()) {
      return;
    }
    std::vector<INPUT> inputs;
    for (wchar_t unit : text) {
      INPUT input{};
      input.type = INPUT_KEYBOARD;
      input.ki.wScan = unit;
      input.ki.dwFlags = KEYEVENTF_UNICODE;
      inputs.push_back(input);
      input.ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
      inputs.push_back(input);
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  }
}

// The text of {"type":"text","content":"..."} for content without quotes or
// escapes (UTF-8 as it is).
std::string ContentOf(const std::string& line) {
  const std::string key = "\"content\":\"";
  const std::size_t start = line.find(key);
  if (start == std::string::npos) {
    return "";
  }
  const std::size_t end = line.find('"', start + key.size());
  return line.substr(start + key.size(), end - start - key.size());
}

void Serve(SOCKET listener, DWORD ui_thread) {
  SOCKET client = accept(listener, nullptr, nullptr);
  const std::string welcome =
      "{\"type\":\"welcome\",\"server\":\"Parlino\",\"version\":\"0.1.0\",\"protocol\":1}\n";
  send(client, welcome.data(), static_cast<int>(welcome.size()), 0);
  std::string buffer;
  std::string live;
  char chunk[4096];
  for (;;) {
    const int received = recv(client, chunk, sizeof chunk, 0);
    if (received <= 0) {
      break;
    }
    buffer.append(chunk, static_cast<std::size_t>(received));
    std::size_t line_feed;
    while ((line_feed = buffer.find('\n')) != std::string::npos) {
      const std::string line = buffer.substr(0, line_feed);
      buffer.erase(0, line_feed + 1);
      if (line.find("\"text\"") != std::string::npos) {
        live = ContentOf(line);
      } else if (line.find("\"commit\"") != std::string::npos) {
        auto* text = new std::wstring(live.size(), L'\0');
        text->resize(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, live.data(),
                                                                  static_cast<int>(live.size()), text->data(),
                                                                  static_cast<int>(text->size()))));
        PostThreadMessageW(ui_thread, kTextMessage, 0, reinterpret_cast<LPARAM>(text));
        const std::string ack = "{\"type\":\"ack\",\"of\":\"commit\"}\n";
        send(client, ack.data(), static_cast<int>(ack.size()), 0);
      }
    }
  }
  closesocket(client);
  PostThreadMessageW(ui_thread, WM_QUIT, 0, 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    return 2;
  }
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<unsigned short>(std::atoi(argv[1])));
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 1) != 0) {
    return 1;
  }
  MSG message;
  PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // gives this thread its queue
  std::thread worker(Worker);
  std::thread server(Serve, listener, GetCurrentThreadId());
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == kTextMessage) {
      auto* text = reinterpret_cast<std::wstring*>(message.lParam);
      {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_queue.push_back(std::move(*text));
      }
      delete text;
      g_wake.notify_one();
    }
  }
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_queue.push_back(L"");
  }
  g_wake.notify_one();
  server.join();
  worker.join();
  closesocket(listener);
  return 0;
}
