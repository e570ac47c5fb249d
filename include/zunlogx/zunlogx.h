/*
 * zunlogx: the binary interface of the logging library.
 *
 * Hosts load libzunlogx.so, obtain a reference-counted log object through
 * ZunGetLogObject (or GetZunObject), take named loggers from it and log
 * through the loggers' tables. Every interface object is a struct whose first
 * member points to its table of functions; every function takes the object
 * first. Slots are only ever appended, never moved. Text is zero-terminated
 * UTF-16 (char16_t). Every failure is a ZunResult: a code is a failure when it
 * is negative read as int32_t (ZUN_FAILED). Hosts never free library memory.
 *
 * Usable from C11 and C++.
 */
#ifndef ZUNLOGX_ZUNLOGX_H
#define ZUNLOGX_ZUNLOGX_H

#include <stdarg.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#else
#include <uchar.h>
#endif

#if defined(ZUNLOGX_BUILDING_LIBRARY)
#define ZUN_EXPORT __attribute__((visibility("default")))
#else
#define ZUN_EXPORT
#endif

/* ---- Result codes ------------------------------------------------------ */

typedef uint32_t ZunResult;

#define ZUN_FAILED(rc)    ((int32_t)(rc) < 0)
#define ZUN_SUCCEEDED(rc) ((int32_t)(rc) >= 0)

