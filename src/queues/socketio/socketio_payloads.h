// Payloads of the socket worker: key exchange, grid links, routing and remote procedure calls.
#pragma once

#include <cstdint>
#include <string>

#include "tql/big_number.h"
#include "tql/id.h"
#include "wire/codec.h"

namespace socketio {

using tql::id_t;

struct ReqSharedKeyGen_Data {
  BigNumber modulus;
  BigNumber generator;
  VX_FIELDS(ReqSharedKeyGen_Data, modulus, generator)
};

struct SharedKeyReply_Data {
  BigNumber y;
  BigNumber Y;
  VX_FIELDS(SharedKeyReply_Data, y, Y)
};

struct ReqFinalKeyGen_Data {
  BigNumber modulus;
  BigNumber y;
  BigNumber X;
  VX_FIELDS(ReqFinalKeyGen_Data, modulus, y, X)
};

struct FinalKeyReply_Data {
  BigNumber k;
  VX_FIELDS(FinalKeyReply_Data, k)
};

struct GridLinkInitiate_Data {
  id_t linkconfig;
  VX_FIELDS(GridLinkInitiate_Data, linkconfig)
};

struct GridLinkStatusChange_Data {
  id_t linkconfig;
  uint32_t state = 0;
  bool supports_keep_alive = false;
  VX_FIELDS(GridLinkStatusChange_Data, linkconfig, state, supports_keep_alive)
};

struct GridLinkShutdown_Data {
  id_t linkconfig;
  VX_FIELDS(GridLinkShutdown_Data, linkconfig)
};

struct GridLinkKeepAlive_Data {
  id_t linkconfig;
  int64_t interval = 0;
  VX_FIELDS(GridLinkKeepAlive_Data, linkconfig, interval)
};

struct GridLinkActivity_Data {
  id_t linkconfig;
  VX_FIELDS(GridLinkActivity_Data, linkconfig)
};

struct GridSystemShutdown_Data {
  VX_NO_FIELDS(GridSystemShutdown_Data)
};

struct Return_GridSystemShutdown_Data {
  VX_NO_FIELDS(Return_GridSystemShutdown_Data)
};

struct RoutingTableAdd_NHL_Data {
  uint32_t dest_gid = 0;
  id_t next_hop;
  VX_FIELDS(RoutingTableAdd_NHL_Data, dest_gid, next_hop)
};

struct RoutingTableRemove_NHL_Data {
  uint32_t dest_gid = 0;
  id_t next_hop;
  VX_FIELDS(RoutingTableRemove_NHL_Data, dest_gid, next_hop)
};

struct RoutingTableAdd_CM_Data {
  uint32_t dest_gid = 0;
  uint32_t next_hop = 0;
  VX_FIELDS(RoutingTableAdd_CM_Data, dest_gid, next_hop)
};

struct RoutingTableRemove_CM_Data {
  uint32_t dest_gid = 0;
  uint32_t next_hop = 0;
  VX_FIELDS(RoutingTableRemove_CM_Data, dest_gid, next_hop)
};

struct RPC_ClientCallRequest_Data {
  uint32_t server_gid = 0;
  uint32_t function_number = 0;
  std::string args;
  bool infinite_retry = false;
  VX_FIELDS(RPC_ClientCallRequest_Data, server_gid, function_number, args, infinite_retry)
};

struct RPC_ClientCallReply_Data {
  std::string retval;
  VX_FIELDS(RPC_ClientCallReply_Data, retval)
};

struct RPC_ClientCallError_Data {
  uint32_t error = 0;
  std::string text;
  VX_FIELDS(RPC_ClientCallError_Data, error, text)
};

struct RPC_HandlerRegister_Data {
  uint16_t function = 0;
  VX_FIELDS(RPC_HandlerRegister_Data, function)
};

struct RPC_HandlerUnregister_Data {
  uint16_t function = 0;
  VX_FIELDS(RPC_HandlerUnregister_Data, function)
};

struct RPC_ProcedureCall_Data {
  uint16_t function = 0;
  uint32_t caller_gid = 0;
  std::string args;
  VX_FIELDS(RPC_ProcedureCall_Data, function, caller_gid, args)
};

struct RPC_ProcedureCallReply_Data {
  std::string retval;
  VX_FIELDS(RPC_ProcedureCallReply_Data, retval)
};

struct RPC_ProcedureCallFailed_Data {
  std::string explanation;
  VX_FIELDS(RPC_ProcedureCallFailed_Data, explanation)
};

struct RPC_MessageForward_Data {
  uint32_t peer_gid = 0;
  std::string request;
  VX_FIELDS(RPC_MessageForward_Data, peer_gid, request)
};

}  // namespace socketio
