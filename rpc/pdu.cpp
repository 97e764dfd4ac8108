#include "rpc/pdu.h"

#include "rpc/ndr.h"

namespace rpc {
namespace {

constexpr uint8_t kVersion = 5;
constexpr uint8_t kDrepLittleEndian = 0x10;
// A bind lists at most this many presentation contexts, each with at most
// this many transfer syntaxes; more than that is refused, not allocated.
constexpr size_t kMaxContexts = 16;
constexpr size_t kMaxTransferSyntaxes = 8;

void writeHeader(NdrWriter& out, PduType type, uint8_t flags, uint32_t callId) {
  out.u8(kVersion);
  out.u8(0);
  out.u8(static_cast<uint8_t>(type));
  out.u8(flags);
  out.u8(kDrepLittleEndian);
  out.u8(0);
  out.u8(0);
  out.u8(0);
  out.u16(0);  // frag_length, filled in by finish()
  out.u16(0);  // auth_length
  out.u32(callId);
}

std::vector<uint8_t> finish(NdrWriter& out) {
  std::vector<uint8_t> pdu = out.take();
  pdu[8] = static_cast<uint8_t>(pdu.size());
  pdu[9] = static_cast<uint8_t>(pdu.size() >> 8);
  return pdu;
}

void writeSyntax(NdrWriter& out, const SyntaxId& syntax) {
  uint8_t uuid[Uuid::kWireSize];
  syntax.uuid.toWire(uuid);
  out.bytes(uuid, sizeof uuid);
  out.u16(syntax.major);
  out.u16(syntax.minor);
}

bool readSyntax(NdrReader& in, SyntaxId& syntax) {
  uint8_t uuid[Uuid::kWireSize];
  if (!in.bytes(uuid, sizeof uuid) || !in.u16(syntax.major) || !in.u16(syntax.minor)) return false;
  syntax.uuid = Uuid::fromWire(uuid);
  return true;
}

// Checks the header of a whole fragment and positions the reader after it.
bool openPdu(std::span<const uint8_t> pdu, PduType expected, NdrReader& in, Header& header, std::string& why) {
  if (!decodeHeader(pdu, header, why)) return false;
  if (header.type != expected) {
    why = "unexpected PDU type " + std::to_string(static_cast<int>(header.type));
    return false;
  }
  if (header.fragLength != pdu.size()) {
    why = "fragment length " + std::to_string(header.fragLength) + " does not match " + std::to_string(pdu.size());
    return false;
  }
  if (header.authLength != 0) {
    why = "authentication is not supported";
    return false;
  }
  return in.skip(kHeaderSize);
}

bool done(NdrReader& in, std::string& why) {
  if (in.ok()) return true;
  why = in.error();
  return false;
}

}  // namespace

const SyntaxId& ndrTransferSyntax() {
  static const SyntaxId syntax{*Uuid::parse("8a885d04-1ceb-11c9-9fe8-08002b104860"), 2, 0};
  return syntax;
}

bool decodeHeader(std::span<const uint8_t> bytes, Header& header, std::string& why) {
  if (bytes.size() < kHeaderSize) {
    why = "fragment shorter than its header";
    return false;
  }
  if (bytes[0] != kVersion || bytes[1] > 1) {
    why = "protocol version " + std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + " is not supported";
    return false;
  }
  // Only little-endian integers, ASCII characters and IEEE floats.
  if (bytes[4] != kDrepLittleEndian || bytes[5] != 0) {
    why = "data representation is not little-endian ASCII IEEE";
    return false;
  }
  header.versionMinor = bytes[1];
  header.type = static_cast<PduType>(bytes[2]);
  header.flags = bytes[3];
  header.fragLength = static_cast<uint16_t>(bytes[8] | bytes[9] << 8);
  header.authLength = static_cast<uint16_t>(bytes[10] | bytes[11] << 8);
  header.callId = static_cast<uint32_t>(bytes[12] | bytes[13] << 8 | bytes[14] << 16) |
                  static_cast<uint32_t>(bytes[15]) << 24;
  if (header.fragLength < kHeaderSize) {
    why = "fragment length " + std::to_string(header.fragLength) + " is shorter than the header";
    return false;
  }
  return true;
}

std::vector<uint8_t> encodeBind(PduType type, uint32_t callId, const BindBody& body) {
  NdrWriter out;
  writeHeader(out, type, pfc::kFirstFrag | pfc::kLastFrag, callId);
  out.u16(body.maxXmitFrag);
  out.u16(body.maxRecvFrag);
  out.u32(body.assocGroupId);
  out.u8(static_cast<uint8_t>(body.contexts.size()));
  out.u8(0);
  out.u16(0);
  for (const ContextElement& element : body.contexts) {
    out.u16(element.contextId);
    out.u8(static_cast<uint8_t>(element.transferSyntaxes.size()));
    out.u8(0);
    writeSyntax(out, element.abstractSyntax);
    for (const SyntaxId& transfer : element.transferSyntaxes) writeSyntax(out, transfer);
  }
  return finish(out);
}

bool decodeBind(std::span<const uint8_t> pdu, BindBody& body, std::string& why) {
  NdrReader in(pdu);
  Header header;
  if (pdu.size() > 2 && pdu[2] == static_cast<uint8_t>(PduType::AlterContext)) {
    if (!openPdu(pdu, PduType::AlterContext, in, header, why)) return false;
  } else if (!openPdu(pdu, PduType::Bind, in, header, why)) {
    return false;
  }
  uint8_t count = 0, reserved8 = 0;
  uint16_t reserved16 = 0;
  in.u16(body.maxXmitFrag);
  in.u16(body.maxRecvFrag);
  in.u32(body.assocGroupId);
  in.u8(count);
  in.u8(reserved8);
  in.u16(reserved16);
  if (in.ok() && count > kMaxContexts) in.fail("too many presentation contexts: " + std::to_string(count));
  body.contexts.clear();
  for (uint8_t i = 0; i < count && in.ok(); ++i) {
    ContextElement element;
    uint8_t transfers = 0;
    in.u16(element.contextId);
    in.u8(transfers);
    in.u8(reserved8);
    readSyntax(in, element.abstractSyntax);
    if (in.ok() && (transfers == 0 || transfers > kMaxTransferSyntaxes))
      in.fail("presentation context with " + std::to_string(transfers) + " transfer syntaxes");
    for (uint8_t t = 0; t < transfers && in.ok(); ++t) {
      SyntaxId syntax;
      if (readSyntax(in, syntax)) element.transferSyntaxes.push_back(syntax);
    }
    if (in.ok()) body.contexts.push_back(std::move(element));
  }
  return done(in, why);
}

std::vector<uint8_t> encodeBindAck(PduType type, uint32_t callId, const BindAckBody& body) {
  NdrWriter out;
  writeHeader(out, type, pfc::kFirstFrag | pfc::kLastFrag, callId);
  out.u16(body.maxXmitFrag);
  out.u16(body.maxRecvFrag);
  out.u32(body.assocGroupId);
  if (body.secondaryAddress.empty() && type == PduType::AlterContextResp) {
    out.u16(0);
  } else {
    out.u16(static_cast<uint16_t>(body.secondaryAddress.size() + 1));
    out.bytes(body.secondaryAddress.data(), body.secondaryAddress.size());
    out.u8(0);
  }
  out.align(4);
  out.u8(static_cast<uint8_t>(body.results.size()));
  out.u8(0);
  out.u16(0);
  for (const ContextResult& result : body.results) {
    out.u16(result.result);
    out.u16(result.reason);
    writeSyntax(out, result.transferSyntax);
  }
  return finish(out);
}

bool decodeBindAck(std::span<const uint8_t> pdu, BindAckBody& body, std::string& why) {
  NdrReader in(pdu);
  Header header;
  if (pdu.size() > 2 && pdu[2] == static_cast<uint8_t>(PduType::AlterContextResp)) {
    if (!openPdu(pdu, PduType::AlterContextResp, in, header, why)) return false;
  } else if (!openPdu(pdu, PduType::BindAck, in, header, why)) {
    return false;
  }
  uint16_t addressLength = 0, reserved16 = 0;
  uint8_t count = 0, reserved8 = 0;
  in.u16(body.maxXmitFrag);
  in.u16(body.maxRecvFrag);
  in.u32(body.assocGroupId);
  in.u16(addressLength);
  body.secondaryAddress.clear();
  if (in.ok() && addressLength > in.remaining()) in.fail("secondary address longer than the PDU");
  if (in.ok() && addressLength > 0) {
    body.secondaryAddress.resize(addressLength);
    in.bytes(body.secondaryAddress.data(), addressLength);
    while (!body.secondaryAddress.empty() && body.secondaryAddress.back() == '\0') body.secondaryAddress.pop_back();
  }
  in.align(4);
  in.u8(count);
  in.u8(reserved8);
  in.u16(reserved16);
  if (in.ok() && count > kMaxContexts) in.fail("too many presentation results");
  body.results.clear();
  for (uint8_t i = 0; i < count && in.ok(); ++i) {
    ContextResult result;
    in.u16(result.result);
    in.u16(result.reason);
    if (readSyntax(in, result.transferSyntax)) body.results.push_back(result);
  }
  return done(in, why);
}

std::vector<uint8_t> encodeBindNak(uint32_t callId, const BindNakBody& body) {
  NdrWriter out;
  writeHeader(out, PduType::BindNak, pfc::kFirstFrag | pfc::kLastFrag, callId);
  out.u16(body.reason);
  out.u8(1);  // one supported protocol version: 5.0
  out.u8(kVersion);
  out.u8(0);
  return finish(out);
}

bool decodeBindNak(std::span<const uint8_t> pdu, BindNakBody& body, std::string& why) {
  NdrReader in(pdu);
  Header header;
  if (!openPdu(pdu, PduType::BindNak, in, header, why)) return false;
  in.u16(body.reason);  // the list of supported versions that may follow is not needed
  return done(in, why);
}

std::vector<uint8_t> encodeRequest(uint32_t callId, uint8_t flags, const RequestBody& body) {
  NdrWriter out(kRequestHeaderSize + Uuid::kWireSize + body.stub.size());
  writeHeader(out, PduType::Request, static_cast<uint8_t>(flags | (body.object ? pfc::kObjectUuid : 0)), callId);
  out.u32(body.allocHint);
  out.u16(body.contextId);
  out.u16(body.opnum);
  if (body.object) {
    uint8_t uuid[Uuid::kWireSize];
    body.object->toWire(uuid);
    out.bytes(uuid, sizeof uuid);
  }
  out.bytes(body.stub.data(), body.stub.size());
  return finish(out);
}

bool decodeRequest(std::span<const uint8_t> pdu, RequestBody& body, std::string& why) {
  NdrReader in(pdu);
  Header header;
  if (!openPdu(pdu, PduType::Request, in, header, why)) return false;
  in.u32(body.allocHint);
  in.u16(body.contextId);
  in.u16(body.opnum);
  body.object.reset();
  if (in.ok() && (header.flags & pfc::kObjectUuid)) {
    uint8_t uuid[Uuid::kWireSize];
    if (in.bytes(uuid, sizeof uuid)) body.object = Uuid::fromWire(uuid);
  }
  if (!done(in, why)) return false;
  body.stub = pdu.subspan(in.position());
  return true;
}

std::vector<uint8_t> encodeResponse(uint32_t callId, uint8_t flags, const ResponseBody& body) {
  NdrWriter out(kRequestHeaderSize + body.stub.size());
  writeHeader(out, PduType::Response, flags, callId);
  out.u32(body.allocHint);
  out.u16(body.contextId);
  out.u8(body.cancelCount);
  out.u8(0);
  out.bytes(body.stub.data(), body.stub.size());
  return finish(out);
}

bool decodeResponse(std::span<const uint8_t> pdu, ResponseBody& body, std::string& why) {
  NdrReader in(pdu);
  Header header;
  if (!openPdu(pdu, PduType::Response, in, header, why)) return false;
  uint8_t reserved = 0;
  in.u32(body.allocHint);
  in.u16(body.contextId);
  in.u8(body.cancelCount);
  in.u8(reserved);
  if (!done(in, why)) return false;
  body.stub = pdu.subspan(in.position());
  return true;
}

std::vector<uint8_t> encodeFault(uint32_t callId, const FaultBody& body) {
  NdrWriter out;
  writeHeader(out, PduType::Fault, pfc::kFirstFrag | pfc::kLastFrag, callId);
  out.u32(body.allocHint);
  out.u16(body.contextId);
  out.u8(body.cancelCount);
  out.u8(0);
  out.u32(body.status);
  out.u32(0);
  return finish(out);
}

bool decodeFault(std::span<const uint8_t> pdu, FaultBody& body, std::string& why) {
  NdrReader in(pdu);
  Header header;
  if (!openPdu(pdu, PduType::Fault, in, header, why)) return false;
  uint8_t reserved = 0;
  in.u32(body.allocHint);
  in.u16(body.contextId);
  in.u8(body.cancelCount);
  in.u8(reserved);
  in.u32(body.status);
  in.skip(4);  // reserved
  return done(in, why);
}

std::vector<uint8_t> encodeShutdown(uint32_t callId) {
  NdrWriter out;
  writeHeader(out, PduType::Shutdown, pfc::kFirstFrag | pfc::kLastFrag, callId);
  return finish(out);
}

size_t stubBytesPerFragment(size_t maxFragment, size_t headerSize) {
  const size_t room = maxFragment > headerSize ? maxFragment - headerSize : 0;
  const size_t rounded = room / 8 * 8;
  return rounded > 0 ? rounded : 8;
}

}  // namespace rpc
