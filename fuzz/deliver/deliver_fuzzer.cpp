// Feeds arbitrary bytes to DecodeIncomingPdu, as a line and as octets written out in hex (so
// that mutations reach the fields behind the hex check), and to the header-line parsers; checks
// that every result stays inside the bounds its contract names.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "modem/sms_deliver.h"

namespace {

using namespace pagorin;

void Check(const DecodedPdu& decoded, std::size_t hexDigits) {
  const bool empty = std::holds_alternative<std::monostate>(decoded.message);
  if (empty != (decoded.error != PduDecodeError::kNone)) __builtin_trap();
  if (decoded.tpduOctets * 2 > hexDigits) __builtin_trap();
  if (const auto* message = std::get_if<SmsDeliver>(&decoded.message)) {
    if (message->text.size() > 160 || message->data.size() > 140) __builtin_trap();
    if (message->originator.number.size() > 21 || message->originator.name.size() > 11) {
      __builtin_trap();
    }
    if (const auto& part = message->concatenation) {
      if (part->total < 1 || part->sequence < 1 || part->sequence > part->total ||
          part->reference < 0 || part->reference > 0xFFFF) {
        __builtin_trap();
      }
    }
    if (message->messageClass && (*message->messageClass < 0 || *message->messageClass > 3)) {
      __builtin_trap();
    }
    if (const auto& stamp = message->serviceCentreTime) {
      if (stamp->zoneMinutes % 15 != 0 || stamp->zoneMinutes < -1200 || stamp->zoneMinutes > 1200) {
        __builtin_trap();
      }
    }
  } else if (const auto* report = std::get_if<SmsStatusReport>(&decoded.message)) {
    if (report->messageReference < 0 || report->messageReference > 255) __builtin_trap();
    if (report->deliveryClass != ClassifyDeliveryStatus(report->status)) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Check(DecodeIncomingPdu(bytes), bytes.size());
  Check(DecodeIncomingPdu(bytes, false), bytes.size());

  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (std::size_t i = 0; i < size && hex.size() < kMaxIncomingPduHexDigits; ++i) {
    hex += kDigits[data[i] >> 4];
    hex += kDigits[data[i] & 0x0F];
  }
  Check(DecodeIncomingPdu(hex, size > 0 && (data[0] & 0x80) != 0), hex.size());
  Check(DecodeIncomingPdu(hex, false), hex.size());

  if (auto notice = ParseStoredMessageNotice(bytes)) {
    if (notice->storage.size() > 16) __builtin_trap();
  }
  for (const auto& header : {ParseCmgrHeader(bytes), ParseCmglHeader(bytes)}) {
    if (header && (header->alpha.size() > 64 || header->length < 0 || header->length > 255 ||
                   header->status < 0 || header->status > 4)) {
      __builtin_trap();
    }
  }
  if (auto length = ParseCdsHeader(bytes)) {
    if (*length < 0 || *length > 255) __builtin_trap();
  }
  return 0;
}