#define ZUN_RC_OK 0x00000000u
/* The library's own error codes. */
#define ZUN_RC_OUT_OF_MEMORY          0xE0010001u
#define ZUN_RC_INVALID_PARAMETER      0xE0010002u
#define ZUN_RC_TOO_MANY_WAIT_OBJECTS  0xE0010007u
#define ZUN_RC_VALUE_TOO_LARGE        0xE001000Bu
#define ZUN_RC_NO_MORE_ITEMS          0xE001000Eu
#define ZUN_RC_LOCATION_NOT_FOUND     0xE0010013u
#define ZUN_RC_NOT_AVAILABLE          0xE0010014u
#define ZUN_RC_ITEM_NOT_PRESENT       0xE0010015u
#define ZUN_RC_TEXT_ERROR_16          0xE0010016u
#define ZUN_RC_TEXT_ERROR_17          0xE0010017u
#define ZUN_RC_TEXT_ERROR_18          0xE0010018u
#define ZUN_RC_TEXT_ERROR_19          0xE0010019u
#define ZUN_RC_TEXT_ERROR_1A          0xE001001Au
#define ZUN_RC_APPENDER_NOT_FOUND     0xE001001Bu
#define ZUN_RC_LAYOUT_NOT_FOUND       0xE001001Du
#define ZUN_RC_LAYOUT_LOOKUP_FAILED   0xE001001Eu
#define ZUN_RC_INVALID_PATH           0xE0010020u
#define ZUN_RC_INVALID_LOGGER_NAME    0xE0010024u
#define ZUN_RC_TABLE_ERROR_36         0xE0010036u
#define ZUN_RC_TABLE_ERROR_37         0xE0010037u
#define ZUN_RC_UNSUPPORTED_SYSTEM_39  0xE0010039u
#define ZUN_RC_UNSUPPORTED_SYSTEM_3A  0xE001003Au
#define ZUN_RC_BAD_SELECTOR           0xE001003Cu
#define ZUN_RC_FILE_NOT_FOUND         0xE001003Du
#define ZUN_RC_PATH_NOT_FOUND         0xE001003Eu
#define ZUN_RC_INVALID_HANDLE         0xE001003Fu
#define ZUN_RC_EMPTY                  0xE0010040u
#define ZUN_RC_NOT_EMPTY              0xE0010041u
#define ZUN_RC_READ_FAULT             0xE0010042u
#define ZUN_RC_WRITE_FAULT            0xE0010043u
#define ZUN_RC_INSUFFICIENT_BUFFER    0xE0010044u
#define ZUN_RC_INVALID_DATA           0xE0010045u
#define ZUN_RC_NO_MORE_FILES          0xE0010046u
#define ZUN_RC_DUPLICATE_NAME         0xE0010047u
#define ZUN_RC_UNSUPPORTED_TYPE       0xE0010048u
#define ZUN_RC_BAD_LENGTH             0xE0010049u
#define ZUN_RC_CRC_ERROR              0xE001004Au
#define ZUN_RC_INVALID_NAME           0xE001004Bu
#define ZUN_RC_OBJECT_NOT_FOUND       0xE001004Cu
#define ZUN_RC_INVALID_ADDRESS        0xE001004Du
#define ZUN_RC_INVALID_ACCESS         0xE001004Eu
#define ZUN_RC_ALREADY_EXISTS         0xE001004Fu
#define ZUN_RC_NEGATIVE_SEEK          0xE0010051u
#define ZUN_RC_BAD_MEMORY_ACCESS      0xE0010052u
#define ZUN_RC_SHARING_VIOLATION      0xE0010053u
#define ZUN_RC_NOT_SUPPORTED          0xE0010054u
#define ZUN_RC_INVALID_OPERATION      0xE0010055u
#define ZUN_RC_INVALID_FUNCTION       0xE0010056u
#define ZUN_RC_OPERATION_ABORTED      0xE0010057u
#define ZUN_RC_ACCESS_DENIED          0xE0010058u
#define ZUN_RC_APPENDER_TYPE_MISMATCH 0xE0010062u
#define ZUN_RC_LAYOUT_TYPE_MISMATCH   0xE0010063u
#define ZUN_RC_INVALID_TIME           0xE0010064u
#define ZUN_RC_RSA_FAILED             0xE001006Bu
#define ZUN_RC_LOCK_NOT_HELD          0xE0010076u
#define ZUN_RC_NOT_INITIALISED        0xE0010078u
#define ZUN_RC_THREAD_START_TIMEOUT   0xE001008Cu
#define ZUN_RC_BAD_ARGUMENT_KIND      0xE0010090u
#define ZUN_RC_TOO_MANY_REDIRECTIONS  0xE0010096u
#define ZUN_RC_DISK_FULL              0xE0010097u
#define ZUN_RC_OFFSET_BEYOND_END      0xE0010181u
#define ZUN_RC_CANNOT_GROW            0xE0010186u
#define ZUN_RC_INPUT_TRUNCATED        0xE001018Bu
#define ZUN_RC_CONNECTION_REFUSED     0xE0010190u
/* Informational codes: success with something to say. */
#define ZUN_RC_INFO_WAIT_ABANDONED   0x60010003u
#define ZUN_RC_INFO_NOTHING_TO_DO    0x6001000Eu
#define ZUN_RC_INFO_CONFIG_ENTRY     0x60010021u
#define ZUN_RC_INFO_NOT_PRESENT      0x6001004Cu
#define ZUN_RC_INFO_FEATURE_ABSENT   0x60010054u
#define ZUN_RC_INFO_TIME_UNKNOWN     0x60010064u
#define ZUN_RC_INFO_PLATFORM_6A      0x6001006Au
#define ZUN_RC_INFO_PLATFORM_75      0x60010075u
#define ZUN_RC_INFO_PLATFORM_80      0x60010080u
#define ZUN_RC_INFO_WAIT_QUEUED_CALL 0x60010083u
#define ZUN_RC_INFO_LAST_INPUT       0x6001018Bu
/* Warning codes: failures, with the error code number they soften. */
#define ZUN_RC_WARN_TIMEOUT         0xA0010004u
#define ZUN_RC_WARN_NO_WAIT_OBJECTS 0xA0010008u
#define ZUN_RC_WARN_DIFFERENT       0xA00100A7u

/* ---- Severities -------------------------------------------------------- */

#define ZUN_SEVERITY_ALL    ((int32_t)(-2147483647 - 1))
#define ZUN_SEVERITY_DEBUG  ((int32_t)100000)
#define ZUN_SEVERITY_DETAIL ((int32_t)150000)
#define ZUN_SEVERITY_INFO   ((int32_t)200000)
#define ZUN_SEVERITY_WARN   ((int32_t)300000)
#define ZUN_SEVERITY_ERROR  ((int32_t)400000)
#define ZUN_SEVERITY_FATAL  ((int32_t)500000)
#define ZUN_SEVERITY_OFF    ((int32_t)2147483647)

