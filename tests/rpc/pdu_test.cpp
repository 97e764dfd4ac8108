#include "rpc/pdu.h"

#include <gtest/gtest.h>

#include <cstring>

#include "rpc/fragment_io.h"

namespace {

const rpc::SyntaxId kInterface{*rpc::Uuid::parse("a4f1db00-ca47-1067-b31f-00dd010662da"), 1, 0};

TEST(Uuid, TravelsWithItsFirstThreeFieldsLittleEndian) {
  uint8_t wire[16];
  kInterface.uuid.toWire(wire);
  const uint8_t expected[16] = {0x00, 0xdb, 0xf1, 0xa4, 0x47, 0xca, 0x67, 0x10,
                                0xb3, 0x1f, 0x00, 0xdd, 0x01, 0x06, 0x62, 0xda};
  EXPECT_EQ(0, std::memcmp(wire, expected, 16));
  EXPECT_EQ(rpc::Uuid::fromWire(wire).toString(), "a4f1db00-ca47-1067-b31f-00dd010662da");
}

TEST(Pdu, ABindWithOneContextIs72BytesAndDecodesBack) {
  rpc::BindBody bind;
  bind.maxXmitFrag = 4280;
  bind.maxRecvFrag = 4280;
  bind.assocGroupId = 0x12345678;
  bind.contexts.push_back({0, kInterface, {rpc::ndrTransferSyntax()}});
  const std::vector<uint8_t> pdu = rpc::encodeBind(rpc::PduType::Bind, 7, bind);
  ASSERT_EQ(pdu.size(), 72u);
  EXPECT_EQ(pdu[0], 5);
  EXPECT_EQ(pdu[2], 11);
  EXPECT_EQ(pdu[3], 0x03);
  EXPECT_EQ(pdu[4], 0x10);
  EXPECT_EQ(pdu[8], 72);
  EXPECT_EQ(pdu[12], 7);
  // The interface version 1.0 and NDR 2.0, as u16 major then u16 minor.
  EXPECT_EQ(std::vector<uint8_t>(pdu.begin() + 48, pdu.begin() + 52), (std::vector<uint8_t>{1, 0, 0, 0}));
  EXPECT_EQ(std::vector<uint8_t>(pdu.begin() + 68, pdu.begin() + 72), (std::vector<uint8_t>{2, 0, 0, 0}));

  rpc::BindBody back;
  std::string why;
  ASSERT_TRUE(rpc::decodeBind(pdu, back, why)) << why;
  EXPECT_EQ(back.assocGroupId, 0x12345678u);
  ASSERT_EQ(back.contexts.size(), 1u);
  EXPECT_EQ(back.contexts[0].abstractSyntax, kInterface);
  EXPECT_EQ(back.contexts[0].transferSyntaxes[0], rpc::ndrTransferSyntax());
}

TEST(Pdu, BindAckPadsTheSecondaryAddressToFourBytes) {
  rpc::BindAckBody ack;
  ack.maxXmitFrag = 5840;
  ack.maxRecvFrag = 5840;
  ack.assocGroupId = 99;
  ack.secondaryAddress = "1550";  // 5 bytes with the zero: 24 + 2 + 5 -> pad to 32
  ack.results.push_back({0, 0, rpc::ndrTransferSyntax()});
  const std::vector<uint8_t> pdu = rpc::encodeBindAck(rpc::PduType::BindAck, 1, ack);
  EXPECT_EQ(pdu.size(), 32u + 4 + 24);
  EXPECT_EQ(pdu[32], 1) << "number of results right after the padding";

  rpc::BindAckBody back;
  std::string why;
  ASSERT_TRUE(rpc::decodeBindAck(pdu, back, why)) << why;
  EXPECT_EQ(back.secondaryAddress, "1550");
  EXPECT_EQ(back.assocGroupId, 99u);
  ASSERT_EQ(back.results.size(), 1u);
  EXPECT_EQ(back.results[0].transferSyntax, rpc::ndrTransferSyntax());
}

TEST(Pdu, RequestResponseAndFaultRoundTrip) {
  const std::vector<uint8_t> stub = {1, 2, 3, 4, 5};
  rpc::RequestBody request;
  request.allocHint = 5;
  request.contextId = 3;
  request.opnum = 4;
  request.stub = stub;
  std::vector<uint8_t> pdu = rpc::encodeRequest(9, rpc::pfc::kFirstFrag | rpc::pfc::kLastFrag, request);
  EXPECT_EQ(pdu.size(), rpc::kRequestHeaderSize + stub.size());
  rpc::RequestBody requestBack;
  std::string why;
  ASSERT_TRUE(rpc::decodeRequest(pdu, requestBack, why)) << why;
  EXPECT_EQ(requestBack.opnum, 4);
  EXPECT_EQ(requestBack.contextId, 3);
  EXPECT_EQ(std::vector<uint8_t>(requestBack.stub.begin(), requestBack.stub.end()), stub);

  rpc::FaultBody fault;
  fault.status = rpc::fault::kContextMismatch;
  pdu = rpc::encodeFault(9, fault);
  EXPECT_EQ(pdu.size(), rpc::kFaultSize);
  rpc::FaultBody faultBack;
  ASSERT_TRUE(rpc::decodeFault(pdu, faultBack, why)) << why;
  EXPECT_EQ(faultBack.status, rpc::fault::kContextMismatch);
}

TEST(Pdu, RequestWithObjectUuidCarriesIt) {
  const auto object = rpc::Uuid::random();
  rpc::RequestBody request;
  request.object = object;
  const std::vector<uint8_t> pdu = rpc::encodeRequest(1, 3, request);
  EXPECT_EQ(pdu[3] & rpc::pfc::kObjectUuid, rpc::pfc::kObjectUuid);
  rpc::RequestBody back;
  std::string why;
  ASSERT_TRUE(rpc::decodeRequest(pdu, back, why)) << why;
  ASSERT_TRUE(back.object.has_value());
  EXPECT_EQ(*back.object, object);
  EXPECT_TRUE(back.stub.empty());
}

struct BadHeader {
  const char* name;
  size_t offset;
  uint8_t value;
};

TEST(Pdu, RefusesMalformedHeaders) {
  const std::vector<uint8_t> good = rpc::encodeShutdown(1);
  const BadHeader cases[] = {
      {"version 4", 0, 4},          {"minor version 2", 1, 2},     {"big-endian data", 4, 0x00},
      {"EBCDIC characters", 4, 0x11}, {"length under the header", 8, 15}, {"length beyond the bytes", 8, 40},
      {"authentication", 10, 8},
  };
  for (const BadHeader& bad : cases) {
    std::vector<uint8_t> pdu = good;
    pdu[bad.offset] = bad.value;
    rpc::Header header;
    std::string why;
    // Header checks, then the whole-fragment checks of a typed decoder.
    const bool headerOk = rpc::decodeHeader(pdu, header, why);
    rpc::BindNakBody nak;
    pdu[2] = static_cast<uint8_t>(rpc::PduType::BindNak);
    EXPECT_FALSE(headerOk && rpc::decodeBindNak(pdu, nak, why)) << bad.name;
  }
}

TEST(Pdu, RefusesTruncatedBodiesOfEveryType) {
  rpc::BindBody bind;
  bind.contexts.push_back({0, kInterface, {rpc::ndrTransferSyntax()}});
  rpc::BindAckBody ack;
  ack.secondaryAddress = "135";
  ack.results.push_back({});
  const std::vector<std::vector<uint8_t>> pdus = {
      rpc::encodeBind(rpc::PduType::Bind, 1, bind), rpc::encodeBindAck(rpc::PduType::BindAck, 1, ack),
      rpc::encodeFault(1, {}), rpc::encodeRequest(1, 3, {}), rpc::encodeResponse(1, 3, {})};
  for (const auto& whole : pdus) {
    for (size_t cut = rpc::kHeaderSize; cut < whole.size(); ++cut) {
      std::vector<uint8_t> pdu(whole.begin(), whole.begin() + static_cast<long>(cut));
      pdu[8] = static_cast<uint8_t>(cut);  // consistent length, short body
      std::string why;
      rpc::BindBody b;
      rpc::BindAckBody a;
      rpc::FaultBody f;
      rpc::RequestBody q;
      rpc::ResponseBody r;
      bool decoded = false;
      switch (static_cast<rpc::PduType>(pdu[2])) {
        case rpc::PduType::Bind: decoded = rpc::decodeBind(pdu, b, why); break;
        case rpc::PduType::BindAck: decoded = rpc::decodeBindAck(pdu, a, why); break;
        case rpc::PduType::Fault: decoded = rpc::decodeFault(pdu, f, why); break;
        case rpc::PduType::Request: decoded = rpc::decodeRequest(pdu, q, why); break;
        case rpc::PduType::Response: decoded = rpc::decodeResponse(pdu, r, why); break;
        default: break;
      }
      EXPECT_FALSE(decoded) << "type " << int(pdu[2]) << " cut at " << cut;
    }
  }
}

TEST(Pdu, BindRefusesContextCountsItCannotHold) {
  rpc::BindBody bind;
  bind.contexts.push_back({0, kInterface, {rpc::ndrTransferSyntax()}});
  std::vector<uint8_t> pdu = rpc::encodeBind(rpc::PduType::Bind, 1, bind);
  rpc::BindBody back;
  std::string why;
  pdu[24] = 200;  // claims 200 contexts
  EXPECT_FALSE(rpc::decodeBind(pdu, back, why));
  pdu[24] = 1;
  pdu[30] = 0;  // a context with no transfer syntax
  EXPECT_FALSE(rpc::decodeBind(pdu, back, why));
}

TEST(Pdu, StubPiecesAreMultiplesOfEight) {
  EXPECT_EQ(rpc::stubBytesPerFragment(1432, rpc::kRequestHeaderSize), 1408u);
  EXPECT_EQ(rpc::stubBytesPerFragment(100, rpc::kRequestHeaderSize), 72u);
  EXPECT_EQ(rpc::stubBytesPerFragment(20, rpc::kRequestHeaderSize), 8u);
}

rpc::Header fragmentHeader(uint32_t callId, uint8_t flags) {
  rpc::Header header;
  header.callId = callId;
  header.flags = flags;
  return header;
}

TEST(StubAssembler, JoinsFragmentsInOrder) {
  rpc::StubAssembler assembler(100);
  const std::vector<uint8_t> a = {1, 2}, b = {3}, c = {4, 5};
  std::string why;
  EXPECT_EQ(assembler.add(fragmentHeader(5, rpc::pfc::kFirstFrag), a, why), rpc::StubAssembler::Step::More);
  EXPECT_EQ(assembler.add(fragmentHeader(5, 0), b, why), rpc::StubAssembler::Step::More);
  EXPECT_EQ(assembler.add(fragmentHeader(5, rpc::pfc::kLastFrag), c, why), rpc::StubAssembler::Step::Complete);
  EXPECT_EQ(assembler.take(), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
}

TEST(StubAssembler, RefusesOutOfOrderAndOversizedCalls) {
  const std::vector<uint8_t> piece(40);
  std::string why;
  {
    rpc::StubAssembler assembler(100);
    EXPECT_EQ(assembler.add(fragmentHeader(5, 0), piece, why), rpc::StubAssembler::Step::Error)
        << "no FIRST_FRAG";
  }
  {
    rpc::StubAssembler assembler(100);
    assembler.add(fragmentHeader(5, rpc::pfc::kFirstFrag), piece, why);
    EXPECT_EQ(assembler.add(fragmentHeader(6, 0), piece, why), rpc::StubAssembler::Step::Error) << "other call";
  }
  {
    rpc::StubAssembler assembler(100);
    assembler.add(fragmentHeader(5, rpc::pfc::kFirstFrag), piece, why);
    EXPECT_EQ(assembler.add(fragmentHeader(5, rpc::pfc::kFirstFrag), piece, why), rpc::StubAssembler::Step::Error)
        << "second FIRST_FRAG";
  }
  {
    rpc::StubAssembler assembler(100);
    assembler.add(fragmentHeader(5, rpc::pfc::kFirstFrag), piece, why);
    assembler.add(fragmentHeader(5, 0), piece, why);
    EXPECT_EQ(assembler.add(fragmentHeader(5, 0), piece, why), rpc::StubAssembler::Step::Error) << "over 100 bytes";
  }
}

}  // namespace
