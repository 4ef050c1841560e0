// Feeds arbitrary input to the simulator's SMS-SUBMIT decoder (as octets, so that most inputs
// get past the hexadecimal and length checks) and to its command interpreter (as typed bytes).
// Every decoded text must be well-formed UTF-8 and every refusal must carry a reason.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "at_interpreter.h"
#include "gsm_text.h"
#include "submit_pdu.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::vector<std::uint8_t> octets(data + 1, data + size);
  if ((data[0] & 1) == 0) {
    std::string hex = pagorin::sim::ToHex(octets);
    std::size_t serviceCentre = octets.empty() ? 0 : 1u + octets[0];
    int tpdu = octets.size() > serviceCentre ? static_cast<int>(octets.size() - serviceCentre) : 0;
    auto result = pagorin::sim::DecodeSubmitPdu(hex, tpdu);
    if (result.pdu) {
      if (!pagorin::sim::IsValidUtf8(result.pdu->text) ||
          !pagorin::sim::IsValidUtf8(result.pdu->destination)) {
        __builtin_trap();
      }
    } else if (result.reason.empty() || result.cmsError != 304) {
      __builtin_trap();
    }
  } else {
    pagorin::sim::ModemBehaviour behaviour;
    behaviour.hangupAfter = data[0] >> 4;
    pagorin::sim::AtInterpreter modem(behaviour);
    std::string_view typed(reinterpret_cast<const char*>(octets.data()), octets.size());
    // In two pieces, so that state carried between calls is exercised too.
    modem.Feed(typed.substr(0, typed.size() / 2));
    modem.Feed(typed.substr(typed.size() / 2));
    for (const auto& message : modem.TakeMessages()) {
      if (!pagorin::sim::IsValidUtf8(message.pdu.text)) __builtin_trap();
    }
  }
  return 0;
}
