// Payloads of the grid messaging between the socket worker and its grid peers.
#pragma once

#include <cstdint>
#include <string>

#include "tql/big_number.h"
#include "wire/codec.h"

namespace skiogrid {

// An endpoint secret: its key length in bits and the secret itself.
struct Endpoint_Secret {
  uint32_t bits = 0;
  BigNumber secret;
  VX_FIELDS(Endpoint_Secret, bits, secret)
};

struct GridCleartextSend_Data {
  uint32_t dest_gid = 0;
  std::string payload;
  VX_FIELDS(GridCleartextSend_Data, dest_gid, payload)
};

struct GridNSIncoming_Data {
  std::string package;
  uint32_t peer_gid = 0;
  VX_FIELDS(GridNSIncoming_Data, package, peer_gid)
};

struct GridSetEndpointSecret_Data {
  Endpoint_Secret shared_secret;
  uint32_t peer_gid = 0;
  VX_FIELDS(GridSetEndpointSecret_Data, shared_secret, peer_gid)
};

struct GridClearEndpointSecret_Data {
  uint32_t peer_gid = 0;
  VX_FIELDS(GridClearEndpointSecret_Data, peer_gid)
};

struct GridSendMessage_Data {
  uint32_t dest_gid = 0;
  std::string payload;
  VX_FIELDS(GridSendMessage_Data, dest_gid, payload)
};

struct GridReceivedMessage_Data {
  uint32_t source_gid = 0;
  std::string payload;
  VX_FIELDS(GridReceivedMessage_Data, source_gid, payload)
};

}  // namespace skiogrid
