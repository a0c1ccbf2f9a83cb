#include "supervisor/vexlan_process.h"

#include "supervisor/main_process.h"

namespace supervisor {

VexlanProcess::VexlanProcess(MainProcess& o, WorkerEntry e, std::unique_ptr<io::Process> c)
    : owner(o), child(std::move(c)), entry(std::move(e)), start_time(TimeValue::now()) {}

// The ioprim goes before the streams it reads and writes.
VexlanProcess::~VexlanProcess() {
  prim_.reset();
  in_.reset();
  out_.reset();
}

void VexlanProcess::connect(io::SiblingMessenger::SiblingRef sibling) {
  sibling_ = std::move(sibling);
  in_ = std::make_unique<WorkerInput>(sibling_, tag());
  out_ = std::make_unique<WorkerOutput>(sibling_);
  prim_ = std::make_unique<protocol::ioprim>(in_.get(), out_.get());
}

std::string VexlanProcess::stateDump() const {
  return "state=" + std::to_string(static_cast<int>(state)) +
         " process_gone=" + (process_gone ? "1" : "0") +
         " istream_eos=" + (istream_eos ? "1" : "0") + " stderr_eos=" + (stderr_eos ? "1" : "0");
}

void VexlanProcess::onReadable() {
  owner.onWorkerReadable(*this);
}

void VexlanProcess::onWritable() {
  owner.onWorkerWritable(*this);
}

void VexlanProcess::onStderr() {
  owner.onWorkerStderr(*this);
}

void VexlanProcess::onGone() {
  owner.onWorkerGone(*this);
}

const char* stateName(WorkerState state) {
  switch (state) {
    case WorkerState::Starting:
      return "starting";
    case WorkerState::Initing:
      return "initing";
    case WorkerState::Running:
      return "running";
    case WorkerState::Exiting:
      return "exiting";
  }
  return "unknown";
}

}  // namespace supervisor
