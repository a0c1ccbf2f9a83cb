// The sibling messenger: one per process, the stacked back of every sibling stream.
//
// A sibling writes each message as a block of its own write area in the pool and sends the
// receiver the 8-byte notice MessageAt(offset) over the receiver's FIFO; the receiver reads the
// block in place and answers AckMessageAt(offset), which frees it. The supervisor (id 0) is the
// hub: it assigns areas, introduces siblings to each other, answers peer requests and arbitrates
// the shutdown handshake; after an introduction two siblings talk directly.
//
// Speed: notices and acknowledgements are not written one by one. They wait in the queues and
// leave together, many per write(2), when the process is about to wait (the FIFO reader's
// prepareWait), when a batch is full, or on flush(); an acknowledgement leaves in the same write
// as the reply to the message it acknowledges. Order is kept: a sender's notices (everything
// but acknowledgements) leave in one global order across all receivers, so a receiver whose
// FIFO is full holds back the queue behind it.
//
// Trust: whatever a peer puts into the pool or onto our FIFO is checked before it is used. A
// peer that breaks the protocol makes the messenger raise ESiblingProtocolError naming it (as a
// claim, unless it came on the sender's own channel), and nothing of the bad message is
// applied. The supervisor keeps the block headers of its own area in private memory and raises
// EPoolCorrupted when a shared one was overwritten; a child maps every area but its own
// read-only. Inconsistencies of the own allocator's view stay assertions.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "io/closure.h"
#include "io/passable.h"
#include "io/sibling/block_allocator.h"
#include "io/sibling/containers.h"
#include "io/sibling/control_message.h"
#include "io/sibling/fifo.h"
#include "io/sibling/received_queue.h"
#include "io/sibling/shared_memory.h"
#include "io/sibling/sibling_error.h"
#include "io/stacked.h"

namespace io {

class SiblingMessengerParent;

// What a process needs to attach to the pool. A child fills it from its environment.
struct siblingmessenger_conf_t {
  int mapfile = 0;  // the pool descriptor as passed; 0 in the supervisor, which owns the pool
  std::string fifoprefix;
  uint64_t mapsize = 0;
  // The writing end of this child's own channel to the parent, or -1: the child then writes
  // to the parent's FIFO (fifoprefix + ".0").
  int channel = -1;

  // Reads prefix + "::mapfile", "::mapsize", "::fifoprefix" and, when present,
  // "::channel". Missing or malformed values raise error::EFatal naming the variable.
  static siblingmessenger_conf_t fromVariables(const Variables& vars,
                                               const std::string& prefix = "smem");
  static siblingmessenger_conf_t fromEnvironment(const std::string& prefix = "smem");
};

class SiblingMessenger : public siblingmessenger_conf_t, public StackedSelectableBack {
 public:
  class SiblingImplementation;
  using SiblingRef = refcount_ptr<SiblingImplementation>;

  // A front that is ready while its owner has something to hand out.
  class NoticeFront : public StackedSelectableFront {
   public:
    NoticeFront(StackedSelectableBack* back, std::string name)
        : StackedSelectableFront(back), name_(std::move(name)) {}
    std::string describe() const override { return name_; }

   private:
    std::string name_;
  };

  // How children reach the parent: through its FIFO, which any process of the user can open
  // (tests and tools), or only through channels of their own (childChannel), the FIFO's name
  // removed at once.
  enum class ParentInput { Fifo, ChannelsOnly };

  // The supervisor's messenger (id 0) over the parent's pool; takes its own area at once. Its
  // block headers are kept in private memory (AreaAllocator::Headers::Shadowed).
  explicit SiblingMessenger(SiblingMessengerParent& parent, ParentInput input = ParentInput::Fifo);
  // A child's messenger: maps the pool, publishes its FIFO and tells the parent IAmUp. Its
  // streams become writable when the parent has told it its area.
  SiblingMessenger(const siblingmessenger_conf_t& conf, int32_t my_id);
  ~SiblingMessenger() override;

  int32_t id() const { return my_id_; }
  bool isParent() const { return parent_ != nullptr; }

