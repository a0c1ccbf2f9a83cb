// The event catalogue, declared once: X(number, NAME, payload type) per event, in seven
// contiguous families so that each family's codecs can be compiled in a translation unit of
// its own. Includers define X for what they need (names, numbers, payload types, factories);
// the payload types are only named here, so this header needs no includes.
#pragma once

#define VX_EVENTS_CONTROL(X)                                           \
  X(1, DAEMONIZE_SYSTEM, int32_t)                                      \
  X(2, SYS_EXIT, control::Sys_Exit_Data)                               \
  X(3, INIT_OK, control::Init_Ok_Data)                                 \
  X(4, SYSTEM_LOG_REQUEST, control::Log_Request_Data)                  \
  X(5, SERVER_CONFIGURATION, control::Server_Configuration_Fields)     \
  X(6, REQUEST_SERVER_CONFIGURATION, int32_t)                          \
  X(7, REQUEST_SERVER_VARIABLE_FIELDS, int32_t)                        \
  X(8, RETURN_SERVER_VARIABLE_FIELDS, control::Server_Variable_Fields) \
  X(9, STORE_SERVER_VARIABLE_FIELDS, control::Server_Variable_Fields)  \
  X(10, REQUEST_SPAWN_PROCESS, queue_t)                                \
  X(11, GET_PURE_ENTROPY, int32_t)                                     \
  X(12, RETURN_PURE_ENTROPY, std::string)                              \
  X(13, GET_PSEUDO_RANDOM, control::Get_Pseudo_Random_Data)            \
  X(14, RETURN_PSEUDO_RANDOM, std::string)                             \
  X(15, GET_METRIC, control::Get_Metric_Data)                          \
  X(16, RETURN_METRIC_ERROR, std::string)                              \
  X(17, RETURN_METRIC_UINT64, uint64_t)                                \
  X(18, RETURN_METRIC_DOUBLE, double)                                  \
  X(19, RETURN_METRIC_TIMING, control::Return_Metric_Timing_Data)      \
  X(20, LIST_METRICS, int32_t)                                         \
  X(21, RETURN_LIST_METRICS, control::Metric_Group)                    \
  X(22, GET_METRIC_TYPE, control::Get_Metric_Type_Data)                \
  X(23, RETURN_GET_METRIC_TYPE, control::Metric)                       \
  X(24, SUPPORTS_METRICS, int32_t)                                     \
  X(25, SET_LOG_LEVEL, control::Set_Log_Level_Data)

#define VX_EVENTS_TSDB(X)                                                \
  X(26, CREATE_TIMESERIES, tsdb::time_series_layout_t)                   \
  X(27, RETURN_CREATE_TIMESERIES, uint32_t)                              \
  X(28, DELETE_TIMESERIES, uint32_t)                                     \
  X(29, RETURN_DELETE_TIMESERIES, int32_t)                               \
  X(30, DESCRIBE_TIMESERIES, uint32_t)                                   \
  X(31, RETURN_DESCRIBE_TIMESERIES, tsdb::time_series_layout_t)          \
  X(32, GET_DATA, tsdb::Get_Data_Data)                                   \
  X(33, RETURN_GET_DATA, tsdb::Return_Get_Data_Data)                     \
  X(34, PUT_DATA, tsdb::Put_Data_Data)                                   \
  X(35, RETURN_PUT_DATA_ALLOC, uint32_t)                                 \
  X(36, TRUNCATE_OLD_DATA, tsdb::Truncate_Old_Data_Data)                 \
  X(37, RETURN_TRUNCATE_OLD_DATA, int32_t)                               \
  X(38, FIND_OLDEST_RECORD, int32_t)                                     \
  X(39, RETURN_FIND_OLDEST_RECORD, int64_t)                              \
  X(40, RECOVERY_CHECKSUM_TIMESERIES, uint32_t)                          \
  X(41, RETURN_RECOVERY_CHECKSUM_TIMESERIES, std::string)                \
  X(42, RECOVERY_EXTRACT_TIMESERIES, uint32_t)                           \
  X(43, RETURN_RECOVERY_EXTRACT_TIMESERIES, std::string)                 \
  X(44, RECOVERY_MERGE_TIMESERIES, tsdb::Recovery_Merge_TimeSeries_Data) \
  X(45, RETURN_RECOVERY_MERGE_TIMESERIES, int32_t)                       \
  X(46, REQUEST_RESULT, int32_t)

