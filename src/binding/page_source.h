// PageSource: the process-wide supply of 4096-byte pages, aligned on 4096
// bytes, from which every ValueArena's pools take their pages.
//
// Pages are cut from chunks of the framework allocator. A page given back
// becomes free for the next take(); a chunk whose pages are all free is
// released to the allocator once more than one such chunk is idle, so a burst
// of large trees does not keep its memory for the life of the process.
//
// Thread-safe (one mutex). The first 8 bytes of a page belong to the source
// for as long as the page is lent out: a user lays its data after them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace Zorv {

class PageSource {
 public:
  static constexpr size_t kPageSize = 4096;
  // Bytes at the start of a lent page that the user must leave alone.
  static constexpr size_t kReservedBytes = 8;

  // The one source of the process. Its storage is never torn down, so values
  // that outlive static destruction can still give their pages back; when the
  // library's static objects are destroyed (unload or exit) it gives the idle
  // chunks back to the allocator, and every chunk that empties later too.
  static PageSource& Instance();

  // A page; throws std::bad_alloc when the allocator has no memory.
  void* take();
  // REQUIRES: `page` came from take() and is not used afterwards.
  void give(void* page);

  struct Stats {
    size_t lentPages = 0;   // taken and not given back
    size_t heldChunks = 0;  // chunks kept from the allocator
  };
  Stats stats() const;

 private:
  struct Chunk;

  constexpr PageSource() = default;
  Chunk* newChunk();
  // Frees the idle chunks and keeps none from then on.
  void close();
  friend struct PageSourceCloser;

  static PageSource instance_;
  static void Link(Chunk*& head, Chunk* chunk);
  static void Unlink(Chunk*& head, Chunk* chunk);

  mutable std::mutex mutex_;
  Chunk* partial_ = nullptr;  // some pages free, some lent
  Chunk* idle_ = nullptr;     // every page free
  size_t idleChunks_ = 0;
  size_t heldChunks_ = 0;
  size_t lentPages_ = 0;
  bool closing_ = false;
};

}  // namespace Zorv
