// The records of the exchange interface, laid out exactly as they travel
// (little-endian, no padding inside), and its identity and result values.
#pragma once

#include <cstdint>

#include "rpc/context_handle.h"
#include "rpc/pdu.h"

// Interface a4f1db00-ca47-1067-b31f-00dd010662da, version 1.0.
const rpc::SyntaxId& exchangeInterfaceId();

enum class ExchangeOp : uint16_t {
  RegisterProvider = 0,
  DeRegisterProvider = 1,
  GetMessageBridge = 2,
  SendCompletion = 3,
  KeepAlive = 4,
};
constexpr uint16_t kExchangeOperationCount = 5;

// Result values of the procedures that the provider tells apart; 0 is success.
constexpr int16_t TARVO_SUCCESS = 0;
constexpr int16_t TARVO_ERROR_SERVER_CONNECT = 1003;
constexpr int16_t TARVO_ERROR_PARAMETER = 1004;
constexpr int16_t TARVO_ERROR_CONNECTION_LOST = 1005;

constexpr int kNameUnits = 51;    // UTF-16 units of each provider name
constexpr int kStringUnits = 81;  // UTF-16 units of each MessageData string, terminator included
constexpr int kStringCount = 10;
constexpr const char16_t* kVendorName = u"Brasken";

struct ProviderNames {
  char16_t PrimaryName[kNameUnits];
  char16_t SecondaryName[kNameUnits];
};
static_assert(sizeof(ProviderNames) == 204 && alignof(ProviderNames) == 2);

struct RegistrationFlags {
  int16_t Flag1;
  int16_t Flag2;
};
static_assert(sizeof(RegistrationFlags) == 4 && alignof(RegistrationFlags) == 2);

struct CallRecord {
  int32_t CallId;
  int32_t NetworkCallId;
  int32_t NodeId;
  int32_t HeldCallId;
  int32_t ReservedCallReference;
};
static_assert(sizeof(CallRecord) == 20);

struct MessageRecord {
  int32_t MsgReferenceId;
  int32_t MsgProviderId;
  int32_t Reserved1;
  int32_t MsgType;  // 0: informational; anything else: a request
  CallRecord Call;
  int32_t Reserved2;
  int32_t Reserved3;
  int32_t ReservedArray[9];
};
static_assert(sizeof(MessageRecord) == 80 && alignof(MessageRecord) == 4);

// Ten zero-terminated UTF-16 strings of at most 80 characters; a slot that
// carries nothing is empty.
struct MessageData {
  char16_t Strings[kStringCount][kStringUnits];
};
static_assert(sizeof(MessageData) == 10 * 81 * 2);

// The server context of a registration: the 20 bytes of its context handle.
struct ProviderContext {
  uint32_t Attributes;
  uint8_t Uuid[16];

  bool isNull() const;
  bool operator==(const ProviderContext&) const = default;
  rpc::ContextHandle toHandle() const;
  static ProviderContext fromHandle(const rpc::ContextHandle& handle);
};
static_assert(sizeof(ProviderContext) == 20);

// The names every registration sends: "Brasken" in both fields, all
// further units zero; and both flags 1.
ProviderNames vendorProviderNames();
RegistrationFlags defaultRegistrationFlags();
