#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "platform/dynamic_library.h"
#include "support/sdk/sdk_library.h"

namespace qolv::testing {
namespace {

struct Answer {
  bool accepted = false;
  bool hasText = false;
  rapidjson::Document json;

  int Result() const { return json["result"].GetInt(); }
  std::string ErrCode() const { return json["errCode"].GetString(); }
  std::string ErrMsg() const { return json["errMsg"].GetString(); }
  // The proxied printers of a table answer as "name=target" texts, in answer order.
  std::vector<std::string> Table() const {
    std::vector<std::string> entries;
    for (const auto& entry : json["data"]["printers"].GetArray()) {
      entries.push_back(std::string(entry["name"].GetString()) + "=" + entry["target"].GetString());
    }
    return entries;
  }
};

class SampleSdk : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { sdk_ = new SdkLibrary(platform::kSdkLibraryFileName); }
  static void TearDownTestSuite() {
    delete sdk_;
    sdk_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(sdk_->ready()) << sdk_->problem();
    sdk_->init();
  }
  void TearDown() override {
    if (sdk_->ready()) sdk_->uninit();
  }

  // Calls the SDK and checks that an accepted call handed out a well-formed answer object.
  static Answer Call(const char* api, const std::string& param) {
    const SdkLibrary::Reply reply = sdk_->Call(api, param.c_str());
    Answer answer;
    answer.accepted = reply.accepted;
    answer.hasText = reply.text.has_value();
    if (!reply.text) return answer;
    answer.json.Parse(reply.text->c_str());
    const rapidjson::Document& json = answer.json;
    const bool wellFormed = json.IsObject() && json.HasMember("result") && json["result"].IsInt() &&
                            json.HasMember("errCode") && json["errCode"].IsString() &&
                            json.HasMember("errMsg") && json["errMsg"].IsString() && json.HasMember("data");
    EXPECT_TRUE(wellFormed) << *reply.text;
    // A malformed answer fails the checks that follow instead of tripping over missing members.
    if (!wellFormed) answer.json.Parse(R"({"result":-1,"errCode":"","errMsg":"malformed","data":""})");
    return answer;
  }

  // A successful table answer's entries; a failure shows the answer's message.
  static std::vector<std::string> TableAfter(const char* api, const std::string& param) {
    const Answer answer = Call(api, param);
    EXPECT_TRUE(answer.accepted);
    if (!answer.hasText || answer.Result() != 1) {
      ADD_FAILURE() << api << " " << param << ": " << (answer.hasText ? answer.ErrMsg() : "no text");
      return {};
    }
    EXPECT_EQ(answer.ErrCode(), "0");
    return answer.Table();
  }

  static std::string Printer(const std::string& name, const std::string& target) {
    return "{\"name\":\"" + name + "\",\"target\":\"" + target + "\"}";
  }

