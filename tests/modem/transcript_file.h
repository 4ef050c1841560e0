// A recorded modem exchange as a text file (the format is described in transcripts/README.md):
// a header of `key: value` lines, then what the module writes (`>`), what the modem answers
// (`<`) and time passing on the clock (`@`), one per line, with escapes for the control bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pagorin::testing {

// One line of the exchange, in the order of the file.
struct TranscriptLine {
  enum class Kind : int { Write, Answer, Pause };
  Kind kind = Kind::Write;
  std::string bytes;     // Write and Answer: the bytes with the escapes resolved
  std::uint32_t ms = 0;  // Pause: milliseconds on the clock
  int lineNumber = 0;    // where it stands in the file, for messages
};

// A whole file: the header in its order (a key may repeat) and the exchange.
struct TranscriptFile {
  std::vector<std::pair<std::string, std::string>> header;
  std::vector<TranscriptLine> lines;
};

// Parses a transcript; false with `error` ("line N: why") when the text is not well formed, and
// `out` is then left as it was.
bool ParseTranscript(std::string_view text, TranscriptFile& out, std::string& error);

// Reads and parses the file at `path`; false with `error` when it cannot be read or parsed.
bool ReadTranscriptFile(const std::string& path, TranscriptFile& out, std::string& error);

// The names of the transcript files (`*.txt`) in `folder`, sorted; empty when there is none or
// the folder cannot be read.
std::vector<std::string> ListTranscriptFiles(const std::string& folder);

// Bytes written back with the file's escapes, so that a failure message reads like the file.
std::string ShowTranscriptBytes(std::string_view bytes);

}  // namespace pagorin::testing
