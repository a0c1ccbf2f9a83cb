// The supervisor's side of the shared-memory pool: sizes each worker's write area and answers
// the messenger when a worker wants a peer that is not connected. It owns the supervisor's own
// messenger (sibling 0), made once the parent is complete.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "io/sibling/messenger_parent.h"
#include "io/sibling/sibling_messenger.h"

namespace supervisor {

class MainProcess;

class SMParent : public io::SiblingMessengerParent {
 public:
  SMParent(MainProcess& owner, const std::string& prefix, uint64_t mapsize, uint64_t slice_unit);
  ~SMParent() override;

  // Makes the supervisor's messenger. It takes its area through our virtual hooks at once, so
  // it is made only when this object is complete. Workers reach it only through their own
  // channels (io::SiblingMessenger::childChannel); its FIFO has no name.
  io::SiblingMessenger& createMessenger();
  io::SiblingMessenger& messenger() { return *messenger_; }
  uint64_t sliceUnit() const { return slice_unit_; }

  bool messageToNonexistantSibling(int32_t target, int32_t requester) override;
  uint64_t smemSliceSize(int32_t sibling) override;

 private:
  MainProcess& owner_;
  uint64_t slice_unit_;
  std::unique_ptr<io::SiblingMessenger> messenger_;
};

}  // namespace supervisor