  static SdkLibrary* sdk_;
};

SdkLibrary* SampleSdk::sdk_ = nullptr;

using Entries = std::vector<std::string>;

// "<prefix><number>", built by appending only (GCC 12 warns falsely about inserting at the front).
std::string Numbered(std::string prefix, int number) {
  prefix += std::to_string(number);
  return prefix;
}

TEST_F(SampleSdk, RefusesUnknownApiNamesAndMissingArguments) {
  for (const char* api : {"printer.list", "GetLocalPrinterList", "getLocalPrinterList ", "", "addPrinter"}) {
    char* response = nullptr;
    EXPECT_FALSE(sdk_->invoke(api, "", &response)) << api;
    EXPECT_EQ(response, nullptr) << api;
  }
  char* response = nullptr;
  EXPECT_FALSE(sdk_->invoke(nullptr, "", &response));
  EXPECT_FALSE(sdk_->invoke("getLocalPrinterList", "", nullptr));
  // A null param reads as an empty one rather than crashing the SDK.
  EXPECT_TRUE(sdk_->invoke("initPrinterProxy", nullptr, &response));
  ASSERT_NE(response, nullptr);
  sdk_->free(response);
  sdk_->free(nullptr);
}

TEST_F(SampleSdk, EveryApiFailsWhileNotInitialisedAndUninitForgetsTheTable) {
  EXPECT_EQ(TableAfter("addPrinterProxy", Printer("Kitchen", "ipp://10.0.0.5/ipp")),
            Entries{"Kitchen=ipp://10.0.0.5/ipp"});
  sdk_->uninit();
  for (const char* api :
       {"getLocalPrinterList", "initPrinterProxy", "addPrinterProxy", "deletePrinterProxy"}) {
    const Answer answer = Call(api, Printer("Bar", "LPT1"));
    ASSERT_TRUE(answer.accepted && answer.hasText) << api;
    EXPECT_EQ(answer.Result(), 0) << api;
    EXPECT_EQ(answer.ErrCode(), "1000") << api;
    EXPECT_STREQ(answer.json["data"].GetString(), "") << api;
  }
  sdk_->init();
  EXPECT_EQ(Call("deletePrinterProxy", "{\"name\":\"Kitchen\"}").ErrCode(), "1003")
      << "the entry outlived Uninit";
}

TEST_F(SampleSdk, LocalPrinterListAnswersEveryPrinterWithItsFields) {
  // The machine may have no print server or any number of printers; the answer's shape is fixed.
  for (const char* param : {"", "{}", "anything"}) {
    const Answer answer = Call("getLocalPrinterList", param);
    ASSERT_TRUE(answer.accepted && answer.hasText);
    ASSERT_EQ(answer.Result(), 1) << answer.ErrMsg();
    EXPECT_EQ(answer.ErrCode(), "0");
    ASSERT_TRUE(answer.json["data"].IsObject() && answer.json["data"]["printers"].IsArray());
    int defaults = 0;
    for (const auto& printer : answer.json["data"]["printers"].GetArray()) {
      ASSERT_TRUE(printer["name"].IsString() && printer["isDefault"].IsBool() &&
                  printer["description"].IsString() && printer["location"].IsString());
      EXPECT_GT(printer["name"].GetStringLength(), 0u);
      defaults += printer["isDefault"].GetBool() ? 1 : 0;
    }
    EXPECT_LE(defaults, 1);
  }
}

TEST_F(SampleSdk, InitAddAndDeleteKeepOneTable) {
  EXPECT_EQ(TableAfter("addPrinterProxy", Printer("Kitchen", "ipp://10.0.0.5/ipp")),
            Entries{"Kitchen=ipp://10.0.0.5/ipp"});
  EXPECT_EQ(TableAfter("addPrinterProxy", Printer("Bar", "LPT1")),
            (Entries{"Bar=LPT1", "Kitchen=ipp://10.0.0.5/ipp"}));

  Answer again = Call("addPrinterProxy", Printer("Kitchen", "COM3"));
  EXPECT_EQ(again.ErrCode(), "1002");
  EXPECT_NE(again.ErrMsg().find("Kitchen"), std::string::npos) << again.ErrMsg();

  EXPECT_EQ(TableAfter("deletePrinterProxy", "{\"name\":\"Kitchen\"}"), Entries{"Bar=LPT1"});
  Answer missing = Call("deletePrinterProxy", "{\"name\":\"Kitchen\"}");
  EXPECT_EQ(missing.Result(), 0);
  EXPECT_EQ(missing.ErrCode(), "1003");

  EXPECT_EQ(TableAfter("initPrinterProxy", "{\"printers\":[" + Printer("Till 2", "usb://x") + "," +
                                               Printer("Till 1", "usb://y") + "]}"),
            (Entries{"Till 1=usb://y", "Till 2=usb://x"}));
  EXPECT_EQ(TableAfter("initPrinterProxy", ""), Entries{});
  EXPECT_EQ(TableAfter("initPrinterProxy", "{}"), Entries{});
}

TEST_F(SampleSdk, NamesKeepTheirExactBytes) {
  // Escapes, non-ASCII text and case all survive the trip through the table and the answer.
  EXPECT_EQ(TableAfter("addPrinterProxy", Printer("K\\u00fcche \\\"A\\\\B\\\"", "\\u53a8\\u623f")),
            Entries{"K\xC3\xBC"
                    "che \"A\\B\"=\xE5\x8E\xA8\xE6\x88\xBF"});
  EXPECT_EQ(TableAfter("addPrinterProxy", Printer("kitchen", "t")).size(), 2u);
  EXPECT_EQ(Call("deletePrinterProxy", "{\"name\":\"KITCHEN\"}").ErrCode(), "1003");
}

TEST_F(SampleSdk, BadParamsAreRefusedWithTheirReasonAndChangeNothing) {
  TableAfter("addPrinterProxy", Printer("Kept", "LPT1"));
  const std::string longName(129, 'n');
  const std::string longTarget(1025, 't');
  struct Case {
    const char* api;
    std::string param;
    const char* reason;  // a word the message must contain
  };
  const std::vector<Case> cases = {
      {"addPrinterProxy", "", "JSON"},
      {"addPrinterProxy", "[]", "object"},
      {"addPrinterProxy", "{\"name\":\"A\"", "JSON"},
      {"addPrinterProxy", "{\"name\":\"A\",\"target\":\"B\"} x", "JSON"},
      {"addPrinterProxy", "{\"target\":\"B\"}", "name"},
      {"addPrinterProxy", "{\"name\":\"A\"}", "target"},
      {"addPrinterProxy", "{\"name\":7,\"target\":\"B\"}", "name"},
      {"addPrinterProxy", Printer("", "B"), "name"},
      {"addPrinterProxy", Printer(longName, "B"), "name"},
      {"addPrinterProxy", Printer("A", longTarget), "target"},
      {"addPrinterProxy", Printer("A\\tB", "B"), "control"},
      {"addPrinterProxy", Printer("A\\u0000B", "B"), "control"},
      {"addPrinterProxy", Printer("A\xFF", "B"), "JSON"},
      {"addPrinterProxy", Printer("A\\udc00", "B"), "UTF-8"},
      // Cut inside a string and a multi-byte character: the reader must stop at the text's end.
      {"addPrinterProxy", "{\"name\":\"Kitchen printer \xE2", "JSON"},
      {"addPrinterProxy", std::string(300000, '['), "JSON"},
      {"initPrinterProxy", "{\"printers\":[" + std::string(1024 * 1024, ' ') + "]}", "at most"},
      {"deletePrinterProxy", "{}", "name"},
      {"deletePrinterProxy", "{\"name\":null}", "name"},
      {"initPrinterProxy", "{\"printers\":{}}", "printers"},
      {"initPrinterProxy", "{\"printers\":[1]}", "printers[0]"},
      {"initPrinterProxy", "{\"printers\":[" + Printer("A", "B") + ",{\"name\":\"C\"}]}", "printers[1]"},
      {"initPrinterProxy", "{\"printers\":[" + Printer("A", "B") + "," + Printer("A", "C") + "]}", "twice"},
      {"initPrinterProxy", "null", "object"},
  };
  for (const Case& c : cases) {
    const Answer answer = Call(c.api, c.param);
    ASSERT_TRUE(answer.accepted && answer.hasText) << c.api << " " << c.param;
    EXPECT_EQ(answer.Result(), 0) << c.param;
    EXPECT_EQ(answer.ErrCode(), "1001") << c.param;
    EXPECT_NE(answer.ErrMsg().find(c.reason), std::string::npos) << c.param << " -> " << answer.ErrMsg();
  }
  // Unknown members are ignored; the table still holds just what was there before.
  EXPECT_EQ(TableAfter("addPrinterProxy", "{\"name\":\"Probe\",\"target\":\"t\",\"extra\":1}"),
            (Entries{"Kept=LPT1", "Probe=t"}));
}

TEST_F(SampleSdk, TableHoldsAtMost256Printers) {
  std::string list = "{\"printers\":[";
  for (int i = 0; i < 256; ++i) {
    if (i > 0) list += ',';
    list += Printer(Numbered("P", i), "t");
  }
  EXPECT_EQ(TableAfter("initPrinterProxy", list + "]}").size(), 256u);
  EXPECT_EQ(Call("addPrinterProxy", Printer("One more", "t")).ErrCode(), "1004");
  EXPECT_EQ(Call("initPrinterProxy", list + "," + Printer("One more", "t") + "]}").ErrCode(), "1001");
  EXPECT_EQ(TableAfter("deletePrinterProxy", "{\"name\":\"P0\"}").size(), 255u);
  EXPECT_EQ(TableAfter("addPrinterProxy", Printer("One more", "t")).size(), 256u);
}

TEST_F(SampleSdk, FourThreadsChangingTheTableLoseNoEntry) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 40;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < kPerThread; ++i) {
        const std::string name = Numbered(Numbered("T", t) + "-", i);
        if (Call("addPrinterProxy", Printer(name, "target")).Result() != 1) ++failures[t];
        // Every thread keeps its even entries and deletes its odd ones right after adding them.
        if (i % 2 == 1 && Call("deletePrinterProxy", "{\"name\":\"" + name + "\"}").Result() != 1) {
          ++failures[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(kThreads, 0));

  // A successful add answers the whole table, which shows every surviving entry.
  Entries expected;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kPerThread; i += 2) {
      expected.push_back(Numbered(Numbered("T", t) + "-", i));
    }
  }
  std::sort(expected.begin(), expected.end());  // the table's order: names by their bytes
  for (std::string& entry : expected) entry += "=target";
  expected.push_back("Z=last");
  EXPECT_EQ(TableAfter("addPrinterProxy", Printer("Z", "last")), expected);
}

}  // namespace
}  // namespace qolv::testing
