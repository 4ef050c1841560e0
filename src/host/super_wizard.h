// The plug-in as the host sees it: twenty virtual operations whose positions in the interface
// table are fixed (the host calls them by position, so none may be added, removed or reordered),
// and the two exported functions of the module. Every operation is called on the host's thread
// and throws nothing.
//
// A host loads libpagorin.so, resolves CreateSuperWizard and DeleteSuperWizard, and builds with
// the same toolchain (the texts returned are std::string holding code page 936 bytes).
#pragma once

#include <cstdint>
#include <string>

#include "host/alarm_event.h"
#include "host/archive.h"
#include "host/host_application.h"

namespace pagorin {

// Run-time class information of the framework's root class.
struct RuntimeClass {
  const char* className;
};

// The framework's diagnostic output; the plug-in writes nothing to it.
class DumpContext;

class SuperWizard {
 public:
  // 1. The root class's run-time class.
  virtual const RuntimeClass* GetRuntimeClass() const noexcept {
    static const RuntimeClass rootClass{"CObject"};
    return &rootClass;
  }
  // 2. Destroys the plug-in (through DeleteSuperWizard).
  virtual ~SuperWizard() = default;
  // 3. Stores or loads the plug-in's configuration in the project archive.
  virtual void Serialize(Archive& archive) noexcept = 0;
  // 4. Diagnostics; does nothing.
  virtual void AssertValid() const noexcept {}
  // 5. Diagnostics; does nothing.
  virtual void Dump(DumpContext& context) const noexcept { (void)context; }
  // 6. The project starts running. Returns 1.
  virtual int Start(int unused) noexcept = 0;
  // 7. Runs the settings dialog modally; 1 when it ended with OK.
  virtual int ShowSettings() noexcept = 0;
  // 8. The name under which scripts reach the plug-in's functions.
  virtual std::string GetName() noexcept = 0;
  // 9. Periodic call from the host's run loop.
  virtual void OnTick() noexcept {}
  // 10. Returns 0.
  virtual int Reserved10() noexcept = 0;
  // 11. Alarm request polling: 1 when a request was filled in (request code, sub-code, flags,
  // size of the parameter block, the block), 0 when there is nothing to ask.
  virtual int GetRequest(std::int16_t* code, std::int16_t* subCode, std::int16_t* flags,
                         std::int32_t unused, std::int32_t* blockSize,
                         AlarmRequest* block) noexcept = 0;
  // 12. The answer to a request: `count` consecutive 320-byte records, read during the call.
  virtual void OnRequestResult(std::int32_t unused1, std::int16_t count, std::int32_t unused3,
                               std::int32_t unused4, std::int32_t unused5,
                               const AlarmEvent* events) noexcept = 0;
  // 13. Does nothing.
  virtual void Reserved13(std::int32_t) noexcept = 0;
  // 14. A script calls function `functionId` with one HostParam per parameter. Returns 1.
  virtual int CallFunction(int functionId, int unused1, const HostParam* params,
                           int unused2) noexcept = 0;
  // 15. Returns 1.
  virtual int Reserved15(std::int32_t, std::int32_t, std::int32_t) noexcept = 0;
  // 16. Does nothing.
  virtual void Reserved16(std::int32_t, std::int32_t) noexcept = 0;
  // 17. Does nothing.
  virtual void Reserved17() noexcept = 0;
  // 18. Does nothing.
  virtual void Reserved18() noexcept = 0;
  // 19. Does nothing.
  virtual void Reserved19(std::int32_t, std::int32_t) noexcept = 0;
  // 20. Registers the plug-in's script functions with the host.
  virtual void RegisterFunctions() noexcept = 0;
};

// The module's two exports, resolved by name.
extern "C" {
using CreateSuperWizardFunction = SuperWizard* (*)(HostApplication* host);
using DeleteSuperWizardFunction = void (*)(SuperWizard* plugin);
}
inline constexpr const char* kCreateSuperWizardName = "CreateSuperWizard";
inline constexpr const char* kDeleteSuperWizardName = "DeleteSuperWizard";

}  // namespace pagorin
