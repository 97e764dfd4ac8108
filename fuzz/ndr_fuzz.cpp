// Feeds arbitrary bytes to the NDR readers of the exchange interface, as the
// client reads answers and the server reads requests.
#include <cstddef>
#include <cstdint>
#include <span>

#include "provider/exchange/exchange_marshal.h"
#include "provider/exchange/exchange_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> stub(data, size);
  {
    // Zem_GetMessageBridge's answer.
    rpc::NdrReader in(stub);
    MessageRecord record{};
    MessageData strings{};
    int16_t result = 0;
    if (readMessageRecord(in, record) && readMessageData(in, strings) && in.i16(result) && readEnd(in)) {
      for (const auto& slot : strings.Strings) wireStringToNarrow(slot);
      rpc::NdrWriter out;
      writeMessageData(out, strings);
    }
  }
  {
    // sendCompletion's request.
    rpc::NdrReader in(stub);
    ProviderContext context{};
    MessageRecord record{};
    MessageData strings{};
    if (readProviderContext(in, context) && readMessageRecord(in, record) && readMessageData(in, strings)) readEnd(in);
  }
  {
    // registerProvider's request and answer.
    rpc::NdrReader in(stub);
    int32_t id = 0;
    ProviderNames names{};
    RegistrationFlags flags{};
    if (in.i32(id) && readProviderNames(in, names) && readRegistrationFlags(in, flags)) readEnd(in);
    rpc::NdrReader answer(stub);
    ProviderContext context{};
    int16_t result = 0;
    if (readProviderContext(answer, context) && answer.i16(result)) readEnd(answer);
  }
  return 0;
}
