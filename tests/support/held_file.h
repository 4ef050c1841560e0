// Stands for other programs that hold files open the way a spreadsheet does: a held file can
// still be read and written, but not renamed, replaced or removed. On Windows each is an open
// handle without delete sharing; elsewhere the system-call seam fails every rename and removal
// that names a held file (installed for the object's lifetime, so not beside FaultySystemCalls).
#pragma once

#include <memory>
#include <string>

namespace pagorin::testing {

class HeldFiles {
 public:
  HeldFiles();
  ~HeldFiles();
  HeldFiles(const HeldFiles&) = delete;
  HeldFiles& operator=(const HeldFiles&) = delete;

  // Holds the file at `path`, which exists; aborts the test when it cannot.
  void Hold(const std::string& path);
  // Lets every held file go.
  void ReleaseAll();
  // The system's words for the failure that a rename or removal of a held file meets.
  static std::string FailureText();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace pagorin::testing