#define VX_EVENTS_DBMS_DATA(X)                                                 \
  X(47, DATA_REMCHECK, dbms::Data_RemCheck_Data)                               \
  X(48, DATA_SNMPCHECK_CONTINUOUS, dbms::Data_SnmpCheck_Continuous_Data)       \
  X(49, DATA_SNMPCHECK_ENUM, dbms::Data_SnmpCheck_Enum_Data)                   \
  X(50, DATA_SNMPCHECK_UPTIME, dbms::Data_SnmpCheck_Uptime_Data)               \
  X(51, DATA_ESXICHECK, dbms::Data_EsxiCheck_Data)                             \
  X(52, DATA_DOMAINEXPORT_STATE, dbms::Data_DomainExport_State_Data)           \
  X(53, PUT_CHECK_STATE, dbms::Put_Check_State_Data)                           \
  X(54, PUT_INCIDENTLOG, dbms::Put_IncidentLog_Data)                           \
  X(55, RETURN_HOST_CONFIGURED_STATE, dbms::Return_Host_Configured_State_Data) \
  X(56, GET_HOST_CONFIGURED_STATE, tql::id_t)                                  \
  X(57, SET_HOST_RECONFIGURED, dbms::Set_Host_Reconfigured_Data)               \
  X(58, SET_HOST_RESCAN, dbms::Set_Host_Rescan_Data)                           \
  X(59, CHECKIN_START, dbms::Checkin_Start_Data)                               \
  X(60, RETURN_CHECKIN_START, int32_t)                                         \
  X(61, CHECKIN_COMPLETE, dbms::Checkin_Complete_Data)                         \
  X(62, RETURN_CHECKIN_COMPLETE, int32_t)                                      \
  X(63, CHECKIN_ABORT, dbms::Checkin_Abort_Data)                               \
  X(64, DATA_AGENTCHECK, dbms::Data_AgentCheck_Data)                           \
  X(65, RETURN_DATA_AGENTCHECK, dbms::Return_Data_AgentCheck_Data)             \
  X(66, HOST_REBOOTED, dbms::Host_Rebooted_Data)                               \
  X(67, EXECUTE_REMEDY, dbms::Execute_Remedy_Data)                             \
  X(68, LATE_CHECKIN, dbms::Late_Checkin_Data)                                 \
  X(69, GET_LAST_CHECKIN_TIME, tql::id_t)                                      \
  X(70, RETURN_LAST_CHECKIN_TIME, int64_t)                                     \
  X(71, CLEAR_FIRE_FLAG, std::vector<tql::id_t>)                               \
  X(72, RENTAL_NOTIFY, int32_t)                                                \
  X(73, RENTAL_TIMEOUT, int32_t)                                               \
  X(74, RENTAL_RENEW, int32_t)                                                 \
  X(75, AUDIT_EVENT, dbms::Audit_Event_Data)                                   \
  X(76, GET_TQL_CLASS_NAMES, int32_t)                                          \
  X(77, RETURN_TQL_CLASS_NAMES, dbms::Return_Tql_Class_Names_Data)             \
  X(78, GET_TQL_PROPERTY_NAMES, int32_t)                                       \
  X(79, RETURN_TQL_PROPERTY_NAMES, dbms::Return_Tql_Property_Names_Data)       \
  X(80, GET_TQL_REPARENTABLE_CLASSES, int32_t)                                 \
  X(81, RETURN_TQL_REPARENTABLE_CLASSES, std::set<uint32_t>)

