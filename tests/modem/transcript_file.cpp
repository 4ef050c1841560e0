#include "transcript_file.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace pagorin::testing {
namespace {

std::string At(int lineNumber, const std::string& why) {
  return "line " + std::to_string(lineNumber) + ": " + why;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Resolves the escapes of one line's bytes into `out`. A lone backslash at the end continues the
// bytes on the next line of the same kind.
bool Unescape(std::string_view text, std::string& out, bool& continues, std::string& why) {
  continues = false;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] != '\\') {
      out += text[at];
      continue;
    }
    if (++at == text.size()) {
      continues = true;
      return true;
    }
    switch (text[at]) {
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      case 'z':
        out += '\x1A';
        break;
      case 'e':
        out += '\x1B';
        break;
      case 's':
        out += ' ';
        break;
      case '\\':
        out += '\\';
        break;
      case 'x': {
        const int high = at + 1 < text.size() ? HexDigit(text[at + 1]) : -1;
        const int low = at + 2 < text.size() ? HexDigit(text[at + 2]) : -1;
        if (high < 0 || low < 0) {
          why = "\\x needs two hexadecimal digits";
          return false;
        }
        out += static_cast<char>(high * 16 + low);
        at += 2;
        break;
      }
      default:
        why = std::string("unknown escape \\") + text[at];
        return false;
    }
  }
  return true;
}

bool IsKeyCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

}  // namespace

bool ParseTranscript(std::string_view text, TranscriptFile& out, std::string& error) {
  TranscriptFile parsed;
  bool continuing = false;  // the previous line ended in a lone backslash
  int lineNumber = 0;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    // Trailing blanks never count (editors strip them, checkouts may add CR): a space that ends
    // what is written or answered is written \s.
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
      line.remove_suffix(1);
    const std::string_view content = Trimmed(line);
    if (content.empty() || content.front() == '#') {
      if (continuing) {
        error = At(lineNumber, "a continued line must be followed by its next part");
        return false;
      }
      continue;
    }
    const char marker = line.front();
    if (marker == '>' || marker == '<') {
      if (line.size() > 1 && line[1] != ' ') {
        error = At(lineNumber, std::string("a space must follow ") + marker);
        return false;
      }
      const TranscriptLine::Kind kind =
          marker == '>' ? TranscriptLine::Kind::Write : TranscriptLine::Kind::Answer;
      if (continuing && parsed.lines.back().kind != kind) {
        error = At(lineNumber, "a continued line must go on with the same marker");
        return false;
      }
      if (!continuing) parsed.lines.push_back(TranscriptLine{kind, {}, 0, lineNumber});
      std::string why;
      if (!Unescape(line.size() > 2 ? line.substr(2) : std::string_view{},
                    parsed.lines.back().bytes, continuing, why)) {
        error = At(lineNumber, why);
        return false;
      }
      continue;
    }
    if (continuing) {
      error = At(lineNumber, "a continued line must go on with the same marker");
      return false;
    }
    if (marker == '@') {
      const std::string_view digits = Trimmed(line.substr(1));
      std::uint32_t ms = 0;
      const auto [rest, failure] =
          std::from_chars(digits.data(), digits.data() + digits.size(), ms);
      if (digits.empty() || failure != std::errc{} || rest != digits.data() + digits.size()) {
        error = At(lineNumber, "@ takes milliseconds");
        return false;
      }
      parsed.lines.push_back(TranscriptLine{TranscriptLine::Kind::Pause, {}, ms, lineNumber});
      continue;
    }
    const std::size_t colon = line.find(':');
    const std::string_view key = line.substr(0, colon);
    if (colon == std::string_view::npos || key.empty() ||
        !std::all_of(key.begin(), key.end(), IsKeyCharacter)) {
      error = At(lineNumber, "neither `key: value`, nor a line starting with >, < or @");
      return false;
    }
    if (!parsed.lines.empty()) {
      error = At(lineNumber, "the header must come before the exchange");
      return false;
    }
    parsed.header.emplace_back(std::string(key), std::string(Trimmed(line.substr(colon + 1))));
  }
  if (continuing) {
    error = At(lineNumber, "the file ends in a continued line");
    return false;
  }
  out = std::move(parsed);
  return true;
}

bool ReadTranscriptFile(const std::string& path, TranscriptFile& out, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot read " + path;
    return false;
  }
  std::ostringstream text;
  text << file.rdbuf();
  return ParseTranscript(text.str(), out, error);
}

std::vector<std::string> ListTranscriptFiles(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code failure;
  for (std::filesystem::directory_iterator entry(folder, failure), end; !failure && entry != end;
       entry.increment(failure)) {
    if (entry->is_regular_file(failure) && entry->path().extension() == ".txt")
      names.push_back(entry->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string ShowTranscriptBytes(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string shown;
  for (std::size_t at = 0; at < bytes.size(); ++at) {
    const unsigned char c = static_cast<unsigned char>(bytes[at]);
    switch (c) {
      case '\r':
        shown += "\\r";
        break;
      case '\n':
        shown += "\\n";
        break;
      case 0x1A:
        shown += "\\z";
        break;
      case 0x1B:
        shown += "\\e";
        break;
      case '\\':
        shown += "\\\\";
        break;
      case ' ':
        shown += at + 1 == bytes.size() ? "\\s" : " ";
        break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          shown += "\\x";
          shown += kHex[c >> 4];
          shown += kHex[c & 0xF];
        } else {
          shown += static_cast<char>(c);
        }
    }
  }
  return shown;
}

}  // namespace pagorin::testing
