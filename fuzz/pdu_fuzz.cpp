// Feeds arbitrary bytes to the PDU decoders and the stub assembler, as one
// fragment or as a run of fragments.
#include <cstddef>
#include <cstdint>
#include <span>

#include "rpc/fragment_io.h"
#include "rpc/pdu.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> input(data, size);
  rpc::StubAssembler assembler(4096);
  while (input.size() >= rpc::kHeaderSize) {
    rpc::Header header;
    std::string why;
    if (!rpc::decodeHeader(input, header, why) || header.fragLength > input.size()) break;
    const auto fragment = input.first(header.fragLength);
    input = input.subspan(header.fragLength);

    rpc::BindBody bind;
    rpc::BindAckBody ack;
    rpc::BindNakBody nak;
    rpc::RequestBody request;
    rpc::ResponseBody response;
    rpc::FaultBody fault;
    rpc::decodeBind(fragment, bind, why);
    rpc::decodeBindAck(fragment, ack, why);
    rpc::decodeBindNak(fragment, nak, why);
    rpc::decodeFault(fragment, fault, why);
    if (rpc::decodeRequest(fragment, request, why) &&
        assembler.add(header, request.stub, why) != rpc::StubAssembler::Step::More)
      assembler.take();
    if (rpc::decodeResponse(fragment, response, why) &&
        assembler.add(header, response.stub, why) != rpc::StubAssembler::Step::More)
      assembler.take();
    // What decodes must encode again without trouble.
    if (rpc::decodeBind(fragment, bind, why)) rpc::encodeBind(rpc::PduType::Bind, header.callId, bind);
    if (rpc::decodeBindAck(fragment, ack, why)) rpc::encodeBindAck(rpc::PduType::BindAck, header.callId, ack);
  }
  return 0;
}