#define VX_EVENTS_DBMS_TQL(X)                                                      \
  X(82, TQL_SELECT, dbms::Tql_Select_Data)                                         \
  X(83, RETURN_TQL_SELECT, dbms::Return_Tql_Select_Data)                           \
  X(84, RETURN_TQL_SELECT_PATCH, dbms::Return_Tql_Select_Patch_Data)               \
  X(85, RETURN_TQL_SELECT_DELETE_PATCH, dbms::Return_Tql_Select_Delete_Patch_Data) \
  X(86, TQL_CREATE, dbms::Tql_Create_Data)                                         \
  X(87, RETURN_TQL_CREATE, dbms::Return_Tql_Create_Data)                           \
  X(88, TQL_UPDATE, dbms::Tql_Update_Data)                                         \
  X(89, RETURN_TQL_UPDATE, dbms::Return_Tql_Update_Data)                           \
  X(90, TQL_DELETE, dbms::Tql_Delete_Data)                                         \
  X(91, RETURN_TQL_DELETE, dbms::Return_Tql_Delete_Data)                           \
  X(92, TQL_SIMPLE_SUBSCRIBE, dbms::Tql_Simple_Subscribe_Data)                     \
  X(93, RETURN_TQL_SIMPLE_SUBSCRIBE, dbms::Return_Tql_Simple_Subscribe_Data)       \
  X(94, NODECLASS_TRANSLATE, dbms::NodeClass_Translate_Data)                       \
  X(95, RETURN_NODECLASS_TRANSLATE, dbms::Return_NodeClass_Translate_Data)         \
  X(96, USER_ACKNOWLEDGE_ALERT, dbms::User_Acknowledge_Alert_Data)                 \
  X(97, USER_RESET_SCORE, dbms::User_Reset_Score_Data)                             \
  X(98, TSDB_GET_DATA, dbms::TSDB_Get_Data_Data)                                   \
  X(99, RETURN_TSDB_GET_DATA, dbms::Return_TSDB_Get_Data_Data)

#define VX_EVENTS_DBMS_SYNC(X)                                                              \
  X(100, TSDB_PUT_DATA, dbms::TSDB_Put_Data_Data)                                           \
  X(101, RETURN_TSDB_PUT_DATA, dbms::Return_TSDB_Put_Data_Data)                             \
  X(102, TSDB_MERGE_DATA, dbms::TSDB_Merge_Data_Data)                                       \
  X(103, RETURN_TSDB_MERGE_DATA, dbms::Return_TSDB_Merge_Data_Data)                         \
  X(104, TSDB_GET_LATEST_DATA_RECORD, dbms::TSDB_Get_Latest_Data_Record_Data)               \
  X(105, RETURN_TSDB_GET_LATEST_DATA_RECORD, dbms::Return_TSDB_Get_Latest_Data_Record_Data) \
  X(106, TSDB_APPEND_DATA_RECORD, dbms::TSDB_Append_Data_Record_Data)                       \
  X(107, RETURN_TSDB_APPEND_DATA_RECORD, dbms::Return_TSDB_Append_Data_Record_Data)         \
  X(108, TSDB_APPEND_DATA, dbms::TSDB_Append_Data_Data)                                     \
  X(109, RETURN_TSDB_APPEND_DATA, dbms::Return_TSDB_Append_Data_Data)                       \
  X(110, TSDB_TRUNCATE_OLD_DATA, dbms::TSDB_Truncate_Old_Data_Data)                         \
  X(111, RETURN_TSDB_TRUNCATE_OLD_DATA, dbms::Return_TSDB_Truncate_Old_Data_Data)           \
  X(112, TQL_ACKNOWLEDGE, dbms::Tql_Acknowledge_Data)                                       \
  X(113, TQL_FORGET, dbms::Tql_Forget_Data)                                                 \
  X(114, RETURN_TQL_FORGET, dbms::Return_Tql_Forget_Data)                                   \
  X(115, UPDATE_NETCHECKS, dbms::Update_NetChecks_Data)                                     \
  X(116, GET_NETCHECK_INFO, std::string)                                                    \
  X(117, RETURN_NETCHECK_INFO, dbms::Return_NetCheck_Info_Data)                             \
  X(118, GET_FIRST_ID, dbms::Get_First_ID_Data)                                             \
  X(119, RETURN_ID, dbms::Return_ID_Data)                                                   \
  X(120, GET_NEXT_ID, dbms::Get_Next_ID_Data)                                               \
  X(121, GET_FIRST_MASTERID, dbms::Get_First_MasterID_Data)                                 \
  X(122, RETURN_MASTERID, dbms::Return_MasterID_Data)                                       \
  X(123, GET_NEXT_MASTERID, dbms::Get_Next_MasterID_Data)                                   \
  X(124, GET_TRACE, dbms::Get_Trace_Data)                                                   \
  X(125, RETURN_TRACE, dbms::Return_Trace_Data)                                             \
  X(126, GET_DELETED, dbms::Get_Deleted_Data)                                               \
  X(127, GET_DELETED_MASTERID, dbms::Get_Deleted_MasterId_Data)                             \
  X(128, RETURN_DELETED, dbms::Return_Deleted_Data)                                         \
  X(129, RETIRE_DELETED, dbms::Retire_Deleted_Data)                                         \
  X(130, ADD_CANDIDATE_NODE, dbms::Add_Candidate_Node_Data)

