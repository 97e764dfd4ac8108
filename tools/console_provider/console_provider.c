/*
 * console-provider: a service provider written in plain C against
 * libzemlink.so and nothing but zemlink.h. It binds to the server named on
 * its command line (the port comes from "zemlink.ini" in the current
 * directory), registers, and then serves: every request is answered with a
 * completion, every informational message is read and released, and every
 * status and error event is shown. An error event means the connection was
 * lost; the provider then registers again, as the library expects, and
 * keeps trying with a growing pause (1 s, doubling up to 10 s) until a
 * registration succeeds, serving on meanwhile. It stops after --count
 * messages, after --seconds, or on SIGINT/SIGTERM, and de-registers before
 * it ends.
 *
 * Each event is one line on standard output.
 */
#define _POSIX_C_SOURCE 200809L

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "zemlink.h"

static volatile sig_atomic_t stopRequested = 0;

static void onSignal(int signalNumber) {
  (void)signalNumber;
  stopRequested = 1;
}

static void sleepMs(long ms) {
  struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&pause, NULL);
}

static double secondsSince(const struct timespec* start) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)(now.tv_sec - start->tv_sec) + (double)(now.tv_nsec - start->tv_nsec) / 1e9;
}

/* Registering again after a lost connection: one attempt now, then further
 * ones after a pause that doubles from 1 s up to 10 s. */
struct Reregistration {
  int pending;
  int attempt;
  double pauseSeconds;
  double nextAt; /* seconds since the start */
};

static void startReregistering(struct Reregistration* state, double now) {
  if (state->pending) return; /* already trying */
  state->pending = 1;
  state->attempt = 0;
  state->pauseSeconds = 1.0;
  state->nextAt = now;
}

static void reregisterIfDue(struct Reregistration* state, unsigned long id, double now, long* reregistrations) {
  if (!state->pending || now < state->nextAt) return;
  ++state->attempt;
  int result = Zem_RegisterProvider((uint32_t)id);
  if (result == ZEM_SUCCESS) {
    state->pending = 0;
    ++*reregistrations;
    printf("registration attempt %d succeeded\n", state->attempt);
    return;
  }
  printf("registration attempt %d failed with %d; next attempt in %g s\n", state->attempt, result,
         state->pauseSeconds);
  state->nextAt = now + state->pauseSeconds;
  state->pauseSeconds = state->pauseSeconds * 2 > 10.0 ? 10.0 : state->pauseSeconds * 2;
}

/* The items of a container as "a|b|c", cut to fit the buffer. */
static void itemsText(ZemContainerHandle handle, char* out, size_t size) {
  size_t used = 0;
  out[0] = '\0';
  int index = 0;
  for (const char* item = Zem_getFirstItem(handle); item != NULL; item = Zem_getNextItem(handle), ++index) {
    int written = snprintf(out + used, size - used, "%s%s", index == 0 ? "" : "|", item);
    if (written < 0 || (size_t)written >= size - used) break;
    used += (size_t)written;
  }
}

/* Answers a request: the first item says it was served, the others echo the
 * request's items, so that all ten slots travel. */
static int answer(ZemContainerHandle request) {
  ZemContainerHandle completion = Zem_createDataContainer();
  if (completion == 0) return ZEM_ERROR_NO_MEMORY;
  Zem_setMessageType(completion, ZEM_MSG_COMPLETION);
  Zem_setServerID(completion, Zem_getServerID(request));
  Zem_setFirstItem(completion, "served");
  int slot = 1;
  for (const char* item = Zem_getFirstItem(request); item != NULL && slot < ZEM_MAX_ITEMS;
       item = Zem_getNextItem(request), ++slot) {
    Zem_setNextItem(completion, item);
  }
  int result = Zem_SendServiceComplete(&completion);
  Zem_ResponseReceived(&completion);
  return result;
}

static void usage(FILE* out) {
  fputs("Usage: console-provider [--server ADDRESS] [--id N] [--count N] [--seconds S]\n"
        "Serves requests of the data-exchange server through libzemlink.so.\n"
        "  --server ADDRESS  the server's address (default 127.0.0.1); its port is\n"
        "                    PORT in section [RPC] of ./zemlink.ini (default 1550)\n"
        "  --id N            provider identifier, 1 to 1999999999 (default 1)\n"
        "  --count N         stop after N messages (default: no limit)\n"
        "  --seconds S       stop after S seconds (default: no limit)\n"
        "  --help            this text\n"
        "  --version         the version of console-provider\n",
        out);
}

