// Fuzzes the request body parse (TcpRequestSession::Parse and ReadStringMember) with arbitrary
// bodies. Its verdict, action and param must match a reading of the same text by RapidJSON's
// event reader, followed step by step here: the text ends at the first zero byte, it must be one
// JSON object nested at most 256 deep, and the first member of each name counts, cut at its
// first zero character. A refused body leaves exactly its one log line. What a parse returns
// must also survive the trip back: written as the client writes a request body and parsed again,
// it gives the same values.
#include <rapidjson/document.h>
#include <rapidjson/reader.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "client_exchange.h"
#include "fuzz_support.h"
#include "protocol/frame_header.h"
#include "request/read_string_member.h"
#include "request/tcp_request_session.h"

namespace qolv {
namespace {

constexpr int kDeepestAccepted = 256;

// The event reader's view of a text: whether it is JSON, what its root is, how deep it nests,
// and the first "action" and "param" members of a root object.
struct Reading {
  struct Member {
    bool seen = false;  // the first member of the name has been met
    std::string text;   // its string value up to the first zero character, if it is a string
  };

  bool valid = false;
  bool rootIsObject = false;
  int deepest = 0;
  Member action;
  Member param;
};

class ReadingHandler : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, ReadingHandler> {
 public:
  explicit ReadingHandler(Reading& reading) : reading_(reading) {}

  bool Default() { return Value(nullptr, 0); }
  bool String(const char* text, rapidjson::SizeType length, bool) { return Value(text, length); }
  bool Key(const char* text, rapidjson::SizeType length, bool) {
    if (depth_ == 1) key_.assign(text, length);
    return true;
  }
  bool StartObject() { return Open(true); }
  bool StartArray() { return Open(false); }
  bool EndObject(rapidjson::SizeType) { return Close(); }
  bool EndArray(rapidjson::SizeType) { return Close(); }

 private:
  bool Open(bool object) {
    if (depth_ == 0) reading_.rootIsObject = object;
    Value(nullptr, 0);
    reading_.deepest = std::max(reading_.deepest, ++depth_);
    return true;
  }
  bool Close() {
    --depth_;
    return true;
  }
  // A value begins; text is set only for a string.
  bool Value(const char* text, rapidjson::SizeType length) {
    if (depth_ != 1) return true;
    Reading::Member* member = key_ == "action"  ? &reading_.action
                              : key_ == "param" ? &reading_.param
                                                : nullptr;
    if (member != nullptr && !member->seen) {
      member->seen = true;
      if (text != nullptr) member->text.assign(text, strnlen(text, length));
    }
    key_.clear();
    return true;
  }

  Reading& reading_;
  int depth_ = 0;
  std::string key_;
};

// The iterative reader, so that any depth can be read without exhausting the stack.
Reading Read(const std::string& text) {
  Reading reading;
  ReadingHandler handler(reading);
  rapidjson::Reader reader;
  rapidjson::StringStream stream(text.c_str());
  reading.valid = !reader.Parse<rapidjson::kParseIterativeFlag>(stream, handler).IsError();
  return reading;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

TcpRequestSession SessionWith(const std::string& body) {
  const FrameHeader header = FrameHeader::ReplyTemplate();
  return TcpRequestSession(9199, 1, &header, body.data(), static_cast<uint32_t>(body.size()));
}

}  // namespace
}  // namespace qolv

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qolv::fuzz::KeepLogInMemory();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qolv;
  const std::string body(reinterpret_cast<const char*>(data), size);
  const std::string text = body.substr(0, body.find('\0'));
  const Reading reading = Read(text);

  TcpRequestSession session = SessionWith(body);
  const bool parsed = session.Parse();
  const std::vector<std::string> log = fuzz::TakeLogMessages();

  const bool accepted = reading.valid && reading.rootIsObject && reading.deepest <= kDeepestAccepted;
  FUZZ_CHECK(parsed == accepted, "reader: valid=" + std::to_string(reading.valid) +
                                     " object=" + std::to_string(reading.rootIsObject) +
                                     " depth=" + std::to_string(reading.deepest));
  if (!parsed) {
    FUZZ_CHECK(session.Action().empty() && session.Param().empty(), "a refused body fills nothing");
    FUZZ_CHECK(log.size() == 1 && log[0] == "TcpRequestSession exception, body parse failed, data=" + text,
               "one line names the refused text; lines: " + std::to_string(log.size()));
    return 0;
  }
  FUZZ_CHECK(log.empty(), "an accepted body logs nothing");
  FUZZ_CHECK(session.Action() == reading.action.text,
             "action " + Quoted(session.Action()) + ", reader " + Quoted(reading.action.text));
  FUZZ_CHECK(session.Param() == reading.param.text,
             "param " + Quoted(session.Param()) + ", reader " + Quoted(reading.param.text));

  TcpRequestSession again = SessionWith(client::RequestBody(session.Action(), session.Param()));
  FUZZ_CHECK(again.Parse(), "the written values parse");
  FUZZ_CHECK(again.Action() == session.Action() && again.Param() == session.Param(),
             "the values survive writing and parsing again");

  // The member reading alone, on a root that is not an object: the destination stays as it was.
  rapidjson::Document array;
  array.Parse(("[" + client::RequestBody(session.Action(), session.Param()) + "]").c_str());
  std::string untouched = "untouched";
  ReadStringMember(array, "action", untouched);
  FUZZ_CHECK(untouched == "untouched", "a root that is not an object is not read");
  return 0;
}