#define VX_EVENTS_WORKERS_LINKS(X)                                            \
  X(131, SCHEDULE_EVENT_ABSOLUTE, scheduler::Schedule_Event_Absolute_Data)    \
  X(132, SCHEDULE_EVENT_RELATIVE, scheduler::Schedule_Event_Relative_Data)    \
  X(133, REMOTE_CHECK, remcheck::Remote_Check_Data)                           \
  X(134, CHECK_TIMEOUT, remcheck::Check_Timeout_Data)                         \
  X(135, ICMP_REQUEST, remcheck::Icmp_Request_Data)                           \
  X(136, ICMP_ECHO_REPLY, remcheck::Icmp_Echo_Reply_Data)                     \
  X(137, CHECK_REQUEST, remcheck::remcheck_conf)                              \
  X(138, CHECK_RESULT, services::remcheck_stat)                               \
  X(139, SOCKETIO_TIDY_CACHES, int32_t)                                       \
  X(140, REQSHAREDKEYGEN, socketio::ReqSharedKeyGen_Data)                     \
  X(141, SHAREDKEYREPLY, socketio::SharedKeyReply_Data)                       \
  X(142, REQFINALKEYGEN, socketio::ReqFinalKeyGen_Data)                       \
  X(143, FINALKEYREPLY, socketio::FinalKeyReply_Data)                         \
  X(144, GRIDLINKINITIATE, socketio::GridLinkInitiate_Data)                   \
  X(145, GRIDLINKSTATUSCHANGE, socketio::GridLinkStatusChange_Data)           \
  X(146, GRIDLINKSHUTDOWN, socketio::GridLinkShutdown_Data)                   \
  X(147, GRIDLINKKEEPALIVE, socketio::GridLinkKeepAlive_Data)                 \
  X(148, GRIDLINKACTIVITY, socketio::GridLinkActivity_Data)                   \
  X(149, GRIDSYSTEMSHUTDOWN, socketio::GridSystemShutdown_Data)               \
  X(150, RETURN_GRIDSYSTEMSHUTDOWN, socketio::Return_GridSystemShutdown_Data) \
  X(151, ROUTINGTABLEADD_NHL, socketio::RoutingTableAdd_NHL_Data)             \
  X(152, ROUTINGTABLEREMOVE_NHL, socketio::RoutingTableRemove_NHL_Data)       \
  X(153, ROUTINGTABLEADD_CM, socketio::RoutingTableAdd_CM_Data)               \
  X(154, ROUTINGTABLEREMOVE_CM, socketio::RoutingTableRemove_CM_Data)         \
  X(155, RPC_CLIENTCALLREQUEST, socketio::RPC_ClientCallRequest_Data)         \
  X(156, RPC_CLIENTCALLREPLY, socketio::RPC_ClientCallReply_Data)             \
  X(157, RPC_CLIENTCALLERROR, socketio::RPC_ClientCallError_Data)             \
  X(158, RPC_HANDLERREGISTER, socketio::RPC_HandlerRegister_Data)             \
  X(159, RPC_HANDLERUNREGISTER, socketio::RPC_HandlerUnregister_Data)         \
  X(160, RPC_PROCEDURECALL, socketio::RPC_ProcedureCall_Data)                 \
  X(161, RPC_PROCEDURECALLREPLY, socketio::RPC_ProcedureCallReply_Data)       \
  X(162, RPC_PROCEDURECALLFAILED, socketio::RPC_ProcedureCallFailed_Data)     \
  X(163, RPC_MESSAGEFORWARD, socketio::RPC_MessageForward_Data)

