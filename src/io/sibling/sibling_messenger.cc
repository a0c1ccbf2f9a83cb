#include "io/sibling/sibling_messenger.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>

#include "error/assert.h"
#include "error/exception.h"
#include "io/sibling/messenger_parent.h"
#include "util/parse.h"

namespace io {

namespace {

// A write to the FIFO of a peer that died must fail with EPIPE, not kill this process.
void ignoreSigpipe() {
  struct sigaction old = {};
  if (::sigaction(SIGPIPE, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) {
    ::signal(SIGPIPE, SIG_IGN);
  }
}

}  // namespace

siblingmessenger_conf_t siblingmessenger_conf_t::fromVariables(const Variables& vars,
                                                               const std::string& prefix) {
  auto get = [&](const char* suffix) -> const std::string& {
    auto it = vars.find(prefix + suffix);
    if (it == vars.end()) throw error::EFatal("Missing variable " + prefix + suffix);
    return it->second;
  };
  siblingmessenger_conf_t c;
  try {
    c.mapfile = util::parse<int>(get("::mapfile"));
    c.mapsize = util::parse<unsigned long long>(get("::mapsize"));
  } catch (const error::EParseError& e) {
    throw error::EFatal("Bad shared memory variables under " + prefix + ": " + e.message());
  }
  c.fifoprefix = get("::fifoprefix");
  if (auto it = vars.find(prefix + "::channel"); it != vars.end()) {
    try {
      c.channel = util::parse<int>(it->second);
    } catch (const error::EParseError& e) {
      throw error::EFatal("Bad shared memory variables under " + prefix + ": " + e.message());
    }
  }
  if (c.mapfile < 0 || c.mapsize == 0 || c.mapsize > 0xfffffff8u || c.fifoprefix.empty() ||
      c.channel < -1) {
    throw error::EFatal("Bad shared memory variables under " + prefix);
  }
  return c;
}

siblingmessenger_conf_t siblingmessenger_conf_t::fromEnvironment(const std::string& prefix) {
  Variables vars;
  for (const char* suffix : {"::mapfile", "::mapsize", "::fifoprefix", "::channel"}) {
    if (const char* v = std::getenv((prefix + suffix).c_str())) vars[prefix + suffix] = v;
  }
  return fromVariables(vars, prefix);
}

SiblingMessenger::SiblingMessenger(SiblingMessengerParent& parent, ParentInput input)
    : my_id_(0),
      parent_(&parent),
      pool_(&parent.pool()),
      base_(parent.pool().base()),
      page_size_(parent.pageSize()),
      alloc_(base_, parent.mapSize(), AreaAllocator::Headers::Shadowed),
      new_siblings_(this, "NewSiblings"),
      some_sibling_(this, "SomeSibling") {
  fifoprefix = parent.fifoPrefix();
  mapsize = parent.mapSize();
  init();
  // Still read (it carries the wake-ups of the loop), but nobody can open it any more.
  if (input == ParentInput::ChannelsOnly) reader_->unpublish();
  uint64_t size = parent.smemSliceSize(0);
  VX_ASSERT(size % 8 == 0, "Slice size for sibling id 0 is not 8 byte aligned!");
  uint64_t offset = parent.markAreaUsed(0, size);
  write_areas_[offset] = 0;
  initArea(offset, size);
}

SiblingMessenger::SiblingMessenger(const siblingmessenger_conf_t& conf, int32_t my_id)
    : siblingmessenger_conf_t(conf),
      my_id_(my_id),
      attached_(std::make_unique<SharedMemory>(SharedMemory::Attach{}, conf.mapfile, conf.mapsize)),
      pool_(attached_.get()),
      base_(attached_->base()),
      page_size_(static_cast<uint64_t>(::sysconf(_SC_PAGESIZE))),
      alloc_(base_, conf.mapsize),
      new_siblings_(this, "NewSiblings"),
      some_sibling_(this, "SomeSibling") {
  VX_ASSERT(validSiblingId(my_id) && my_id != 0, "my_sibling_id out of range.");
  if (conf.mapsize < 2 * page_size_ || attached_->magic() != kPoolMagic) {
    throw error::EFatal("Wrong header of shared memory pool");
  }
  init();
  openParentWriter(impl(0), conf.channel);
  sendToParent(ControlMessage::withId(MessageType::IAmUp, my_id_, my_id_));
  flushAll();
}

void SiblingMessenger::openParentWriter(SiblingImplementation& p, int channel) {
  if (channel < 0) return openWriter(p);
  p.writer_.adopt(
      channel, "Cannot use the channel to the parent (descriptor " + std::to_string(channel) + ")");
  p.broken_ = false;
  p.closed_ = false;
  updateOStream(p);
}

void SiblingMessenger::init() {
  ignoreSigpipe();
  setupFifo();
}

void SiblingMessenger::setupFifo() {
  reader_ = std::make_unique<FifoReader>(io::fifoPath(fifoprefix, my_id_));
  reader_->setBeforeWait(&SiblingMessenger::beforeWait, this);
  setUnderlying(reader_.get(), true);
}

SiblingMessenger::~SiblingMessenger() {
  // What is batched still leaves: a peer may be waiting for an acknowledgement.
  try {
    flushAll();
  } catch (const error::Exception&) {
  }
  for (SiblingRef& r : impls_) {
    if (!r) continue;
    watchWriter(*r, false);
    r->detach();
    r.reset();
  }
  for (auto& ch : channels_) {
    if (!ch) continue;
    setUnderlying(ch.get(), false);
    ch.reset();
  }
  setUnderlying(reader_.get(), false);
  reader_.reset();
}

SiblingMessenger::SiblingImplementation& SiblingMessenger::impl(int32_t id) {
  VX_ASSERT(validSiblingId(id) && id != my_id_, "No sibling implementation for id ", id);
  SiblingRef& r = impls_[slotOf(id)];
  if (!r) {
    r = SiblingRef(new SiblingImplementation(*this, id));
    updateOStream(*r);
  }
  return *r;
}

SiblingMessenger::SiblingImplementation& SiblingMessenger::freshImpl(int32_t id) {
  SiblingRef& r = impls_[slotOf(id)];
  if (r && r->gone_) {
    // A sibling that comes back is a new peer: the old implementation keeps what the old one
    // sent for whoever still reads it.
    watchWriter(*r, false);
    r->writer_.close();
    r.reset();
  }
  return impl(id);
}

SiblingMessenger::SiblingRef SiblingMessenger::sibling(int32_t id) {
  return SiblingRef(&impl(id));
}

SiblingMessenger::SiblingRef SiblingMessenger::findSibling(int32_t id) const {
  return SiblingRef(find(id));
}

SiblingMessenger::SiblingRef SiblingMessenger::takeNewSibling() {
  SiblingRef r;
  while (!r && !new_ids_.empty()) {
    r = SiblingRef(find(new_ids_.front()));
    new_ids_.pop_front();
  }
  new_siblings_.setReadyFlag(!new_ids_.empty());
  return r;
}

SiblingMessenger::SiblingRef SiblingMessenger::firstReadable() const {
  if (rmsgs_.empty()) return SiblingRef();
  const void* from = rmsgs_.at(rmsgs_.front()).from;
  return SiblingRef(
      const_cast<SiblingImplementation*>(static_cast<const SiblingImplementation*>(from)));
}

void SiblingMessenger::openWriter(SiblingImplementation& si) {
  VX_ASSERT(!si.writer_.isOpen(), "Sibling ", my_id_,
            " openFifo called with open FIFO for sibling ", si.id_);
  si.writer_.open(io::fifoPath(fifoprefix, si.id_),
                  "Cannot open sibling id " + std::to_string(si.id_) + " FIFO for writing");
  si.broken_ = false;
  si.closed_ = false;
  updateOStream(si);
}

void SiblingMessenger::openFifo(SiblingImplementation& si) {
  openWriter(si);
  sendDelayed(si);
}

void SiblingMessenger::initShutdown() {
  VX_ASSERT(!isParent(), "The parent does not take part in the shutdown handshake");
  if (shutting_down_) return;
  shutting_down_ = true;
  sendToParent(ControlMessage::withId(MessageType::InitShutdown, my_id_, my_id_));
  updateOStreams();
  maybeFlush();
}

void SiblingMessenger::siblingDied(int32_t id) {
  VX_ASSERT(isParent(), "siblingDied() called in non-parent");
  VX_ASSERT(validSiblingId(id) && id != 0, "siblingDied() for id ", id);
  siblingGone(id);
}

void SiblingMessenger::shutdownComms(int32_t id) {
  if (SiblingImplementation* si = find(id)) closeComms(*si);
}

void SiblingMessenger::violation(int32_t sibling, const std::string& what) const {
  throw ESiblingProtocolError(sibling, what,
                              input_verified_ ? ESiblingProtocolError::Sender::Verified
                                              : ESiblingProtocolError::Sender::Claimed);
}

std::unique_ptr<SiblingMessenger::ChildChannel> SiblingMessenger::childChannel(int32_t id) {
  VX_ASSERT(isParent(), "childChannel() called in non-parent");
  VX_ASSERT(validSiblingId(id) && id != 0, "childChannel() for id ", id);
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    error::throwErrno("Cannot create the channel of sibling " + std::to_string(id));
  }
  std::unique_ptr<ChannelReader>& slot = channels_[slotOf(id)];
  if (slot) setUnderlying(slot.get(), false);
  slot = std::make_unique<ChannelReader>(id, fds[0]);
  setUnderlying(slot.get(), true);
  return std::make_unique<ChildChannel>(*parent_, fds[1]);
}

SiblingMessenger::ChildChannel::~ChildChannel() {
  ::close(fd_);
}

void SiblingMessenger::ChildChannel::pass(Variables& variables, const std::string& prefix,
                                          std::vector<int>& inherit) {
  parent_.pass(variables, prefix, inherit);
  variables[prefix + "::channel"] = std::to_string(fd_);
  inherit.push_back(fd_);
}

void SiblingMessenger::limitOutstanding(int32_t id, uint64_t bytes) {
  SiblingImplementation& si = impl(id);
  si.out_limit_ = bytes;
  updateOStream(si);
}

bool SiblingMessenger::pollInput() {
  bool any = false;
  for (auto& ch : channels_) {
    if (!ch) continue;
    ch->readNow();
    if (ch->size() == 0 && !ch->ended()) continue;
    any = true;
    readChannel(*ch);
  }
  reader_->readNow();
  if (reader_->size() == 0 && reader_->error() == 0) return any;
  readInput();
  return true;
}

void SiblingMessenger::underlyingIsReady(Selectable& s) {
  if (&s == reader_.get()) {
    reader_->clearKick();
    readInput();
    return;
  }
  if (auto* ch = dynamic_cast<ChannelReader*>(&s)) {
    readChannel(*ch);
    return;
  }
  auto* w = dynamic_cast<FifoWriter*>(&s);
  SiblingImplementation* si = w ? find(w->peer()) : nullptr;
  VX_ASSERT(si != nullptr && &si->writer_ == w,
            "io::SiblingMessenger::underlyingIsReady called with unknown s");
  w->clearReady();
  watchWriter(*si, false);
  flushAll();
}

}  // namespace io