/* ---- Protection modes of a record's message text ------------------------ */

#define ZUN_PROTECT_NONE       0u /* plain */
#define ZUN_PROTECT_SCRAMBLE   1u /* "a" */
#define ZUN_PROTECT_SCRAMBLE2  2u /* "a" */
#define ZUN_PROTECT_PUBLIC_KEY 3u /* "b" */
#define ZUN_PROTECT_SESSION    4u /* "d", unlocked by the "c" key record */

/* ---- Identifiers ------------------------------------------------------- */

typedef struct ZunGuid {
  uint32_t data1;
  uint16_t data2, data3;
  uint8_t data4[8];
} ZunGuid;

/* Class identifiers for GetZunObject. */
#define ZUN_LOG_LIBRARY_CLASS_ID                                                    \
  {                                                                                 \
    0x716AA4A5u, 0x07BF, 0xFA4E, { 0x9A, 0x9C, 0xB7, 0x1C, 0x15, 0x9C, 0x9F, 0x60 } \
  }
#define ZUN_LOG_MODULE_CLASS_ID                                                     \
  {                                                                                 \
    0x716AA4A5u, 0x08BF, 0xFA4E, { 0x9A, 0x9C, 0xB7, 0x1C, 0x15, 0x9C, 0x9F, 0x60 } \
  }
/* Interface identifiers for ZunGetLogObject; all four name the ILog table. */
#define ZUN_LOG_INTERFACE_ID_1                                                      \
  {                                                                                 \
    0x22A2C034u, 0x69F4, 0x2743, { 0x9F, 0x8B, 0x01, 0x9B, 0xC5, 0x63, 0x70, 0x61 } \
  }
#define ZUN_LOG_INTERFACE_ID_2                                                      \
  {                                                                                 \
    0xC88B451Eu, 0x888C, 0x2A40, { 0x80, 0x40, 0xC9, 0x01, 0xA0, 0x87, 0x18, 0xF0 } \
  }
#define ZUN_LOG_INTERFACE_ID_3                                                      \
  {                                                                                 \
    0x5C0F74B7u, 0x3325, 0xA83B, { 0xA1, 0x20, 0xEF, 0xAE, 0xEF, 0x55, 0xA9, 0xA1 } \
  }
#define ZUN_LOG_INTERFACE_ID_4                                                      \
  {                                                                                 \
    0x5D0F74B7u, 0x3325, 0xA83B, { 0xA1, 0x20, 0xEF, 0xAE, 0xEF, 0x55, 0xA9, 0xA1 } \
  }

/* Numeric identifiers answered by QueryInterface slots. */
#define ZUN_IID_ARGUMENT_SOURCE 59u
#define ZUN_IID_RECORD_SOURCE   60u
#define ZUN_IID_DISPATCH        61u

/* ---- Typed arguments --------------------------------------------------- */

/* Kinds of ZunTypedArgument. */
#define ZUN_ARG_UNSIGNED 1u /* value.u */
#define ZUN_ARG_SIGNED   2u /* value.i */
#define ZUN_ARG_BUFFER   3u /* value.span: bytes */
#define ZUN_ARG_NARROW   4u /* value.span: UTF-8 text, length UINT32_MAX = zero-terminated */
#define ZUN_ARG_WIDE     5u /* value.span: UTF-16 text, length UINT32_MAX = zero-terminated */
#define ZUN_ARG_DOUBLE   6u /* value.d */

typedef struct ZunTypedArgument {
  uint32_t kind;
  union {
    uint64_t u;
    int64_t i;
    double d;
    struct {
      const void* data;
      uint32_t length;
    } span;
  } value;
} ZunTypedArgument;

/* Tags of the tagged argument list: each argument passed through a va_list is
 * an int tag followed by its value (values narrower than int promoted). */