#define VX_EVENTS_WORKERS_NOTIFY(X)                                               \
  X(164, NOTIFY_TEST_PATH, tql::id_t)                                             \
  X(165, NOTIFY_UNEXPECTED_DOWNTIME, tql::id_t)                                   \
  X(166, FORECAST_WARNING, alert::Forecast_Warning_Data)                          \
  X(167, GENERIC_NOTIFY, alert::Generic_Notify_Data)                              \
  X(168, NOTIFY_ALERTGROUP, alert::Notify_AlertGroup_Data)                        \
  X(169, OBJECT_STATUS_CHANGE, alert::Object_Status_Change_Data)                  \
  X(170, PAGER_PAGE, alert::Pager_Page_Data)                                      \
  X(171, PAGER_STATUS, alert::Pager_Status_Data)                                  \
  X(172, PAGER_EXIT, int32_t)                                                     \
  X(173, MAILER_MAIL, alert::Mailer_Mail_Data)                                    \
  X(174, MAILER_STATUS, alert::Mailer_Status_Data)                                \
  X(175, MAILER_EXIT, int32_t)                                                    \
  X(176, PUSH_NOTIFICATION, alert::Push_Notification_Data)                        \
  X(177, PUSH_STATUS, alert::Push_Status_Data)                                    \
  X(178, PUSH_EXIT, int32_t)                                                      \
  X(179, ESXI_PROBE, snmp::Esxi_Probe_Data)                                       \
  X(180, ESXI_PROBE_RESULT, snmp::Esxi_Probe_Result_Data)                         \
  X(181, SNMP_CHECK, snmp::Snmp_Check_Data)                                       \
  X(182, SNMP_TIMEOUT, snmp::Snmp_Timeout_Data)                                   \
  X(183, SNMP_OID_PROBE, snmp::Snmp_Oid_Probe_Data)                               \
  X(184, SNMP_PROBE_TIMEOUT, snmp::Snmp_Probe_Timeout_Data)                       \
  X(185, SNMP_PROBE_RESULT, snmp::Snmp_Probe_Result_Data)                         \
  X(186, SCHEDULED_REPORT_GENERATION, reporter::Scheduled_Report_Generation_Data) \
  X(187, IMMEDIATE_STATE, alarms::Immediate_State_Data)                           \
  X(188, IMMEDIATE_STATES, alarms::Immediate_States_Data)                         \
  X(189, CHECKIN, alarms::Checkin_Data)                                           \
  X(190, ACKNOWLEDGE_ALERT, alarms::Acknowledge_Alert_Data)                       \
  X(191, RESET_SCORE, alarms::Reset_Score_Data)                                   \
  X(192, SET_STATUS, alarms::Set_Status_Data)                                     \
  X(193, ALARM_NOTIFY, alarms::Alarm_Notify_Data)                                 \
  X(194, SCAN_REQUEST, scan::Scan_Request_Data)                                   \
  X(195, SCAN_RESULT, scan::Scan_Result_Data)                                     \
  X(196, GRIDCLEARTEXTSEND, skiogrid::GridCleartextSend_Data)                     \
  X(197, GRIDNSINCOMING, skiogrid::GridNSIncoming_Data)                           \
  X(198, GRIDSETENDPOINTSECRET, skiogrid::GridSetEndpointSecret_Data)             \
  X(199, GRIDCLEARENDPOINTSECRET, skiogrid::GridClearEndpointSecret_Data)         \
  X(200, GRIDSENDMESSAGE, skiogrid::GridSendMessage_Data)                         \
  X(201, GRIDRECEIVEDMESSAGE, skiogrid::GridReceivedMessage_Data)                 \
  X(202, SUBSCRIBEEPSECCHANGE, router::SubscribeEpsecChange_Data)                 \
  X(203, EPSECCHANGENOTIFICATION, router::EpsecChangeNotification_Data)
#define VX_EVENT_CATALOGUE(X) \
  VX_EVENTS_CONTROL(X)        \
  VX_EVENTS_TSDB(X)           \
  VX_EVENTS_DBMS_DATA(X)      \
  VX_EVENTS_DBMS_TQL(X)       \
  VX_EVENTS_DBMS_SYNC(X)      \
  VX_EVENTS_WORKERS_LINKS(X)  \
  VX_EVENTS_WORKERS_NOTIFY(X)