int main(int argc, char** argv) {
  const char* server = "127.0.0.1";
  unsigned long id = 1;
  long count = -1;
  double seconds = -1;
  for (int i = 1; i < argc; ++i) {
    const char* value = i + 1 < argc ? argv[i + 1] : NULL;
    if (strcmp(argv[i], "--help") == 0) {
      usage(stdout);
      return 0;
    } else if (strcmp(argv[i], "--version") == 0) {
      puts("console-provider " ZEMLINK_VERSION);
      return 0;
    } else if (strcmp(argv[i], "--server") == 0 && value != NULL) {
      server = value;
    } else if (strcmp(argv[i], "--id") == 0 && value != NULL) {
      id = strtoul(value, NULL, 10);
    } else if (strcmp(argv[i], "--count") == 0 && value != NULL) {
      count = strtol(value, NULL, 10);
    } else if (strcmp(argv[i], "--seconds") == 0 && value != NULL) {
      seconds = strtod(value, NULL);
    } else {
      usage(stderr);
      return 2;
    }
    ++i;
  }
  setvbuf(stdout, NULL, _IOLBF, 0);
  signal(SIGINT, onSignal);
  signal(SIGTERM, onSignal);

  int result = ZemlinkInit(0, NULL, server);
  if (result != ZEM_SUCCESS) {
    fprintf(stderr, "console-provider: ZemlinkInit(%s) failed with %d\n", server, result);
    return 1;
  }
  result = Zem_RegisterProvider((uint32_t)id);
  if (result != ZEM_SUCCESS) {
    fprintf(stderr, "console-provider: Zem_RegisterProvider(%lu) failed with %d\n", id, result);
    ZemlinkDeInit();
    return 1;
  }
  printf("registering as provider %lu with %s\n", id, server);

  struct timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  long requests = 0, infos = 0, errors = 0, failedAnswers = 0, reregistrations = 0;
  struct Reregistration reregistration = {0, 0, 1.0, 0.0};
  char items[1024];
  while (!stopRequested && (count < 0 || requests + infos < count) && (seconds < 0 || secondsSince(&start) < seconds)) {
    reregisterIfDue(&reregistration, id, secondsSince(&start), &reregistrations);
    ZemContainerHandle event = 0;
    /* It pauses only when nothing is waiting: events queued together are
     * all taken in one wake-up. */
    if (Zem_GetEvent(ZEM_EVENT_POLL, &event) != ZEM_SUCCESS) {
      sleepMs(5);
      continue;
    }
    switch (Zem_getMessageType(event)) {
      case ZEM_MSG_REQUEST:
        itemsText(event, items, sizeof items);
        result = answer(event);
        if (result != ZEM_SUCCESS) ++failedAnswers;
        ++requests;
        printf("request ref=%d call=%d items=[%s] -> completion %s\n", Zem_getServerID(event), Zem_getCallID(event),
               items, result == ZEM_SUCCESS ? "sent" : "refused");
        break;
      case ZEM_MSG_INFO:
        itemsText(event, items, sizeof items);
        ++infos;
        printf("info ref=%d items=[%s]\n", Zem_getServerID(event), items);
        break;
      case ZEM_MSG_PROVIDER_STATUS:
        printf("status %d (%s)\n", Zem_getStatus(event),
               Zem_getStatus(event) == ZEM_STATUS_REGISTERED ? "registered" : "de-registered");
        break;
      case ZEM_MSG_ERROR:
        ++errors;
        printf("error event, status %d: connection lost, registering again\n", Zem_getStatus(event));
        startReregistering(&reregistration, secondsSince(&start));
        reregisterIfDue(&reregistration, id, secondsSince(&start), &reregistrations);
        break;
      default:
        printf("event of type %d\n", Zem_getMessageType(event));
    }
    Zem_InfoReceived(&event);
  }

  result = Zem_DeRegisterProvider();
  printf("de-registering: %d\n", result);
  /* The status event of the de-registration comes after whatever was still
   * queued; those are dropped now that no provider is registered. */
  for (int tries = 0; result == ZEM_SUCCESS && tries < 200; ++tries) {
    ZemContainerHandle event = 0;
    if (Zem_GetEvent(ZEM_EVENT_POLL, &event) == ZEM_SUCCESS) {
      if (Zem_getMessageType(event) == ZEM_MSG_PROVIDER_STATUS) printf("status %d (de-registered)\n", Zem_getStatus(event));
      Zem_InfoReceived(&event);
      break;
    }
  }
  ZemlinkDeInit();
  printf("served %ld requests and %ld informational messages; %ld error events, %ld refused completions, "
         "%ld re-registrations\n",
         requests, infos, errors, failedAnswers, reregistrations);
  return failedAnswers == 0 ? 0 : 1;
}
