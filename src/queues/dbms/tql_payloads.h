// Database payloads of the object query language: select, create, update, delete, subscribe.
// The layouts of the select pattern, the select results, the object patch and the
// subscription operations are this server's own (see docs/events.md).
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "queues/dbms/common.h"

namespace dbms {

using tql::property_ptr;

// One condition of a select pattern: `property op value`.
struct Tql_Condition {
  uint32_t property = 0;
  uint32_t op = 0;
  property_ptr value;
  VX_FIELDS(Tql_Condition, property, op, value)
};

// What to select below the roots: objects of `class_` up to `depth` levels down that meet
// every condition; `properties` lists the property numbers to return (empty: all), and
// `classes` the classes whose objects may be passed through on the way down (empty: any).
struct Tql_Select_Pattern {
  uint32_t class_ = 0;
  uint32_t depth = 0;
  uint32_t limit = 0;
  std::vector<Tql_Condition> conditions;
  std::vector<uint32_t> properties;
  std::set<uint32_t> classes;
  VX_FIELDS(Tql_Select_Pattern, class_, depth, limit, conditions, properties, classes)
};

// One object that a select found, with the properties asked for.
struct Tql_Select_Result {
  id_t id;
  id_t parent_id;
  uint32_t class_ = 0;
  version_t version;
  std::vector<property_ptr> properties;
  VX_FIELDS(Tql_Select_Result, id, parent_id, class_, version, properties)
};

// How a selected object changed since the last report: the properties set and removed, a
// move to another parent, and objects that entered the selection below it.
struct Tql_Object_Patch {
  uint32_t class_ = 0;
  uint32_t flags = 0;
  std::set<uint32_t> removed;
  id_t parent_id;
  id_t new_parent_id;
  version_t base_version;
  std::map<uint32_t, property_ptr> changed;
  std::vector<Tql_Select_Result> added;
  VX_FIELDS(Tql_Object_Patch, class_, flags, removed, parent_id, new_parent_id, base_version,
            changed, added)
};

// One kind of change a subscription reports, for the listed properties (empty: any).
struct Tql_Subscribe_Operation {
  uint32_t operation = 0;
  uint32_t class_ = 0;
  std::vector<uint32_t> properties;
  VX_FIELDS(Tql_Subscribe_Operation, operation, class_, properties)
};

struct Tql_Select_Data {
  std::vector<id_t> root_ids;
  Tql_Select_Pattern pattern;
  uint32_t flags = 0;
  int64_t min_eval_interval = 0;
  VX_FIELDS(Tql_Select_Data, root_ids, pattern, flags, min_eval_interval)
};

struct Return_Tql_Select_Data {
  uint32_t status = 0;
  Tql_Details details;
  std::vector<Tql_Select_Result> res;
  VX_FIELDS(Return_Tql_Select_Data, status, details, res)
};

struct Return_Tql_Select_Patch_Data {
  id_t id;
  Tql_Object_Patch patch;
  version_t seq;
  VX_FIELDS(Return_Tql_Select_Patch_Data, id, patch, seq)
};

struct Return_Tql_Select_Delete_Patch_Data {
  id_t id;
  version_t seq;
  VX_FIELDS(Return_Tql_Select_Delete_Patch_Data, id, seq)
};

struct Tql_Create_Data {
  id_t parent_id;
  id_t new_id;
  uint32_t class_ = 0;
  std::vector<property_ptr> properties;
  uint32_t flags = 0;
  id_t user_id;
  VX_FIELDS(Tql_Create_Data, parent_id, new_id, class_, properties, flags, user_id)
};

struct Return_Tql_Create_Data {
  id_t new_id;
  version_t new_version;
  uint32_t status = 0;
  Tql_Details details;
  VX_FIELDS(Return_Tql_Create_Data, new_id, new_version, status, details)
};

struct Tql_Update_Data {
  id_t id;
  version_t version;
  std::vector<property_ptr> properties;
  uint32_t flags = 0;
  id_t user_id;
  VX_FIELDS(Tql_Update_Data, id, version, properties, flags, user_id)
};

struct Return_Tql_Update_Data {
  uint32_t status = 0;
  version_t new_version;
  Tql_Details details;
  VX_FIELDS(Return_Tql_Update_Data, status, new_version, details)
};

struct Tql_Delete_Data {
  id_t id;
  version_t version;
  id_t user_id;
  bool clear_master_id = false;
  VX_FIELDS(Tql_Delete_Data, id, version, user_id, clear_master_id)
};

using Return_Tql_Delete_Data = Status_Reply;

struct Tql_Simple_Subscribe_Data {
  id_t root;
  std::set<uint32_t> classes;
  std::vector<Tql_Subscribe_Operation> operations;
  bool include_own_operations = false;
  VX_FIELDS(Tql_Simple_Subscribe_Data, root, classes, operations, include_own_operations)
};

struct Return_Tql_Simple_Subscribe_Data {
  uint32_t operation = 0;
  Origin origin;
  std::vector<Id_Class> obj_path;
  VX_FIELDS(Return_Tql_Simple_Subscribe_Data, operation, origin, obj_path)
};

struct NodeClass_Translate_Data {
  id_t id;
  id_t parent;
  id_t inherits;
  std::vector<id_t> references;
  VX_FIELDS(NodeClass_Translate_Data, id, parent, inherits, references)
};

// A node class number and the object it translated to.
struct Translated_Id {
  uint32_t number = 0;
  id_t id;
  VX_FIELDS(Translated_Id, number, id)
};

struct Return_NodeClass_Translate_Data {
  std::vector<Translated_Id> ids;
  VX_FIELDS(Return_NodeClass_Translate_Data, ids)
};

struct User_Acknowledge_Alert_Data {
  id_t user;
  std::string comment;
  id_t object;
  version_t version;
  VX_FIELDS(User_Acknowledge_Alert_Data, user, comment, object, version)
};

struct User_Reset_Score_Data {
  id_t user;
  std::string comment;
  id_t object;
  version_t version;
  bool recursive = false;
  VX_FIELDS(User_Reset_Score_Data, user, comment, object, version, recursive)
};

struct Tql_Acknowledge_Data {
  uint32_t req_id_to_ack = 0;
  VX_FIELDS(Tql_Acknowledge_Data, req_id_to_ack)
};

struct Tql_Forget_Data {
  uint32_t req_id_to_forget = 0;
  VX_FIELDS(Tql_Forget_Data, req_id_to_forget)
};

struct Return_Tql_Forget_Data {
  uint32_t forgotten_req_id = 0;
  uint32_t status = 0;
  Tql_Details details;
  VX_FIELDS(Return_Tql_Forget_Data, forgotten_req_id, status, details)
};

}  // namespace dbms
