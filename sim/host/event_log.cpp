#include "event_log.h"

#include "platform/code_page.h"

namespace pagorin::sim {

void EventLog::Emit(std::string_view event, nlohmann::json fields, std::string_view human) {
  double t = clock_ ? clock_() : 0.0;
  if (listener_) listener_(event, fields, human);
  if (json_) {
    nlohmann::json line = nlohmann::json::object();
    line["t"] = static_cast<double>(static_cast<long long>(t * 1000.0)) / 1000.0;
    line["event"] = event;
    if (fields.is_object()) {
      for (auto& [key, value] : fields.items())
        line[key] = value;
    }
    std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::fprintf(out_, "%s\n", text.c_str());
  } else {
    std::fprintf(out_, "[%9.3f] %.*s\n", t, static_cast<int>(human.size()), human.data());
  }
  std::fflush(out_);
}

std::string Utf8(std::string_view cp936) {
  try {
    return platform::Cp936ToUtf8(cp936);
  } catch (...) {
    return std::string(cp936);
  }
}

std::string Cp936(std::string_view utf8) {
  try {
    return platform::Utf8ToCp936(utf8);
  } catch (...) {
    return std::string(utf8);
  }
}

}  // namespace pagorin::sim
