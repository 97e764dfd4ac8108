// Runs the five procedures once through our client stubs against the server
// named on the command line, for a peer that decodes what we send. Prints
// one line per call: procedure, status, result; exits 0 when all succeeded.
//
//   exchange_client_driver ncacn_ip_tcp:127.0.0.1[PORT]
#include <cstdio>
#include <string>

#include "provider/exchange/exchange_client.h"
#include "provider/exchange/exchange_text.h"

namespace {

bool report(const char* procedure, const ExchangeResult& result) {
  std::printf("%s %s %d\n", procedure, result.status.toString().c_str(), result.value);
  return result.succeeded();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: exchange_client_driver BINDING\n");
    return 2;
  }
  ExchangeClient client;
  if (!client.bind(argv[1]).isOk()) return 2;
  bool ok = true;
  ProviderContext context{};
  ok &= report("registerProvider",
               client.registerProvider(&context, 4711, vendorProviderNames(), defaultRegistrationFlags()));

  MessageRecord record{};
  MessageData data{};
  const ExchangeResult fetched = client.Zem_GetMessageBridge(context, 0, &record, &data);
  ok &= report("Zem_GetMessageBridge", fetched);
  std::printf("message %d %d %s\n", record.MsgReferenceId, record.MsgType, wireStringToNarrow(data.Strings[0]).c_str());

  // The answer: only the reference in the record; "abc" and "" alternating.
  MessageRecord completion{};
  completion.MsgReferenceId = record.MsgReferenceId;
  MessageData items{};
  for (int i = 0; i < kStringCount; i += 2) narrowToWireString("abc", items.Strings[i]);
  ok &= report("sendCompletion", client.sendCompletion(context, completion, items));

  // Ten items of 80 characters.
  for (auto& slot : items.Strings) narrowToWireString(std::string(80, 'w'), slot);
  ok &= report("sendCompletion", client.sendCompletion(context, completion, items));

  ok &= report("keepAlive", client.keepAlive(context));
  ok &= report("deRegisterProvider", client.deRegisterProvider(&context));
  std::printf("context after deRegisterProvider %s\n", context.isNull() ? "null" : "set");
  return ok && context.isNull() ? 0 : 1;
}
