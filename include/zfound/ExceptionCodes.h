// The error codes of the error-object family, written once: for each code
// its class (Exception.h), the catalogue key of its text (library catalogue)
// and its fields in the order of the field constructor, which is their order
// on the wire. The
// code enum, the highest code, the codes the constructors give and the
// factory (Exception::make) come from this list, and a test checks the
// prototypes against it.
//
// ZF_EXCEPTION_CODES(X) calls X(code, Class, "KEY", "fields") for each code,
// in order from 1 without gaps.
#pragma once

#define ZF_EXCEPTION_CODES(X) \
  X(1, DeadLock, "DEADLOCK", "String detail")                                            \
  X(2, LockTableFull, "LOCKTABLEFULL", "int32_t size")                                   \
  X(3, NoPrivilege, "NOPRIVILEGE", "int32_t a, int32_t b")                               \
  X(4, Locked, "LOCKED", "String owner")                                                 \
  X(5, NoIntegrity, "NOINTEGRITY", "")                                                   \
  X(6, BeingUsed, "BEINGUSED", "int32_t n")                                              \
  X(7, NotifyTableFull, "NOTIFYTABLEFULL", "int32_t size")                               \
  X(8, BadVersion, "BADVERSION", "int32_t version")                                      \
  X(9, ClLockTableFull, "CLLOCKTABLEFULL", "int32_t allowance")                          \
  X(10, NoIndexes, "NOINDEXES", "")                                                      \
  X(11, InvalidIndexNum, "INVALIDINDEXNUM", "int32_t index")                             \
  X(12, InvalidTable, "INVALIDTABLE", "int32_t table")                                   \
  X(13, InTrans, "INTRANS", "")                                                          \
  X(14, NotInTrans, "NOTINTRANS", "")                                                    \
  X(15, ModLocked, "MODLOCKED", "String owner")                                          \
  X(16, CantConvertTable, "TRANSCORRUPT", "String text")                                 \
  X(17, InvalidObjectId, "INVALIDOBJECTID", "int32_t objId")                             \
  X(18, MsgOutOfBounds, "MSGOUTOFBOUNDS", "int32_t request")                             \
  X(19, InvalidClientId, "INVALIDCLIENTID", "int32_t clientId")                          \
  X(20, ShadowError, "SHADOWERROR", "String text")                                       \
  X(21, Notification, "NOTIFICATION", "")                                                \
  X(22, InvalidMsgOnObject, "INVALIDMSGONOBJECT", "int32_t a, int32_t b")                \
  X(23, TooManyClients, "TOOMANYCLIENTS", "int32_t limit")                               \
  X(24, ServerIsDead, "SERVERDEAD", "String server (not sent)")                                \
  X(25, IncompatibleVersions, "INCOMPATIBLEVERSIONS", "int32_t client, int32_t server")  \
  X(26, InvalidForMirror, "INVALIDFORMIRROR", "String text")                             \
  X(27, ZombieClient, "ZOMBIECLIENT", "int32_t clientId")                                \
  X(28, DuplicatedKey, "DUPLICATEDKEY", "String index, String key")                      \
  X(29, PendLockNotif, "PENDLOCKNOTIF", "String a, String b")                            \
  X(30, KeyDoesNotExist, "KEYDOESNOTEXIST", "String index, String key")                  \
  X(31, InvalidTimeStamp, "INVALIDTIMESTAMP", "String table, Time t1, Time t2, Time t3") \
  X(32, OptTransCorrupt, "OPTTRANSCORRUPT", "String table, Time t1, Time t2")            \
  X(33, InvalidLogin, "INVALIDLOGIN", "String a, String b")                              \
  X(34, TooManyAttachs, "TOOMANYATTACHS", "int32_t limit")                               \
  X(35, InvalidData, "INVALIDDATA", "String description")                                \
  X(36, AdminMode, "ADMINMODE", "String admin")                                         
