// The send path: blocks, coalescing, the three policies, OnSent, refusals and mapped files.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/error_codes.h"
#include "support/net/engine_fixture.h"

namespace qolv::net::testing {
namespace {

std::string Pattern(size_t size, unsigned seed = 1) {
  std::string bytes(size, '\0');
  uint32_t state = seed;
  for (char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  return bytes;
}

const uint8_t* Bytes(const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); }

std::vector<int32_t> SentLengths(const std::vector<Event>& events, uint32_t id) {
  std::vector<int32_t> lengths;
  for (const Event& event : events) {
    if (event.kind == EventKind::Sent && event.id == id) lengths.push_back(event.length);
  }
  return lengths;
}

int32_t Sum(const std::vector<int32_t>& values) {
  int32_t sum = 0;
  for (int32_t value : values) sum += value;
  return sum;
}

using Sending = EngineFixture;

TEST_F(Sending, LargeSendLeavesInBlocksOfTheBufferSize) {
  ASSERT_TRUE(Start());
  uint32_t id = 0;
  auto client = Connect(id);
  const std::string data = Pattern(10000);
  ASSERT_TRUE(server_->Send(id, Bytes(data), static_cast<int32_t>(data.size())));
  EXPECT_EQ(client->Receive(data.size()), data);
  ASSERT_TRUE(listener_.WaitUntil(
      [&](const std::vector<Event>& events) { return SentLengths(events, id).size() >= 3; }));
  std::vector<int32_t> lengths = SentLengths(listener_.Events(), id);
  std::sort(lengths.begin(), lengths.end());
  EXPECT_EQ(lengths, (std::vector<int32_t>{1808, 4096, 4096}));
}

TEST_F(Sending, SmallSendsQueuedTogetherLeaveAsOneBlock) {
  server_->SetWorkerThreadCount(1);  // the flush waits until the event below has returned
  std::atomic<int32_t> pendingSeen{-1};
  listener_.onReceive = [&](ITcpServer* server, uint32_t id, int32_t) {
    server->Send(id, Bytes("0123456789"), 10);
    server->Send(id, Bytes("abcdefghijXYZ"), 10);  // only the first ten bytes
    int32_t pending = 0;
    server->GetPendingSendLength(id, pending);
    pendingSeen = pending;
    return EventResult::Ok;
  };
  ASSERT_TRUE(Start());
  uint32_t id = 0;
  auto client = Connect(id);
  ASSERT_TRUE(client->Send("go"));
  EXPECT_EQ(client->Receive(20), "0123456789abcdefghij");
  ASSERT_TRUE(listener_.WaitForCount(EventKind::Sent, 1));
  EXPECT_EQ(pendingSeen, 20);
  EXPECT_EQ(SentLengths(listener_.Events(), id), std::vector<int32_t>{20});
  int32_t pending = -1;
  ASSERT_TRUE(server_->GetPendingSendLength(id, pending));
  EXPECT_EQ(pending, 0);
}

// Answers for a client that has stopped reading must not wait in a block each once its socket is
// full: after it reads again, they leave in whole blocks.
TEST_F(Sending, SmallSendsToAFullSocketWaitInSharedBlocks) {
  ASSERT_TRUE(Start());
  uint32_t id = 0;
  auto client = Connect(id);
  const std::string answer = Pattern(48, 3);
  constexpr int kAnswers = 200000;  // more than the socket buffers of both ends hold
  for (int i = 0; i < kAnswers; ++i) ASSERT_TRUE(server_->Send(id, Bytes(answer), 48));
  // Sends the socket took at once are reported; the rest waits for the client to read.
  int settled = -1;
  for (int waited = 0; waited < 100 && settled != listener_.Count(EventKind::Sent); ++waited) {
    settled = listener_.Count(EventKind::Sent);
    platform::SleepMs(50);
  }
  const size_t total = size_t{kAnswers} * answer.size();
  EXPECT_EQ(client->Receive(total).size(), total);
  ASSERT_TRUE(listener_.WaitUntil([&](const std::vector<Event>& events) {
    return Sum(SentLengths(events, id)) >= static_cast<int32_t>(total);
  }));
  const std::vector<int32_t> lengths = SentLengths(listener_.Events(), id);
  const auto partial = std::count_if(lengths.begin() + std::min<size_t>(settled, lengths.size()),
                                     lengths.end(), [](int32_t n) { return n < 4096; });
  EXPECT_LE(partial, 3) << "of " << lengths.size() - settled << " sends after the client read again";
}

TEST_F(Sending, EmptySendsSucceedAndBadArgumentsAreRefused) {
  ASSERT_TRUE(Start());
  uint32_t id = 0;
  auto client = Connect(id);
  EXPECT_TRUE(server_->Send(id, Bytes("x"), 0));
  const BufferView nothing[2] = {{0, nullptr}, {0, Bytes("y")}};
  EXPECT_TRUE(server_->SendBuffers(id, nothing, 2));
  platform::SetSystemError(0);
  EXPECT_FALSE(server_->SendBuffers(id, nullptr, 1));
  EXPECT_EQ(platform::GetSystemError(), err::kInvalidParameter);
  EXPECT_FALSE(server_->SendBuffers(id, nothing, 0));
  EXPECT_EQ(platform::GetSystemError(), err::kInvalidParameter);
  EXPECT_FALSE(server_->Send(id + 1, Bytes("x"), 1));
  EXPECT_EQ(platform::GetSystemError(), err::kObjectNotFound);
  EXPECT_TRUE(client->StaysQuiet(100));
  EXPECT_EQ(listener_.Count(EventKind::Sent), 0);
}

TEST_F(Sending, ImmediateSendWithBadArgumentsEndsTheConnection) {
  server_->SetSendPolicy(SendPolicy::Immediate);
  ASSERT_TRUE(Start());
  uint32_t id = 0;
  auto client = Connect(id);
  EXPECT_FALSE(server_->SendBuffers(id, nullptr, 1));
  ASSERT_TRUE(listener_.WaitForClose(id));
  const Event close = listener_.EventsOf(id).back();
  EXPECT_EQ(close.operation, SocketOp::Close);
  EXPECT_EQ(close.error, err::kInvalidParameter);
}

// OnSent runs under the send lock here, and a receive event that sends holds the receive lock
// and then wants the send lock; a query from OnSent that waited for the receive lock would close
// the circle.
TEST_F(Sending, OnSentUnderTheSendLockAsksForTheLocalAddressWithoutTheReceiveLock) {
  server_->SetSendEventLocking(SendEventLocking::UnderSendLock);
  std::atomic<bool> receiving{false};
  std::atomic<bool> asked{false};
  std::atomic<bool> answered{false};
  std::atomic<bool> receiveGaveUp{false};
  const auto waitFor = [](const std::atomic<bool>& flag, uint32_t patience = kPatience) {
    for (uint32_t waited = 0; waited < patience && !flag; waited += 5) platform::SleepMs(5);
    return flag.load();
  };
  listener_.onReceive = [&](ITcpServer*, uint32_t, int32_t) {
    receiving = true;
    // Half the patience, so the test below still sees the event end when this gives up.
    receiveGaveUp = !waitFor(asked, kPatience / 2);
    return EventResult::Ok;
  };
  listener_.onSent = [&](ITcpServer* server, uint32_t id, const uint8_t*, int32_t) {
    if (asked || !waitFor(receiving)) return;
    char text[64] = {};
    int length = sizeof text;
    uint16_t port = 0;
    answered = server->GetConnectionLocalAddress(id, text, length, port) && port == port_;
    asked = true;
  };
  ASSERT_TRUE(Start());
  uint32_t id = 0;
  auto client = Connect(id);
  ASSERT_TRUE(client->Send("x"));
  ASSERT_TRUE(waitFor(receiving));
  ASSERT_TRUE(server_->Send(id, Bytes("y"), 1));
  ASSERT_TRUE(listener_.WaitForCount(EventKind::Receive, 1));
  EXPECT_FALSE(receiveGaveUp) << "the query waited for the receive lock while OnSent held the send lock";
  EXPECT_TRUE(answered);
  EXPECT_EQ(client->Receive(1), "y");
}

class Policies : public EngineFixture,
                 public ::testing::WithParamInterface<std::tuple<SendPolicy, SendEventLocking>> {};

TEST_P(Policies, ManySendsArriveInOrderAndEveryByteIsReported) {
  server_->SetSendPolicy(std::get<0>(GetParam()));
  server_->SetSendEventLocking(std::get<1>(GetParam()));
  ASSERT_TRUE(Start());
  uint32_t id = 0;
  auto client = Connect(id);
  const std::string data = Pattern(300000, 7);
  // Uneven pieces, so block borders and send borders do not line up.
  for (size_t offset = 0; offset < data.size();) {
    const auto piece = static_cast<int32_t>(std::min<size_t>(data.size() - offset, 777 + offset % 9000));
    ASSERT_TRUE(server_->Send(id, Bytes(data), piece, static_cast<int32_t>(offset)));
    offset += static_cast<size_t>(piece);
  }
  EXPECT_EQ(client->Receive(data.size()), data);
  ASSERT_TRUE(listener_.WaitUntil(
      [&](const std::vector<Event>& events) { return Sum(SentLengths(events, id)) >= 300000; }));
  const std::vector<int32_t> lengths = SentLengths(listener_.Events(), id);
  EXPECT_EQ(Sum(lengths), 300000);
  EXPECT_TRUE(std::all_of(lengths.begin(), lengths.end(), [](int32_t n) { return n > 0 && n <= 4096; }));
}

INSTANTIATE_TEST_SUITE_P(
    Engine, Policies,
    ::testing::Values(std::make_tuple(SendPolicy::Batched, SendEventLocking::Unlocked),
                      std::make_tuple(SendPolicy::Paced, SendEventLocking::UnderSendLock),
                      std::make_tuple(SendPolicy::Immediate, SendEventLocking::UnderReceiveLock)));

// A file of the given size in the temporary folder, removed with the object.
class TempFile {
 public:
  TempFile(const char* name, const std::string& content)
      : path_(std::filesystem::temp_directory_path() / name) {
    std::ofstream(path_, std::ios::binary)
        .write(content.data(), static_cast<std::streamsize>(content.size()));
  }
  ~TempFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  std::string Path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

TEST_F(Sending, MappedFileGoesOutBetweenItsHeadAndTail) {
  ASSERT_TRUE(Start());
  uint32_t id = 0;
  auto client = Connect(id);
  const TempFile file("qolv_engine_mapped.bin", Pattern(5000, 3));
  const std::string head = "HEAD:";
  const std::string tail = ":TAIL";
  const BufferView headView{static_cast<uint32_t>(head.size()), Bytes(head)};
  const BufferView tailView{static_cast<uint32_t>(tail.size()), Bytes(tail)};
  ASSERT_TRUE(server_->SendMappedFile(id, file.Path().c_str(), &headView, &tailView));
  EXPECT_EQ(client->Receive(5010), head + Pattern(5000, 3) + tail);
}

TEST_F(Sending, MappedFileSizesAreBoundedAndFailuresSendNothing) {
  ASSERT_TRUE(Start());
  uint32_t id = 0;
  auto client = Connect(id);
  const std::string head(100, 'h');
  const BufferView headView{100, Bytes(head)};

  platform::SetSystemError(0);
  EXPECT_FALSE(server_->SendMappedFile(id, "no such file here.bin", nullptr, nullptr));
  EXPECT_EQ(platform::GetSystemError(), err::kFileNotFound);
  {
    const TempFile empty("qolv_engine_empty.bin", "");
    EXPECT_FALSE(server_->SendMappedFile(id, empty.Path().c_str(), nullptr, nullptr));
    EXPECT_EQ(platform::GetSystemError(), err::kFileInvalid);
  }
  {
    const TempFile tooLarge("qolv_engine_large.bin", std::string(0x3FFFFF - 99, 'x'));
    EXPECT_FALSE(server_->SendMappedFile(id, tooLarge.Path().c_str(), &headView, nullptr));
    EXPECT_EQ(platform::GetSystemError(), err::kFileTooLarge);
  }
  EXPECT_TRUE(client->StaysQuiet(100));

  const std::string content = Pattern(0x3FFFFF - 100, 5);
  const TempFile largest("qolv_engine_largest.bin", content);
  ASSERT_TRUE(server_->SendMappedFile(id, largest.Path().c_str(), &headView, nullptr));
  EXPECT_TRUE(client->Receive(0x3FFFFF) == head + content);
}

}  // namespace
}  // namespace qolv::net::testing
