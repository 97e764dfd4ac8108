/* 32-bit Windows: every export of zemlink.dll is called the way zemlink.h
 * declares it (cdecl: the caller removes the arguments from the stack), and
 * the stack pointer is measured around each call. A function built with
 * another convention (stdcall removes its own arguments) works on 64-bit
 * Windows, which has one convention, and in a caller that happens to keep a
 * frame pointer, but shifts the stack of every other caller a little on each
 * call. The calls use a live container, so the arguments are seen to arrive
 * too.
 *   dll_calling_convention <zemlink.dll>
 * Prints one line per failure and the counts; exits 0 when all passed. */
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "zemlink.h"

/* Pushes count 32-bit arguments (the last first), calls fn, stores its result
 * (EAX) and gives the number of bytes the callee removed from the stack. */
uint32_t callCountingPops(FARPROC fn, uint32_t count, const uint32_t* args, uint32_t* result);
__asm__(
    ".text\n"
    ".globl _callCountingPops\n"
    "_callCountingPops:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  pushl %ebx\n"
    "  pushl %esi\n"
    "  pushl %edi\n"
    "  movl 12(%ebp), %ecx\n"
    "  movl 16(%ebp), %esi\n"
    "1:\n"
    "  testl %ecx, %ecx\n"
    "  jz 2f\n"
    "  decl %ecx\n"
    "  pushl (%esi,%ecx,4)\n"
    "  jmp 1b\n"
    "2:\n"
    "  movl %esp, %ebx\n"
    "  call *8(%ebp)\n"
    "  movl 20(%ebp), %ecx\n"
    "  movl %eax, (%ecx)\n"
    "  movl %esp, %eax\n"
    "  subl %ebx, %eax\n"
    "  leal -12(%ebp), %esp\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebx\n"
    "  popl %ebp\n"
    "  ret\n");

static HMODULE library;
static int passed, failed;

/* Calls the export with up to three arguments; checks the stack and, unless
 * expected is ANY, the result. */
#define ANY 0xDEADBEEFu
static uint32_t call(const char* name, uint32_t count, uint32_t a, uint32_t b, uint32_t c, uint32_t expected) {
  const uint32_t args[3] = {a, b, c};
  uint32_t result = 0;
  FARPROC fn = GetProcAddress(library, name);
  if (fn == NULL) {
    printf("%s: not exported (%lu)\n", name, GetLastError());
    ++failed;
    return 0;
  }
  const uint32_t popped = callCountingPops(fn, count, args, &result);
  if (popped != 0) {
    printf("%s: the function removed %u bytes of its arguments from the stack: it is not cdecl\n", name,
           (unsigned)popped);
    ++failed;
  } else if (expected != ANY && result != expected) {
    printf("%s: gave %ld, not %ld\n", name, (long)(int32_t)result, (long)(int32_t)expected);
    ++failed;
  } else {
    ++passed;
  }
  return result;
}

#define ARG(x) ((uint32_t)(uintptr_t)(x))

int main(int argc, char** argv) {
  if (argc != 2) {
    printf("usage: dll_calling_convention <zemlink.dll>\n");
    return 2;
  }
  library = LoadLibraryA(argv[1]);
  if (library == NULL) {
    printf("LoadLibrary(%s) failed: %lu\n", argv[1], GetLastError());
    return 2;
  }

  /* The provider family, on paths that need no server. */
  ZemContainerHandle event = 0;
  call("ZemlinkInit", 3, 1, 0, ARG(""), ZEM_ERROR_UNSUPPORTED);
  call("Zem_RegisterProvider", 1, 0, 0, 0, ZEM_ERROR_BAD_PROVIDER_ID);
  call("Zem_DeRegisterProvider", 0, 0, 0, 0, ANY);
  call("Zem_GetEvent", 2, ZEM_EVENT_POLL, ARG(&event), 0, ANY);
  call("ZemlinkDeInit", 0, 0, 0, 0, ANY);

  /* The container family on a live container: what is set is read back. */
  const ZemContainerHandle handle = call("Zem_createDataContainer", 0, 0, 0, 0, ANY);
  if (handle == 0) {
    printf("Zem_createDataContainer: no container\n");
    return 1;
  }
  static const char* const fields[] = {"MessageType", "Status",       "ServerID", "ReferenceID",
                                       "CallID",      "HeldCallID",   "NetworkCallID", "NodeID",
                                       "CallHandle"};
  for (size_t i = 0; i < sizeof fields / sizeof fields[0]; ++i) {
    char setter[64], getter[64];
    snprintf(setter, sizeof setter, "Zem_set%s", fields[i]);
    snprintf(getter, sizeof getter, "Zem_get%s", fields[i]);
    const uint32_t value = i == 0 ? ZEM_MSG_REQUEST : 1000 + (uint32_t)i;
    call(setter, 2, handle, value, 0, ZEM_SUCCESS);
    call(getter, 1, handle, 0, 0, value);
  }
  call("Zem_setFirstItem", 2, handle, ARG("first"), 0, ZEM_SUCCESS);
  call("Zem_setNextItem", 2, handle, ARG("second"), 0, ZEM_SUCCESS);
  const char* first = (const char*)(uintptr_t)call("Zem_getFirstItem", 1, handle, 0, 0, ANY);
  const char* second = (const char*)(uintptr_t)call("Zem_getNextItem", 1, handle, 0, 0, ANY);
  if (first == NULL || strcmp(first, "first") != 0 || second == NULL || strcmp(second, "second") != 0) {
    printf("Zem_getFirstItem, Zem_getNextItem: not the items set\n");
    ++failed;
  }
  ZemContainerHandle handleRef = handle;
  call("Zem_SendServiceComplete", 1, ARG(&handleRef), 0, 0, ANY);
  call("Zem_InfoReceived", 1, ARG(&handleRef), 0, 0, ANY);
  call("Zem_ResponseReceived", 1, ARG(&handleRef), 0, 0, ANY);
  call("Zem_destroyDataContainer", 1, call("Zem_createDataContainer", 0, 0, 0, 0, ANY), 0, 0, ZEM_SUCCESS);
  call("Zem_destroyDataContainer", 1, handle, 0, 0, ANY);

  FreeLibrary(library);
  printf("dll_calling_convention: %d passed, %d failed\n", passed, failed);
  return failed == 0 && passed > 0 ? 0 : 1;
}