  // The implementation of a peer (its two streams), created on first use. Writing to a peer
  // that is not connected yet asks the parent for it; the message waits until it connects.
  SiblingRef sibling(int32_t id);
  // The implementation of a peer if one exists, else null.
  SiblingRef findSibling(int32_t id) const;

  // Ready while newly connected siblings wait to be taken (in the supervisor).
  NoticeFront& newSiblings() { return new_siblings_; }
  // The next newly connected sibling, or null.
  SiblingRef takeNewSibling();
  // Ready while some peer's input stream has a message or an end of stream to report.
  NoticeFront& someSibling() { return some_sibling_; }
  // The peer whose message arrived first among those unread, or null.
  SiblingRef firstReadable() const;

  // A child asks to leave: from now on it writes only to the parent; once every peer has
  // read what it sent, the parent acknowledges, and its input streams end when its own
  // messages have all been acknowledged.
  void initShutdown();
  bool shuttingDown() const { return shutting_down_; }
  bool shutdownAcknowledged() const { return shutdown_acked_; }

  // The supervisor reports that a child process has ended.
  void siblingDied(int32_t id);

  // In the parent: a channel that only the child about to be started as `id` can write to.
  // Pass it to io::Process under the pool's prefix instead of the parent (it adds the pool's
  // variables and prefix + "::channel"), and destroy it once the process has started: the
  // parent keeps only the reading end. What arrives on it is that child's, whatever sender id
  // a message claims. A new channel for an id replaces the old one.
  class ChildChannel;
  std::unique_ptr<ChildChannel> childChannel(int32_t id);

  // In the parent: writes to `id` wait (its output stream is not ready) while the messages
  // sent to it and not yet acknowledged hold `bytes` or more of our area, so that one peer
  // that does not read cannot take all of it.
  void limitOutstanding(int32_t id, uint64_t bytes);
  // Stops talking to a peer: drops what waits for it and closes its FIFO; its input stream
  // ends once drained.
  void shutdownComms(int32_t id);

  // Writes every batched notice and acknowledgement the FIFOs take now; true when nothing
  // is left waiting.
  bool flush();

  bool writable() const { return alloc_.writable(); }
  const AreaAllocator& allocator() const { return alloc_; }
  // Our mapping of the pool (read-only outside our own area in a child).
  const uint8_t* poolBase() const { return base_; }
  size_t outstandingMessages() const { return outstanding_.size(); }
  const std::string& fifoPath() const { return reader_->path(); }

  void underlyingIsReady(Selectable& underlying) override;
  // Reads what the FIFO holds now and handles it, without waiting (for loops that do not wait
  // in a selector, and for tests). True when something was handled.
  bool pollInput();

 private:
  friend class SiblingImplementation;
  struct Ordered {
    int32_t receiver;
    uint64_t message;
  };

  void init();
  void setupFifo();
  void openParentWriter(SiblingImplementation& parent, int channel);
  // The slot of a valid sibling id in the per-sibling tables.
  static constexpr size_t slotOf(int32_t id) { return static_cast<size_t>(id - kMinSiblingId); }
  SiblingImplementation* find(int32_t id) const {
    return validSiblingId(id) ? impls_[slotOf(id)].get() : nullptr;
  }
  SiblingImplementation& impl(int32_t id);
  SiblingImplementation& freshImpl(int32_t id);
  void openWriter(SiblingImplementation& si);
  void openFifo(SiblingImplementation& si);

  // Output.
  bool trySend(SiblingImplementation& si, ControlMessage m);
  void send(SiblingImplementation& si, ControlMessage m);
  void sendToParent(ControlMessage m);
  void sendArea(SiblingImplementation& to, int32_t whose, uint64_t offset, uint64_t size);
  // Takes our own area: lays it out, and makes the streams writable.
  void initArea(uint64_t offset, uint64_t size);
  void maybeFlush();
  void flushAll();
  static void beforeWait(void* self);
  bool writeBatch(SiblingImplementation& si, const uint64_t* words, size_t n);
  void watchWriter(SiblingImplementation& si, bool on);
  void dropOutput(SiblingImplementation& si);
  // The peer asked to leave: its end is expected.
  bool leaving(const SiblingImplementation& si) const;
  void announce();
  void sendDelayed(SiblingImplementation& si);
  void requestPeer(SiblingImplementation& si);
  void sendAck(SiblingImplementation& si, uint64_t offset, uint64_t length);
  void releaseBlock(uint64_t offset);

