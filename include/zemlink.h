/*
 * zemlink.h - the public interface of libzemlink.so and zemlink.dll.
 *
 * An application becomes a service provider of the data-exchange server
 * through these 32 functions: the provider family (ZemlinkInit ...
 * Zem_InfoReceived) binds, registers, hands out messages and sends
 * completions; the container family (Zem_createDataContainer ...
 * Zem_setNextItem) reads and fills the message containers that carry them.
 *
 * Every argument and result is a 32-bit value, a pointer to the caller's
 * handle variable, or a narrow null-terminated string. No function throws;
 * failures are result codes.
 *
 * Threads: the provider functions may be called from any thread; they
 * serialise among themselves. A container may be used by one thread at a
 * time, and must not be destroyed while another thread still uses it.
 */
#ifndef ZEMLINK_H
#define ZEMLINK_H

#include <stdint.h>

/* On Windows the functions are exported from zemlink.dll by their plain
 * names with the C calling convention (cdecl); an application imports them.
 * The library's own build defines ZEMLINK_EXPORTS. */
#if defined(_WIN32)
#if defined(ZEMLINK_EXPORTS)
#define ZEM_API __declspec(dllexport)
#else
#define ZEM_API __declspec(dllimport)
#endif
#define ZEM_CALL __cdecl
#elif defined(__GNUC__)
#define ZEM_API __attribute__((visibility("default")))
#define ZEM_CALL
#else
#define ZEM_API
#define ZEM_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A container handle: a number issued by the library, 0 means none. */
typedef uint32_t ZemContainerHandle;

/* Result codes shared by both families. The field readers Zem_getMessageType
 * and Zem_getServerID answer a bad handle with 8, the value of ZEM_MSG_NONE. */
#define ZEM_ERROR_ITEM_REFUSED 9     /* the item was not stored */
#define ZEM_SUCCESS 10               /* the call succeeded */
#define ZEM_NO_EVENT 11              /* no message to hand out, or no provider registered */
#define ZEM_ERROR_NOT_READY 13       /* not initialised, or a provider thread could not be created or stopped */
#define ZEM_ERROR_CONNECT 14         /* binding or registration failed */
#define ZEM_ERROR_UNSUPPORTED 16     /* the first argument of ZemlinkInit is not 0 */
#define ZEM_ERROR_BAD_CONTAINER 17   /* the handle designates no container */
#define ZEM_ERROR_PARAMETER 18       /* an argument is out of range */
#define ZEM_ERROR_NO_CONTEXT 21      /* de-registration found no server context */
#define ZEM_ERROR_BAD_PROVIDER_ID 22 /* provider identifier outside 1 to 1999999999 */
#define ZEM_ERROR_NOT_REGISTERED 26  /* de-registration found no registered provider */
#define ZEM_ERROR_NO_MEMORY 28       /* a status container could not be created */
#define ZEM_ERROR_ITEM_TOO_LONG 29   /* the container has met an item longer than the wire carries */
#define ZEM_ERROR_SERVER 30          /* the server refused, or the call failed */

/* Message types (ZemMsgType). Items exist only in types 1 to 3. */
#define ZEM_MSG_REQUEST 1
#define ZEM_MSG_INFO 2
#define ZEM_MSG_COMPLETION 3
#define ZEM_MSG_PROVIDER_STATUS 4 /* status 23 registered, 24 de-registered */
#define ZEM_MSG_NONE 8
#define ZEM_MSG_ERROR 9           /* status 30 */

/* Statuses carried by provider-status and error events. */
#define ZEM_STATUS_REGISTERED 23
#define ZEM_STATUS_DEREGISTERED 24

/* Zem_GetEvent modes. */
#define ZEM_EVENT_WAIT 0
#define ZEM_EVENT_POLL 1

/* Longest item text, in characters (UTF-16 units on the wire), its most
 * bytes in a multibyte locale, and most items per container. */
#define ZEM_MAX_ITEM_LENGTH 80
#define ZEM_MAX_ITEM_BYTES 320
#define ZEM_MAX_ITEMS 10

/* ---- Provider family ---------------------------------------------------- */