#define ZUN_TAG_INT32         0  /* int32_t  -> signed */
#define ZUN_TAG_UINT32        1  /* uint32_t -> unsigned */
#define ZUN_TAG_INT64         2  /* int64_t  -> signed */
#define ZUN_TAG_INT8          3  /* int8_t   -> signed */
#define ZUN_TAG_UINT8         4  /* uint8_t  -> unsigned */
#define ZUN_TAG_INT16         5  /* int16_t  -> signed */
#define ZUN_TAG_UINT16        6  /* uint16_t -> unsigned */
#define ZUN_TAG_INT32_B       7  /* as 0 */
#define ZUN_TAG_UINT32_B      8  /* as 1 */
#define ZUN_TAG_INT64_B       9  /* as 2 */
#define ZUN_TAG_UINT64        10 /* uint64_t -> unsigned */
#define ZUN_TAG_INT32_AS_U64  11 /* int32_t sign-extended -> unsigned */
#define ZUN_TAG_DOUBLE        12 /* double */
#define ZUN_TAG_UINT16_AS_I64 13 /* uint16_t zero-extended -> signed */
#define ZUN_TAG_WIDE_TEXT     14 /* const char16_t*, zero-terminated, may be null */
#define ZUN_TAG_WIDE_TEXT_B   15 /* as 14 */
#define ZUN_TAG_COUNTED_TEXT  16 /* const char16_t*, then uint32_t count */
#define ZUN_TAG_END           17 /* ends the list */
#define ZUN_TAG_INT64_C       18 /* as 2 */

/* A source of typed arguments, implemented by hosts. */
typedef struct ZunArgumentSource ZunArgumentSource;
typedef struct ZunArgumentSourceVtbl {
  /* id ZUN_IID_ARGUMENT_SOURCE and version < 2: *found = 1, returns self. */
  void* (*QueryInterface)(ZunArgumentSource* self, uint32_t id, uint32_t version, uint8_t* found);
  /* 1 and *out filled, or 0 at the end. */
  uint8_t (*NextArgument)(ZunArgumentSource* self, ZunTypedArgument* out);
} ZunArgumentSourceVtbl;
struct ZunArgumentSource {
  const ZunArgumentSourceVtbl* vtbl;
};

/* ---- Records handed over whole ------------------------------------------ */

/* A record made elsewhere. Lengths count UTF-16 units; UINT32_MAX means up to
 * the terminating zero; a null text is empty. The record keeps this time,
 * thread and process instead of taking the current ones. */
typedef struct ZunLogRecordView {
  int32_t severity;
  const char16_t* message;
  uint32_t messageLength;
  const char16_t* fileId;
  uint32_t fileIdLength;
  uint32_t line;
  uint32_t buildNumber;
  const char16_t* revisionText;
  uint32_t revisionTextLength;
  uint32_t product;
  uint32_t protectionMode;
  uint32_t threadId;
  uint32_t processId;
  uint32_t reserved; /* not read */
  uint32_t timeLow;  /* 100-ns units since 1601-01-01 UTC, low half */
  uint32_t timeHigh;
  uint32_t revision;
} ZunLogRecordView;

typedef struct ZunRecordSource ZunRecordSource;
typedef struct ZunRecordSourceVtbl {
  void* (*QueryInterface)(ZunRecordSource* self, uint32_t id, uint32_t version, uint8_t* found);
  uint32_t (*Count)(ZunRecordSource* self);
  ZunResult (*Get)(ZunRecordSource* self, uint32_t index, ZunLogRecordView* out);
} ZunRecordSourceVtbl;
struct ZunRecordSource {
  const ZunRecordSourceVtbl* vtbl;
};

/* ---- Loggers ----------------------------------------------------------- */

typedef struct ZunLogger ZunLogger;
typedef struct ZunDispatch ZunDispatch;

typedef struct ZunSourceInfo {
  uint32_t buildNumber;
  uint32_t product;
  const char16_t* revisionText;
} ZunSourceInfo;

/* A logger lives as long as the log system; hosts never destroy one. Log
 * slots do not apply the logger's threshold: ask IsEnabled first. `args` is
 * the position in the caller's argument list (advanced as it is read), or
 * null. All text arguments may be null. */
