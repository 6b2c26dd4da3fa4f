#include "zorv-host/event_stream.h"

#include <algorithm>

namespace Zorv::Host {

std::shared_ptr<EventStream::Client> EventStream::Join(size_t capacity) {
  std::lock_guard lock(mutex_);
  if (closed_ || clients_.size() >= kMaxClients) return nullptr;
  clients_.push_back(std::shared_ptr<Client>(new Client(capacity)));
  return clients_.back();
}

void EventStream::Leave(const std::shared_ptr<Client>& client) {
  std::lock_guard lock(mutex_);
  std::erase(clients_, client);
}

void EventStream::Publish(const std::string& message) {
  std::lock_guard lock(mutex_);
  for (auto it = clients_.begin(); it != clients_.end();) {
    Client& client = **it;
    bool drop = false;
    {
      std::lock_guard clientLock(client.mutex_);
      if (client.queue_.size() >= client.capacity_) {
        client.ended_ = true;
        client.queue_.clear();
        drop = true;
      } else {
        client.queue_.push_back(message);
      }
    }
    client.changed_.notify_all();
    it = drop ? clients_.erase(it) : it + 1;
  }
}

void EventStream::Close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  for (const auto& client : clients_) {
    {
      std::lock_guard clientLock(client->mutex_);
      client->ended_ = true;
    }
    client->changed_.notify_all();
  }
  clients_.clear();
}

size_t EventStream::Clients() const {
  std::lock_guard lock(mutex_);
  return clients_.size();
}

bool EventStream::Client::Next(std::chrono::milliseconds wait,
                               std::optional<std::string>& message) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, wait, [&] { return ended_ || !queue_.empty(); });
  message.reset();
  if (ended_) return false;
  if (!queue_.empty()) {
    message = std::move(queue_.front());
    queue_.pop_front();
  }
  return true;
}

bool EventStream::Client::Dropped() const {
  std::lock_guard lock(mutex_);
  return ended_;
}

}  // namespace Zorv::Host
