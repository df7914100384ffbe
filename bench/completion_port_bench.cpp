// Costs of the completion port: a posted packet through the queue, and a small message sent
// over loopback and received, each completion taken from the port.
#include <benchmark/benchmark.h>

#include <vector>

#include "platform/completion_port.h"
#include "platform/socket_client.h"
#include "platform/socket_io.h"

namespace qolv::platform {
namespace {

constexpr uint32_t kPatience = 10000;

void BM_PostAndWait(benchmark::State& state) {
  CompletionPort port;
  if (!port.Open()) {
    state.SkipWithError("port");
    return;
  }
  Completion completion;
  for (auto _ : state) {
    port.Post(1, 2);
    port.Wait(completion, kPatience);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PostAndWait);

// A client and an accepted server socket on 127.0.0.1, both associated with one port.
struct LoopbackPair {
  CompletionPort port;
  SocketHandle listener = kInvalidSocket;
  SocketHandle client = kInvalidSocket;
  SocketHandle server = kInvalidSocket;

  bool Open() {
    StartSocketLibrary();
    SockAddr address{};
    if (!port.Open() || TextToAddress("127.0.0.1", kFamilyInet, address) != 0) return false;
    listener = CreateStreamSocket(kFamilyInet);
    client = CreateStreamSocket(kFamilyInet);
    if (BindSocket(listener, address) != 0 || ListenSocket(listener, 8) != 0 ||
        LocalAddress(listener, address) != 0 || !port.Associate(listener, 1)) {
      return false;
    }
    const AcceptFunctions functions = LookupAcceptFunctions(listener);
    Overlapped overlapped{};
    char addresses[128];
    if (StartAccept(functions, listener, kFamilyInet, &overlapped, addresses, &server) != 0 ||
        ConnectBlocking(client, address, kPatience) != 0) {
      return false;
    }
    Completion accepted;
    return port.Wait(accepted, kPatience) && accepted.ok && port.Associate(server, 2) &&
           port.Associate(client, 3);
  }

  ~LoopbackPair() {
    CloseSocket(client);
    CloseSocket(server);
    CloseSocket(listener);
    port.Close();
  }
};

// One message each way per iteration: the client sends, the server receives it whole and echoes
// it, the client receives it; at least four completions in all.
void BM_LoopbackEcho(benchmark::State& state) {
  LoopbackPair pair;
  if (!pair.Open()) {
    state.SkipWithError("loopback pair");
    return;
  }
  const uint32_t size = static_cast<uint32_t>(state.range(0));
  std::vector<char> message(size, 'm');
  std::vector<char> serverBuffer(size);
  std::vector<char> clientBuffer(size);
  Overlapped ops[4] = {};
  Completion completion;
  for (auto _ : state) {
    StartSend(pair.client, message.data(), size, &ops[0]);
    uint32_t echoed = 0;
    uint32_t answered = 0;
    StartReceive(pair.server, serverBuffer.data(), size, &ops[1]);
    StartReceive(pair.client, clientBuffer.data(), size, &ops[2]);
    // Bounded: every wait gives up after kPatience, and one message each way ends the round.
    while (answered < size && pair.port.Wait(completion, kPatience) && completion.ok) {
      if (completion.overlapped == &ops[1]) {
        echoed += completion.bytes;
        if (echoed < size) {
          StartReceive(pair.server, serverBuffer.data() + echoed, size - echoed, &ops[1]);
        } else {
          StartSend(pair.server, serverBuffer.data(), size, &ops[3]);
        }
      } else if (completion.overlapped == &ops[2]) {
        answered += completion.bytes;
        if (answered < size)
          StartReceive(pair.client, clientBuffer.data() + answered, size - answered, &ops[2]);
      }
    }
    if (answered < size) {
      state.SkipWithError("echo stalled");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * size * 2);
}
BENCHMARK(BM_LoopbackEcho)->Arg(64)->Arg(4096);

}  // namespace
}  // namespace qolv::platform