typedef struct ZunLoggerVtbl {
  /* 0: the full dotted name ("root" for the root). */
  const char16_t* (*GetName)(ZunLogger* self);
  /* 1: same as LogFull. */
  ZunResult (*Log)(ZunLogger* self, int32_t severity, const char16_t* message, const char16_t* fileId,
                   uint32_t line, uint32_t buildNumber, uint32_t revision, uint32_t product,
                   uint32_t protectionMode, va_list* args);
  /* 2: Log with product 0. */
  ZunResult (*LogWithoutProduct)(ZunLogger* self, int32_t severity, const char16_t* message,
                                 const char16_t* fileId, uint32_t line, uint32_t buildNumber,
                                 uint32_t revision, uint32_t protectionMode, va_list* args);
  /* 3: build a record and write (or queue) it. */
  ZunResult (*LogFull)(ZunLogger* self, int32_t severity, const char16_t* message, const char16_t* fileId,
                       uint32_t line, uint32_t buildNumber, uint32_t revision, uint32_t product,
                       uint32_t protectionMode, va_list* args);
  /* 4, 5: the section is the library's own configuration section. */
  ZunResult (*Configure)(ZunLogger* self, void* section);
  ZunResult (*ExportConfiguration)(ZunLogger* self, void* section);
  /* 6: same as LogRevisionTextFull. */
  ZunResult (*LogRevisionText)(ZunLogger* self, int32_t severity, const char16_t* message,
                               const char16_t* fileId, uint32_t line, uint32_t buildNumber,
                               const char16_t* revisionText, uint32_t product, uint32_t protectionMode,
                               va_list* args);
  /* 7: as LogFull, with a revision text printed in place of the revision. */
  ZunResult (*LogRevisionTextFull)(ZunLogger* self, int32_t severity, const char16_t* message,
                                   const char16_t* fileId, uint32_t line, uint32_t buildNumber,
                                   const char16_t* revisionText, uint32_t product, uint32_t protectionMode,
                                   va_list* args);
  /* 8: log every record of the source (in reverse order when reverse != 0). */
  ZunResult (*LogRecords)(ZunLogger* self, ZunRecordSource* source, uint8_t reverse);
  /* 9: the logger's dispatch interface (not reference counted). */
  ZunDispatch* (*GetDispatchInterface)(ZunLogger* self);
  /* 10: internal; hosts never call it. */
  void (*Destroy)(ZunLogger* self, uint8_t freeMemory);
} ZunLoggerVtbl;
struct ZunLogger {
  const ZunLoggerVtbl* vtbl;
};

typedef struct ZunDispatchVtbl {
  /* id ZUN_IID_DISPATCH and version < 2: *found = 1, returns self. */
  void* (*QueryInterface)(ZunDispatch* self, uint32_t id, uint32_t version, uint8_t* found);
  /* 1 when the logger's threshold is below the severity. */
  uint8_t (*IsEnabled)(ZunDispatch* self, int32_t severity);
  /* Log with typed arguments (args is required). A null message renders the
   * arguments themselves, protected. */
  ZunResult (*LogFromSource)(ZunDispatch* self, int32_t severity, const char16_t* message,
                             const char16_t* fileId, uint32_t line, const ZunSourceInfo* info,
                             ZunArgumentSource* args);
} ZunDispatchVtbl;
struct ZunDispatch {
  const ZunDispatchVtbl* vtbl;
};

/* ---- The log object ---------------------------------------------------- */

typedef struct ILog ILog;
typedef struct ILogModule ILogModule;
typedef struct ILogProvider ILogProvider;

/* 39 slots. Slots 0-10 act through the primary client of the object, 12-22
 * through the secondary one; each client keeps its own configuration and log
 * folders, both share the process's one log system. Buffers take a capacity
 * in characters without the terminating zero and always get the needed size
 * with the zero back; too small a buffer gives ZUN_RC_INSUFFICIENT_BUFFER. */
