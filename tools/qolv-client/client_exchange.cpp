#include "client_exchange.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <chrono>
#include <cstring>
#include <random>

#include "frame_codec.h"
#include "platform/error_codes.h"
#include "platform/socket_client.h"
#include "platform/socket_io.h"
#include "protocol/outgoing_frame.h"

namespace qolv::client {
namespace {

using Clock = std::chrono::steady_clock;

// Closes the socket on every way out of the exchange.
class SocketGuard {
 public:
  explicit SocketGuard(platform::SocketHandle socket) : socket_(socket) {}
  ~SocketGuard() { platform::CloseSocket(socket_); }
  SocketGuard(const SocketGuard&) = delete;
  SocketGuard& operator=(const SocketGuard&) = delete;
  platform::SocketHandle get() const { return socket_; }

 private:
  platform::SocketHandle socket_;
};

uint32_t RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<uint32_t>(left) : 0;
}

ExchangeResult Failure(std::string error) {
  ExchangeResult result;
  result.error = std::move(error);
  return result;
}

std::string Endpoint(const std::string& host, uint16_t port) {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string ErrorText(uint32_t error) { return "system error " + std::to_string(error); }

}  // namespace

MessageId NewMessageId() {
  static constexpr char kHex[] = "0123456789abcdef";
  std::random_device seed;
  std::mt19937_64 random((static_cast<uint64_t>(seed()) << 32) ^ seed() ^
                         static_cast<uint64_t>(Clock::now().time_since_epoch().count()));
  MessageId id{};
  for (uint8_t& byte : id) byte = static_cast<uint8_t>(kHex[random() % 16]);
  return id;
}

std::string RequestBody(std::string_view action, std::string_view param) {
  rapidjson::StringBuffer text;
  rapidjson::Writer<rapidjson::StringBuffer> writer(text);
  writer.StartObject();
  writer.Key("action");
  writer.String(action.data(), static_cast<rapidjson::SizeType>(action.size()));
  writer.Key("param");
  writer.String(param.data(), static_cast<rapidjson::SizeType>(param.size()));
  writer.EndObject();
  return std::string(text.GetString(), text.GetSize());
}

ExchangeResult Exchange(const std::string& host, uint16_t port, const std::vector<uint8_t>& frame,
                        uint32_t timeoutMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  const std::string where = Endpoint(host, port);
  const std::string addressText = host == "localhost" ? "127.0.0.1" : host;
  const uint16_t family =
      addressText.find(':') != std::string::npos ? platform::kFamilyInet6 : platform::kFamilyInet;
  platform::SockAddr address{};
  if (platform::TextToAddress(addressText.c_str(), family, address) != 0) {
    return Failure("not an IPv4 or IPv6 address: " + host);
  }
  platform::SetAddressPort(address, port);

  SocketGuard socket(platform::CreateStreamSocket(family));
  if (socket.get() == platform::kInvalidSocket) return Failure("cannot create a socket");
  if (const uint32_t error = platform::ConnectBlocking(socket.get(), address, RemainingMs(deadline))) {
    if (error == err::kWsaConnectionRefused)
      return Failure("connection refused by " + where + " (is the service running?)");
    if (error == err::kWsaTimedOut)
      return Failure("no connection to " + where + " within " + std::to_string(timeoutMs) + " ms");
    return Failure("cannot connect to " + where + ": " + ErrorText(error));
  }
  const FrameHeader sent = FrameHeader::FromBytes(frame.data());
  if (const uint32_t error =
          platform::SendBlocking(socket.get(), reinterpret_cast<const char*>(frame.data()),
                                 static_cast<uint32_t>(frame.size()), RemainingMs(deadline))) {
    return Failure("cannot send to " + where + ": " + ErrorText(error));
  }

  std::vector<uint8_t> received;
  char chunk[16384];
  for (;;) {
    const CutFrame cut = CutNextFrame(received.data(), received.size(), kMaxAnswerBody);
    switch (cut.status) {
      case CutStatus::kBadMagic:
        return Failure("bad frame: the answer does not start with \"QV\"");
      case CutStatus::kBadLength:
      case CutStatus::kTooLong:
        return Failure("bad frame: answer body length " + std::to_string(cut.header.BodyLength()) +
                       " is not acceptable");
      case CutStatus::kFrame: {
        if (std::memcmp(cut.header.messageId, sent.messageId, FrameHeader::kMessageIdSize) != 0) {
          return Failure("bad frame: the answer carries message id \"" + cut.header.MessageIdText() +
                         "\", not \"" + sent.MessageIdText() + "\"");
        }
        if (cut.header.type != ReplyTypeFor(sent.type)) {
          return Failure("bad frame: answer type " + std::to_string(cut.header.type) +
                         " to a frame of type " + std::to_string(sent.type));
        }
        ExchangeResult result;
        result.ok = true;
        result.answer = cut.header;
        result.body.assign(reinterpret_cast<const char*>(cut.body), cut.bodyLength);
        return result;
      }
      case CutStatus::kNeedMore:
        break;
    }
    uint32_t count = 0;
    const uint32_t error =
        platform::ReceiveBlocking(socket.get(), chunk, sizeof chunk, &count, RemainingMs(deadline));
    if (error == err::kWsaTimedOut)
      return Failure("no answer from " + where + " within " + std::to_string(timeoutMs) + " ms");
    if (error != 0) return Failure("receiving from " + where + " failed: " + ErrorText(error));
    if (count == 0) return Failure(where + " closed the connection before answering");
    received.insert(received.end(), chunk, chunk + count);
  }
}

}  // namespace qolv::client