ZEM_API int32_t ZEM_CALL ZemlinkInit(int32_t reserved, void* ignored, const char* serverAddress);
ZEM_API int32_t ZEM_CALL ZemlinkDeInit(void);
ZEM_API int32_t ZEM_CALL Zem_RegisterProvider(uint32_t providerId);
ZEM_API int32_t ZEM_CALL Zem_DeRegisterProvider(void);
ZEM_API int32_t ZEM_CALL Zem_GetEvent(int32_t mode, ZemContainerHandle* handleOut);
ZEM_API int32_t ZEM_CALL Zem_SendServiceComplete(ZemContainerHandle* handleRef);
ZEM_API int32_t ZEM_CALL Zem_ResponseReceived(ZemContainerHandle* handleRef);
ZEM_API int32_t ZEM_CALL Zem_InfoReceived(ZemContainerHandle* handleRef);

/* ---- Container family --------------------------------------------------- */

ZEM_API ZemContainerHandle ZEM_CALL Zem_createDataContainer(void);
ZEM_API int32_t ZEM_CALL Zem_destroyDataContainer(ZemContainerHandle hData);

ZEM_API int32_t ZEM_CALL Zem_getMessageType(ZemContainerHandle hData);
ZEM_API int32_t ZEM_CALL Zem_setMessageType(ZemContainerHandle hData, int32_t eMsgType);
ZEM_API int32_t ZEM_CALL Zem_getStatus(ZemContainerHandle hData);
ZEM_API int32_t ZEM_CALL Zem_setStatus(ZemContainerHandle hData, int32_t status);
ZEM_API int32_t ZEM_CALL Zem_getServerID(ZemContainerHandle hData);
ZEM_API int32_t ZEM_CALL Zem_setServerID(ZemContainerHandle hData, int32_t serverId);
ZEM_API int32_t ZEM_CALL Zem_getReferenceID(ZemContainerHandle hData);
ZEM_API int32_t ZEM_CALL Zem_setReferenceID(ZemContainerHandle hData, int32_t referenceId);
ZEM_API int32_t ZEM_CALL Zem_getCallID(ZemContainerHandle hData);
ZEM_API int32_t ZEM_CALL Zem_setCallID(ZemContainerHandle hData, int32_t callId);
ZEM_API int32_t ZEM_CALL Zem_getHeldCallID(ZemContainerHandle hData);
ZEM_API int32_t ZEM_CALL Zem_setHeldCallID(ZemContainerHandle hData, int32_t heldCallId);
ZEM_API int32_t ZEM_CALL Zem_getNetworkCallID(ZemContainerHandle hData);
ZEM_API int32_t ZEM_CALL Zem_setNetworkCallID(ZemContainerHandle hData, int32_t networkCallId);
ZEM_API int32_t ZEM_CALL Zem_getNodeID(ZemContainerHandle hData);
ZEM_API int32_t ZEM_CALL Zem_setNodeID(ZemContainerHandle hData, int32_t nodeId);
ZEM_API int32_t ZEM_CALL Zem_getCallHandle(ZemContainerHandle hData);
ZEM_API int32_t ZEM_CALL Zem_setCallHandle(ZemContainerHandle hData, int32_t callHandle);

/* Item texts are narrow strings in the encoding of the C library's locale
 * (LC_CTYPE). An item holds what one string of the wire carries: at most 80
 * characters, counted as UTF-16 units (a character outside the Basic
 * Multilingual Plane counts two), whatever their number of bytes, up to
 * ZEM_MAX_ITEM_BYTES; a longer text is refused with ZEM_ERROR_ITEM_TOO_LONG.
 * In the "C" locale a character is one byte. A returned text points into the
 * container and stays valid until the container's items change or it is
 * destroyed. */
ZEM_API const char* ZEM_CALL Zem_getFirstItem(ZemContainerHandle hData);
ZEM_API const char* ZEM_CALL Zem_getNextItem(ZemContainerHandle hData);
ZEM_API int32_t ZEM_CALL Zem_setFirstItem(ZemContainerHandle hData, const char* szData);
ZEM_API int32_t ZEM_CALL Zem_setNextItem(ZemContainerHandle hData, const char* szData);

#ifdef __cplusplus
}
#endif

#endif /* ZEMLINK_H */
