// The NDR form of the exchange interface's parameters, shared by the client
// stubs and the server dispatch. Readers reject what the interface cannot
// carry: a string with an offset other than 0, an actual count of 0 or above
// 81, or no terminating zero unit in its last place.
#pragma once

#include "provider/exchange/exchange_records.h"
#include "rpc/ndr.h"

void writeProviderNames(rpc::NdrWriter& out, const ProviderNames& names);
bool readProviderNames(rpc::NdrReader& in, ProviderNames& names);

void writeRegistrationFlags(rpc::NdrWriter& out, const RegistrationFlags& flags);
bool readRegistrationFlags(rpc::NdrReader& in, RegistrationFlags& flags);

void writeMessageRecord(rpc::NdrWriter& out, const MessageRecord& record);
bool readMessageRecord(rpc::NdrReader& in, MessageRecord& record);

// Each string goes as offset 0, actual count (characters up to the first
// zero unit, at most 80, plus the terminator) and the units themselves.
void writeMessageData(rpc::NdrWriter& out, const MessageData& data);
bool readMessageData(rpc::NdrReader& in, MessageData& data);

void writeProviderContext(rpc::NdrWriter& out, const ProviderContext& context);
bool readProviderContext(rpc::NdrReader& in, ProviderContext& context);

// The stub ends here: at most seven bytes of padding may follow.
bool readEnd(rpc::NdrReader& in);