  // Input.
  void readInput();
  void readChannel(ChannelReader& ch);
  void handle(ControlMessage m);
  void onMessageAt(ControlMessage m);
  void onAck(ControlMessage m);
  void onExtra(ControlMessage m);
  void onSiblingAt(ControlMessage m);
  void onRequestPeer(ControlMessage m);
  void onIAmUp(ControlMessage m);
  void onInitShutdown(ControlMessage m);
  void onAckShutdown(ControlMessage m);
  void onSiblingDied(ControlMessage m);
  // Names the sender of the message being handled, as verified when it came on its channel.
  [[noreturn]] void violation(int32_t sibling, const std::string& what) const;

  // Streams and life of peers.
  void smQueueUpdated(SiblingImplementation& si);
  // Recomputes every output stream's ready flag (the area filled up or has room again, our
  // own shutdown moved on).
  void updateOStreams();
  void updateOStream(SiblingImplementation& si);
  void appendNull(SiblingImplementation& si);
  void markGone(SiblingImplementation& si);
  void siblingGone(int32_t id);
  void closeComms(SiblingImplementation& si);
  void checkPendingShutdown(SiblingImplementation& si);
  void checkEndOfStreams();

  int32_t my_id_;
  SiblingMessengerParent* parent_ = nullptr;
  std::unique_ptr<SharedMemory> attached_;
  SharedMemory* pool_;
  uint8_t* base_;
  uint64_t page_size_;
  AreaAllocator alloc_;
  std::map<uint64_t, int32_t> write_areas_;  // area offset -> sibling id
  // Block offset -> receiver id (+ kDelayed while the notice waits for the peer's FIFO).
  OutstandingTable outstanding_;
  Ring<Ordered> ordered_;
  std::vector<int32_t> ack_peers_;  // peers with acknowledgements waiting
  size_t pending_acks_ = 0;
  uint64_t announced_bytes_ = 0;               // payload announced since the last flush
  uint64_t notice_flush_bytes_ = 1024 * 1024;  // ... after which the notices leave at once
  bool flushing_ = false;
  std::unique_ptr<FifoReader> reader_;
  // In the parent: each child's channel, by id.
  std::array<std::unique_ptr<ChannelReader>, kMaxSiblingId - kMinSiblingId + 1> channels_;
  bool input_verified_ = false;  // the message being handled came on its sender's channel
  std::array<SiblingRef, kMaxSiblingId - kMinSiblingId + 1> impls_;
  ReceivedQueue rmsgs_;
  std::vector<ControlMessage> extras_;
  NoticeFront new_siblings_;
  NoticeFront some_sibling_;
  std::deque<int32_t> new_ids_;
  bool shutting_down_ = false;
  bool shutdown_acked_ = false;
  bool eos_added_ = false;
  // The one message in writing (between writeBegin and writeCommit) and the one committed but
  // not yet announced, with its size and the capacity of its block.
  SiblingImplementation* writing_ = nullptr;
  SiblingImplementation* unnotified_ = nullptr;
  uint64_t written_ = 0;
  uint64_t capacity_ = 0;
  // Acknowledgements that arrived while a block was offered: the cursor must not move under
  // the writer, so they are applied at its commit.
  std::vector<uint32_t> deferred_release_;
  std::vector<uint32_t> scratch_;
};

// The pool passed to one child together with the writing end of its channel to the parent.
class SiblingMessenger::ChildChannel : public Passable {
 public:
  ChildChannel(SiblingMessengerParent& parent, int write_fd) : parent_(parent), fd_(write_fd) {}
  // Closes the parent's copy of the writing end.
  ~ChildChannel() override;
  ChildChannel(const ChildChannel&) = delete;
  ChildChannel& operator=(const ChildChannel&) = delete;

  void pass(Variables& variables, const std::string& prefix, std::vector<int>& inherit) override;

 private:
  SiblingMessengerParent& parent_;
  int fd_;
};

}  // namespace io

#include "io/sibling/sibling_implementation.h"