typedef struct ILogVtbl {
  /* 0: get or create the logger of a dotted name (null, "" or "root": the root). */
  ZunResult (*GetLogger)(ILog* self, ZunLogger** out, const char16_t* name);
  /* 1: an existing logger only; returns 0 and leaves *out alone when absent. */
  ZunResult (*FindLogger)(ILog* self, ZunLogger** out, const char16_t* name);
  /* 2: 1 when the client has a configuration or a log folder. */
  uint8_t (*HasFolders)(ILog* self);
  /* 3 */
  ZunResult (*SetConfigurationFolder)(ILog* self, const char16_t* folder);
  /* 4 */
  ZunResult (*GetConfigurationFolder)(ILog* self, char16_t* buffer, uint32_t capacity, uint32_t* size);
  /* 5: always 1. */
  uint8_t (*IsAvailable)(ILog* self);
  /* 6: null or "" does nothing. */
  ZunResult (*LoadConfigurationFile)(ILog* self, const char16_t* file);
  /* 7: text must not be null. */
  ZunResult (*ApplyConfigurationText)(ILog* self, const char16_t* text);
  /* 8: protect != 0 creates the file readable and writable by everyone. */
  ZunResult (*SaveConfigurationFile)(ILog* self, const char16_t* file, uint8_t protect);
  /* 9 */
  ZunResult (*GetConfigurationText)(ILog* self, char16_t* buffer, uint32_t capacity, uint32_t* size);
  /* 10 */
  ZunResult (*ResetConfiguration)(ILog* self);
  /* 11: ZUN_RC_NOT_SUPPORTED. */
  ZunResult (*Reserved11)(ILog* self);
  /* 12-22: slots 0-10 for the secondary client. */
  ZunResult (*GetLoggerSecondary)(ILog* self, ZunLogger** out, const char16_t* name);
  ZunResult (*FindLoggerSecondary)(ILog* self, ZunLogger** out, const char16_t* name);
  uint8_t (*HasFoldersSecondary)(ILog* self);
  ZunResult (*SetConfigurationFolderSecondary)(ILog* self, const char16_t* folder);
  ZunResult (*GetConfigurationFolderSecondary)(ILog* self, char16_t* buffer, uint32_t capacity,
                                               uint32_t* size);
  uint8_t (*IsAvailableSecondary)(ILog* self);
  ZunResult (*LoadConfigurationFileSecondary)(ILog* self, const char16_t* file);
  ZunResult (*ApplyConfigurationTextSecondary)(ILog* self, const char16_t* text);
  ZunResult (*SaveConfigurationFileSecondary)(ILog* self, const char16_t* file, uint8_t protect);
  ZunResult (*GetConfigurationTextSecondary)(ILog* self, char16_t* buffer, uint32_t capacity, uint32_t* size);
  ZunResult (*ResetConfigurationSecondary)(ILog* self);
  /* 23: ZUN_RC_NOT_SUPPORTED. */
  ZunResult (*Reserved23)(ILog* self);
  /* 24: as 6. */
  ZunResult (*LoadConfigurationFile2)(ILog* self, const char16_t* file);
  /* 25: as 7, and null does nothing. */
  ZunResult (*ApplyConfigurationTextOrNothing)(ILog* self, const char16_t* text);
  /* 26: as 18. */
  ZunResult (*LoadConfigurationFile2Secondary)(ILog* self, const char16_t* file);
  /* 27: as 19, and null does nothing. */
  ZunResult (*ApplyConfigurationTextOrNothingSecondary)(ILog* self, const char16_t* text);
  /* 28: the new reference count. */
  uint32_t (*Release)(ILog* self);
  /* 29, 30: drain the asynchronous queue and flush every appender. */
  ZunResult (*Flush)(ILog* self);
  ZunResult (*FlushSecondary)(ILog* self);
  /* 31, 32 */
  ZunResult (*UseStandardConfigurationFolder)(ILog* self);
  ZunResult (*UseStandardConfigurationFolderSecondary)(ILog* self);
  /* 33, 34: ZUN_RC_NOT_SUPPORTED. */
  ZunResult (*Reserved33)(ILog* self);
  ZunResult (*Reserved34)(ILog* self);
  /* 35, 36: either may be null; a client's log folder, once set, stays. */
  ZunResult (*SetFolders)(ILog* self, const char16_t* configFolder, const char16_t* logFolder);
  ZunResult (*SetFoldersSecondary)(ILog* self, const char16_t* configFolder, const char16_t* logFolder);
  /* 37, 38: the process's one asynchronous writer. */
  ZunResult (*StartAsyncWorker)(ILog* self);
  void (*StopAsyncWorker)(ILog* self);
} ILogVtbl;
struct ILog {
  const ILogVtbl* vtbl;
};

