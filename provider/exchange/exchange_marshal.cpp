#include "provider/exchange/exchange_marshal.h"

#include <bit>
#include <cstring>
#include <string>

namespace {

// UTF-16 units travel little-endian; on a little-endian host they are copied
// as they are.
static_assert(std::endian::native == std::endian::little, "the units are copied as little-endian");

void writeUnits(rpc::NdrWriter& out, const char16_t* units, int count) {
  out.align(2);
  out.bytes(units, static_cast<size_t>(count) * sizeof(char16_t));
}

bool readUnits(rpc::NdrReader& in, char16_t* units, int count) {
  return in.align(2) && in.bytes(units, static_cast<size_t>(count) * sizeof(char16_t));
}

// A name field goes whole, but nothing behind its first zero unit leaves
// this side non-zero.
void writeName(rpc::NdrWriter& out, const char16_t (&name)[kNameUnits]) {
  bool ended = false;
  for (char16_t unit : name) {
    ended = ended || unit == 0;
    out.u16(ended ? 0 : static_cast<uint16_t>(unit));
  }
}

}  // namespace

void writeProviderNames(rpc::NdrWriter& out, const ProviderNames& names) {
  out.align(2);
  writeName(out, names.PrimaryName);
  writeName(out, names.SecondaryName);
}

bool readProviderNames(rpc::NdrReader& in, ProviderNames& names) {
  return in.align(2) && readUnits(in, names.PrimaryName, kNameUnits) && readUnits(in, names.SecondaryName, kNameUnits);
}

void writeRegistrationFlags(rpc::NdrWriter& out, const RegistrationFlags& flags) {
  out.i16(flags.Flag1);
  out.i16(flags.Flag2);
}

bool readRegistrationFlags(rpc::NdrReader& in, RegistrationFlags& flags) {
  return in.i16(flags.Flag1) && in.i16(flags.Flag2);
}

void writeMessageRecord(rpc::NdrWriter& out, const MessageRecord& record) {
  int32_t fields[20];
  std::memcpy(fields, &record, sizeof fields);
  for (int32_t field : fields) out.i32(field);
}

bool readMessageRecord(rpc::NdrReader& in, MessageRecord& record) {
  int32_t fields[20];
  for (int32_t& field : fields)
    if (!in.i32(field)) return false;
  std::memcpy(&record, fields, sizeof fields);
  return true;
}

void writeMessageData(rpc::NdrWriter& out, const MessageData& data) {
  for (const auto& string : data.Strings) {
    uint32_t length = 0;
    while (length < kStringUnits - 1 && string[length] != 0) ++length;
    out.u32(0);           // offset
    out.u32(length + 1);  // actual count, terminator included
    writeUnits(out, string, static_cast<int>(length));
    out.u16(0);
  }
}

bool readMessageData(rpc::NdrReader& in, MessageData& data) {
  std::memset(&data, 0, sizeof data);
  for (int i = 0; i < kStringCount; ++i) {
    uint32_t offset = 0, count = 0;
    if (!in.u32(offset) || !in.u32(count)) return false;
    if (offset != 0) return in.fail("string " + std::to_string(i) + " has offset " + std::to_string(offset));
    if (count == 0 || count > kStringUnits)
      return in.fail("string " + std::to_string(i) + " has actual count " + std::to_string(count));
    if (!readUnits(in, data.Strings[i], static_cast<int>(count))) return false;
    if (data.Strings[i][count - 1] != 0) return in.fail("string " + std::to_string(i) + " is not terminated");
  }
  return true;
}

void writeProviderContext(rpc::NdrWriter& out, const ProviderContext& context) {
  rpc::writeContextHandle(out, context.toHandle());
}

bool readProviderContext(rpc::NdrReader& in, ProviderContext& context) {
  rpc::ContextHandle handle;
  if (!rpc::readContextHandle(in, handle)) return false;
  context = ProviderContext::fromHandle(handle);
  return true;
}

bool readEnd(rpc::NdrReader& in) {
  // Up to seven bytes may pad a stub to an eight-byte boundary; more is not
  // what the other side meant to send.
  if (in.ok() && in.remaining() > 7) in.fail(std::to_string(in.remaining()) + " bytes after the last parameter");
  return in.ok();
}
