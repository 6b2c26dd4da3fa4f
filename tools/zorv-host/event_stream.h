// EventStream: the fan-out of events to the clients of GET /events (server-
// sent events). The host thread publishes; each client's server thread takes
// its messages and writes them.
//
// Promises:
// - Publish never blocks on a client: each client has a bounded queue, and a
//   client whose queue overflows (a slow or gone reader) is dropped: its Next
//   answers false and it never gets another message.
// - At most kMaxClients clients at once (each holds a server thread); Join
//   answers null beyond that.
// - Close ends every client's wait and refuses new clients.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Zorv::Host {

class EventStream {
 public:
  static constexpr size_t kMaxClients = 8;
  static constexpr size_t kMaxQueued = 1024;

  class Client;

  // A new client, or null when closed or full. `capacity`: queue bound.
  std::shared_ptr<Client> Join(size_t capacity = kMaxQueued);
  void Leave(const std::shared_ptr<Client>& client);
  // Queues `message` (one SSE data line) for every client.
  void Publish(const std::string& message);
  void Close();
  size_t Clients() const;

  class Client {
   public:
    // The next message; nothing after `wait` with no message (the caller
    // writes a keep-alive comment then); false when the client is dropped or
    // the stream closed.
    bool Next(std::chrono::milliseconds wait, std::optional<std::string>& message);
    bool Dropped() const;

   private:
    friend class EventStream;
    explicit Client(size_t capacity) : capacity_(capacity) {}
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> queue_;
    size_t capacity_;
    bool ended_ = false;
  };

 private:
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<Client>> clients_;
  bool closed_ = false;
};

}  // namespace Zorv::Host
