#pragma once

/* The entry of a plug-in library: the only thing the host and a plug-in share. It is plain
 * C, so that neither side depends on the other's compiler, standard library or copy of the
 * platform code, and no C++ exception crosses it: every function reports failure through
 * its status and the host's `fail` function.
 *
 * A plug-in library exports one function with C linkage,
 *
 *     const KxPluginEntry* kestrix_plugin_entry(void);
 *
 * answering a table that lives as long as the library. The host reads `version` first and
 * refuses a version it does not know. Texts are UTF-8 and not necessarily NUL-terminated;
 * every pointer handed over is valid only during the call that hands it over, so the side
 * that receives a value copies what it keeps. */

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/** The version of the entry described here. */
#define KESTRIX_PLUGIN_ENTRY_VERSION 1u

/** The name of the function a plug-in library exports. */
#define KESTRIX_PLUGIN_ENTRY_SYMBOL "kestrix_plugin_entry"

/** What a value holds. */
typedef enum KxValueKind {
    KX_EMPTY = 0,   /**< no value */
    KX_NULL = 1,    /**< the database NULL */
    KX_BOOL = 2,    /**< `integer` is 0 or 1 */
    KX_INTEGER = 3, /**< `integer` */
    KX_DOUBLE = 4,  /**< `number` */
    KX_TEXT = 5,    /**< `text`, `length` bytes */
    KX_DATE = 6,    /**< `integer`: local seconds since 1970-01-01 00:00:00 */
    KX_ARRAY = 7    /**< `items`, `count` values */
} KxValueKind;

/** One value handed across the entry: the document data, an argument, an answer. */
typedef struct KxValue {
    KxValueKind kind;
    int64_t integer;
    double number;
    const char* text;
    size_t length;
    const struct KxValue* items;
    size_t count;
} KxValue;

/** The host's side of one call: where the plug-in puts what it hands back. Each function
 *  copies the value it receives and never fails towards the plug-in. */
typedef struct KxHost {
    void* context;
    /** The answer of a call (an answer not given is Empty). */
    void (*answer)(void* context, const KxValue* value);
    /** Argument `index` was changed by the plug-in (arguments are passed by reference). */
    void (*change_argument)(void* context, size_t index, const KxValue* value);
    /** The failure of the call: error number, source and description (NUL-terminated). */
    void (*fail)(void* context, int32_t number, const char* source, const char* description);
} KxHost;

/** Status of `create` and `call`. */
typedef enum KxStatus {
    KX_OK = 0,           /**< done */
    KX_FAILED = 1,       /**< failed; the plug-in called `fail` with the reason */
    KX_NO_SUCH_CLASS = 2 /**< `create`: the library has no class of that name */
} KxStatus;

/** The table a plug-in library answers. */
typedef struct KxPluginEntry {
    /** KESTRIX_PLUGIN_ENTRY_VERSION of the header the plug-in was built with. */
    uint32_t version;
    /** Makes an object of the class registered as `class_name` (NUL-terminated, compared
     *  ignoring ASCII case) into `*object`. */
    KxStatus (*create)(const char* class_name, void** object, const KxHost* host);
    /** Calls `method` (NUL-terminated) of the object with `count` arguments. */
    KxStatus (*call)(void* object, const char* method, const KxValue* arguments, size_t count,
                     const KxHost* host);
    /** Ends the life of an object made by `create`. */
    void (*destroy)(void* object);
} KxPluginEntry;

/** The type of the exported function. */
typedef const KxPluginEntry* (*KxPluginEntryFunction)(void);

#ifdef __cplusplus
}
#endif
