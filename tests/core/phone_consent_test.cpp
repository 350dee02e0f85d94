#include "core/phone_consent.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace lumora {
namespace {

// A host that writes down what the flow asks of it, in one list, so that the
// order between the prompt, the server, the settings and the notices shows.
class RecordingHost {
 public:
  class Prompt final : public ConsentPrompt {
   public:
    Prompt(RecordingHost* host, std::string name, std::function<void(bool)> decided)
        : host_(host), name_(std::move(name)), decided_(std::move(decided)) {
      host_->open_[name_] = this;
    }
    ~Prompt() override {
      host_->events.push_back("prompt " + name_ + " gone");
      host_->open_.erase(name_);
    }
    void BringToFront() override { host_->events.push_back("front " + name_); }
    // As a window does: the callback is taken out first, since the flow may
    // destroy this prompt while it runs.
    void Decide(bool allow) {
      const std::function<void(bool)> decided = std::exchange(decided_, nullptr);
      decided(allow);
    }

   private:
    RecordingHost* host_;
    std::string name_;
    std::function<void(bool)> decided_;
  };

  PhoneConsentHost Host() {
    PhoneConsentHost host;
    host.show_prompt = [this](const PhoneHello& hello,
                              std::function<void(bool)> decided) -> std::unique_ptr<ConsentPrompt> {
      events.push_back("ask " + hello.client);
      if (!can_ask) {
        return nullptr;
      }
      return std::make_unique<Prompt>(this, hello.client, std::move(decided));
    };
    host.answer_server = [this](std::uint64_t id, bool allow) {
      events.push_back("server " + names_[id] + (allow ? " allow" : " refuse"));
      return server_holds;
    };
    host.remember = [this](const PhoneHello& hello) { events.push_back("remember " + hello.client); };
    // The title and the phone as the text names it first.
    host.notice = [this](const Notice& notice) {
      events.push_back(notice.title + " " + notice.text.substr(0, notice.text.find(' ')));
    };
    return host;
  }

  PhoneHello Phone(const std::string& name) {
    PhoneHello hello;
    hello.id = names_.size() + 1;
    hello.client = name;
    hello.address = 0xC0A80100 + static_cast<std::uint32_t>(hello.id);  // 192.168.1.<id>
    hello.peer = "192.168.1." + std::to_string(hello.id) + ":5000";
    names_[hello.id] = name;
    return hello;
  }

  Prompt* open(const std::string& name) { return open_.count(name) != 0 ? open_[name] : nullptr; }

  std::vector<std::string> events;
  bool can_ask = true;
  bool server_holds = true;

 private:
  std::map<std::uint64_t, std::string> names_;
  std::map<std::string, Prompt*> open_;
};

TEST(PhoneConsentFlowTest, OneQuestionAtATimeInOrder) {
  struct Case {
    const char* what;
    bool can_ask;
    bool server_holds;
    // "held A", "gone A", "allow A", "refuse A" (the user answers A's prompt)
    std::vector<std::string> steps;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"two phones in turn: refused, then allowed and remembered",
       true,
       true,
       {"held A", "held B", "refuse A", "allow B"},
       {"ask A", "新手机请求连接 A（192.168.1.1）", "server A refuse", "prompt A gone",
        "已拒绝手机 A（192.168.1.1）", "ask B", "新手机请求连接 B（192.168.1.2）", "server B allow",
        "prompt B gone", "remember B", "已允许手机 B（192.168.1.2）"}},
      {"gone before its turn: never asked",
       true,
       true,
       {"held A", "held B", "gone B", "allow A"},
       {"ask A", "新手机请求连接 A（192.168.1.1）", "server A allow", "prompt A gone", "remember A",
        "已允许手机 A（192.168.1.1）"}},
      {"gone while asked: the prompt goes, the next is asked",
       true,
       true,
       {"held A", "held B", "gone A"},
       {"ask A", "新手机请求连接 A（192.168.1.1）", "prompt A gone", "已拒绝手机 A（192.168.1.1）", "ask B",
        "新手机请求连接 B（192.168.1.2）"}},
      {"allowed after it left: nothing remembered, nothing told",
       true,
       false,
       {"held A", "allow A"},
       {"ask A", "新手机请求连接 A（192.168.1.1）", "server A allow", "prompt A gone"}},
      {"nobody can be asked: each is refused",
       false,
       true,
       {"held A", "held B"},
       {"ask A", "server A refuse", "已拒绝手机 A（192.168.1.1）", "ask B", "server B refuse",
        "已拒绝手机 B（192.168.1.2）"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingHost host;
    host.can_ask = c.can_ask;
    host.server_holds = c.server_holds;
    PhoneConsentFlow flow(host.Host());
    std::map<std::string, PhoneHello> phones;
    for (const std::string& step : c.steps) {
      std::istringstream words(step);
      std::string verb;
      std::string name;
      words >> verb >> name;
      if (verb == "held") {
        phones[name] = host.Phone(name);
        flow.OnPhoneHeld(phones[name]);
      } else if (verb == "gone") {
        flow.OnHeldPhoneGone(phones[name].id);
      } else {
        ASSERT_NE(host.open(name), nullptr) << step;
        host.open(name)->Decide(verb == "allow");
      }
    }
    EXPECT_EQ(host.events, c.want);
  }
}

TEST(PhoneConsentFlowTest, TheTrayFetchesThePromptAndNamesTheLinkedPhone) {
  RecordingHost host;
  PhoneConsentFlow flow(host.Host());
  EXPECT_FALSE(flow.BringPromptToFront());
  const PhoneHello a = host.Phone("A");
  flow.OnPhoneHeld(a);
  EXPECT_TRUE(flow.BringPromptToFront());
  host.open("A")->Decide(true);
  EXPECT_FALSE(flow.BringPromptToFront());
  // Allowed, it takes over: announced once, as allowed. Another that takes
  // over later is announced as such.
  flow.OnPhoneActive(a, true);
  const PhoneHello b = host.Phone("B\r\n");
  flow.OnPhoneActive(b, true);
  EXPECT_EQ(std::vector<std::string>(host.events.begin() + 2, host.events.end()),
            (std::vector<std::string>{"front A", "server A allow", "prompt A gone", "remember A",
                                      "已允许手机 A（192.168.1.1）", "手机已接管 B（192.168.1.2）"}));

  EXPECT_EQ(flow.LinkedPhoneText(""), "");
  EXPECT_EQ(flow.LinkedPhoneText(b.peer), "B（192.168.1.2）");
  // A peer the flow has not seen become active: its address alone.
  EXPECT_EQ(flow.LinkedPhoneText(a.peer), "未命名手机（192.168.1.1:5000）");
}

}  // namespace
}  // namespace lumora