typedef struct ILogProviderVtbl {
  void (*Destroy)(ILogProvider* self, uint8_t freeMemory);
  uint32_t (*AddRef)(ILogProvider* self);
  uint32_t (*Release)(ILogProvider* self);
  /* The object's ILog, without a new reference. */
  ILog* (*GetLog)(ILogProvider* self);
} ILogProviderVtbl;
struct ILogProvider {
  const ILogProviderVtbl* vtbl;
};

typedef void (*ZunReleaseFunction)(void* anyInterfaceOfTheObject);

typedef struct ILogModuleVtbl {
  void (*Destroy)(ILogModule* self, uint8_t freeMemory);
  uint32_t (*AddRef)(ILogModule* self);
  uint32_t (*Release)(ILogModule* self);
  /* The object's ILogProvider, with a new reference. */
  ILogProvider* (*GetProvider)(ILogModule* self);
  /* A function that releases any of the object's interfaces; it does
   * nothing once the library is being unloaded. */
  ZunReleaseFunction (*GetReleaseFunction)(ILogModule* self);
} ILogModuleVtbl;
struct ILogModule {
  const ILogModuleVtbl* vtbl;
};

/* ---- Exports ----------------------------------------------------------- */

/* A new object of a class: ILogProvider for the library class, ILogModule
 * for the module class; the caller owns the one reference. */
ZUN_EXPORT ZunResult GetZunObject(ZunGuid classId, void** out);
/* A new object's ILog for one of the four interface identifiers; anything
 * else gives ZUN_RC_NOT_SUPPORTED and leaves *out untouched. */
ZUN_EXPORT ZunResult ZunGetLogObject(const ZunGuid* iid, ILog** out);
/* Releases the reference; returns 0; does nothing once unloading began. */
ZUN_EXPORT ZunResult ZunReleaseLogObject(const ZunGuid* iid, ILog* log);
/* Loads a configuration file into client `selector` (0 primary, 1
 * secondary) of every live object; returns 0. */
ZUN_EXPORT ZunResult ZunLogLibraryReconfigure(const char16_t* file, uint32_t selector);
/* Thread start routine: block = 8-byte little-endian count N, N UTF-16LE
 * units, 4-byte selector. Ends its thread with the result as exit value. */
ZUN_EXPORT void* ZunLogLibraryRemoteReconfigure(void* block);
/* Re-reads and re-applies every configuration file loaded so far. */
ZUN_EXPORT ZunResult ZunLogLibraryReloadConfig(void);
/* Thread start routine form of ZunLogLibraryReloadConfig. */
ZUN_EXPORT void* ZunLogLibraryRemoteReloadConfig(void* param);

typedef ZunResult (*ZunGetZunObjectFn)(ZunGuid, void**);
typedef ZunResult (*ZunGetLogObjectFn)(const ZunGuid*, ILog**);
typedef ZunResult (*ZunReleaseLogObjectFn)(const ZunGuid*, ILog*);
typedef ZunResult (*ZunLogLibraryReconfigureFn)(const char16_t*, uint32_t);
typedef ZunResult (*ZunLogLibraryReloadConfigFn)(void);

/* ---- Helpers for C hosts ------------------------------------------------ */

/* LogFull with a printf-style message (%s takes UTF-16 text). */
static inline ZunResult ZunLogFormat(ZunLogger* logger, int32_t severity, const char16_t* fileId,
                                     uint32_t line, uint32_t protectionMode, const char16_t* format, ...) {
  va_list args;
  ZunResult rc;
  va_start(args, format);
  rc = logger->vtbl->LogFull(logger, severity, format, fileId, line, 0, 0, 0, protectionMode, &args);
  va_end(args);
  return rc;
}

static inline uint8_t ZunIsEnabled(ZunLogger* logger, int32_t severity) {
  ZunDispatch* dispatch = logger->vtbl->GetDispatchInterface(logger);
  return dispatch->vtbl->IsEnabled(dispatch, severity);
}

#ifdef __cplusplus
}
#endif

#endif /* ZUNLOGX_ZUNLOGX_H */
