// The saved entropy pool and the digest texts come back from stored server state. Whatever
// they hold, reading them either succeeds or raises error::EParseError, and what was read
// saves back to the same text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "error/exception.h"
#include "security/entropy_pool.h"
#include "security/md5.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  security::EntropyPool pool;
  try {
    pool.restore(text);
    security::EntropyPool again;
    again.restore(pool.save());
    if (again.save() != pool.save()) std::abort();
  } catch (const error::EParseError&) {
  }

  security::Md5 md5;
  try {
    md5.setStateText(text);
    if (md5.stateText().size() != security::Md5::kStateTextSize) std::abort();
  } catch (const error::EParseError&) {
  }

  try {
    security::parseMd5Sum(text);
  } catch (const error::EParseError&) {
  }
  return 0;
}
