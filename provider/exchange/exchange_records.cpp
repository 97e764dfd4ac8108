#include "provider/exchange/exchange_records.h"

#include <cstring>

const rpc::SyntaxId& exchangeInterfaceId() {
  static const rpc::SyntaxId id{*rpc::Uuid::parse("a4f1db00-ca47-1067-b31f-00dd010662da"), 1, 0};
  return id;
}

bool ProviderContext::isNull() const { return toHandle().isNull(); }

rpc::ContextHandle ProviderContext::toHandle() const {
  rpc::ContextHandle handle;
  handle.attributes = Attributes;
  handle.uuid = rpc::Uuid::fromWire(Uuid);
  return handle;
}

ProviderContext ProviderContext::fromHandle(const rpc::ContextHandle& handle) {
  ProviderContext context{};
  context.Attributes = handle.attributes;
  handle.uuid.toWire(context.Uuid);
  return context;
}

ProviderNames vendorProviderNames() {
  ProviderNames names{};
  for (int i = 0; kVendorName[i] != 0; ++i) {
    names.PrimaryName[i] = kVendorName[i];
    names.SecondaryName[i] = kVendorName[i];
  }
  return names;
}

RegistrationFlags defaultRegistrationFlags() { return RegistrationFlags{1, 1}; }
