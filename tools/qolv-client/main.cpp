// qolv-client: sends one request or heartbeat to the printer proxy and prints the answer.
#include <cstdio>
#include <string>
#include <vector>

#include "client_exchange.h"
#include "client_options.h"
#include "frame_codec.h"
#include "platform/socket_io.h"

int main(int argc, char** argv) {
  using namespace qolv;
  client::ClientOptions options;
  const std::string complaint =
      client::ParseClientOptions(std::vector<std::string>(argv + 1, argv + argc), options);
  if (options.help) {
    std::fputs(client::ClientUsage().c_str(), stdout);
    return 0;
  }
  if (!complaint.empty()) {
    std::fprintf(stderr, "qolv-client: %s\n%s", complaint.c_str(), client::ClientUsage().c_str());
    return 2;
  }
  if (!platform::StartSocketLibrary()) {
    std::fputs("qolv-client: the socket library did not start\n", stderr);
    return 1;
  }
  const client::MessageId id = client::NewMessageId();
  const uint8_t type = options.heartbeat ? TPMT_HEART_BEAT : options.type;
  const std::string body =
      options.heartbeat ? std::string() : client::RequestBody(options.action, options.param);
  const client::ExchangeResult result =
      client::Exchange(options.host, options.port,
                       client::BuildFrame(type, id.data(), client::UnixTimeMs(), body), options.timeoutMs);
  platform::StopSocketLibrary();
  if (!result.ok) {
    std::fprintf(stderr, "qolv-client: %s\n", result.error.c_str());
    return 1;
  }
  if (options.heartbeat) {
    std::printf("heartbeat acknowledged: type %d, message id %s\n", result.answer.type,
                result.answer.MessageIdText().c_str());
    return 0;
  }
  std::printf("type: %d\nmessage id: %s\nbody (%u bytes): ", result.answer.type,
              result.answer.MessageIdText().c_str(), static_cast<unsigned>(result.body.size()));
  // The body is the SDK's text as sent, zero bytes included.
  std::fwrite(result.body.data(), 1, result.body.size(), stdout);
  std::fputc('\n', stdout);
  return 0;
}
