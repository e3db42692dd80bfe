#include "net/write_batcher.h"

#include <algorithm>
#include <asio/post.hpp>
#include <utility>

#include "net/asio_connection.h"

namespace orv {

WriteBatcher::WriteBatcher(asio::any_io_executor executor) : executor_(std::move(executor)) {}

void WriteBatcher::MarkDirty(AsioConnection* connection) {
  dirty_.push_back(connection);
  if (flushPosted_) return;
  flushPosted_ = true;
  receivesAtPost_ = receives_;
  // A marked connection unmarks itself when it goes away; the weak reference covers a
  // network torn down before the flush.
  PostFlush();
}

void WriteBatcher::Forget(AsioConnection* connection) {
  std::replace(dirty_.begin(), dirty_.end(), connection, static_cast<AsioConnection*>(nullptr));
}

void WriteBatcher::PostFlush() {
  asio::post(executor_, [weak = weak_from_this()] {
    if (auto self = weak.lock()) self->FlushDirty();
  });
}

void WriteBatcher::FlushDirty() {
  // More input came in with the receive that asked for this flush: it is likely that more
  // is on its way in the next look at the sockets, so wait for that once. Output of many
  // receives then shares one write per connection, which costs far less than the short
  // wait (one pass of the loop).
  if (receives_ != receivesAtPost_ && !deferred_) {
    deferred_ = true;
    receivesAtPost_ = receives_;
    PostFlush();
    return;
  }
  deferred_ = false;
  // Writing never calls into the engine and never drops a reference to a connection (its
  // end events are posted), so every connection in the list stays alive through its
  // Flush; one that went away before was taken out by its destructor. A connection marked
  // meanwhile is handled in this same pass: walk by index.
  for (std::size_t i = 0; i < dirty_.size(); ++i) {
    AsioConnection* connection = dirty_[i];
    if (connection == nullptr) continue;
    dirty_[i] = nullptr;
    connection->FlushListed();
  }
  dirty_.clear();
  // A long list after a storm is not kept for ever.
  if (dirty_.capacity() > 4096) dirty_.shrink_to_fit();
  flushPosted_ = false;
}

}  // namespace orv
