#include "supervisor/sm_parent.h"

#include "io/sibling/sibling_error.h"
#include "supervisor/main_process.h"
#include "supervisor/worker_entry.h"

namespace supervisor {

SMParent::SMParent(MainProcess& owner, const std::string& prefix, uint64_t mapsize,
                   uint64_t slice_unit)
    : io::SiblingMessengerParent(prefix, mapsize), owner_(owner), slice_unit_(slice_unit) {}

io::SiblingMessenger& SMParent::createMessenger() {
  if (!messenger_) {
    messenger_ = std::make_unique<io::SiblingMessenger>(
        *this, io::SiblingMessenger::ParentInput::ChannelsOnly);
  }
  return *messenger_;
}

SMParent::~SMParent() {
  messenger_.reset();
}

bool SMParent::messageToNonexistantSibling(int32_t target, int32_t requester) {
  return owner_.grantPeer(static_cast<queues::queue_t>(target),
                          static_cast<queues::queue_t>(requester));
}

uint64_t SMParent::smemSliceSize(int32_t sibling) {
  // Asked when a child announces itself under an id of its own choosing: an id we do not know
  // is that child's fault, not ours.
  try {
    return supervisor::smemSliceSize(static_cast<queues::queue_t>(sibling), slice_unit_);
  } catch (const io::ESiblingProtocolError&) {
    throw;
  } catch (const error::Exception& e) {
    throw io::ESiblingProtocolError(sibling, e.what());
  }
}

}  // namespace supervisor
