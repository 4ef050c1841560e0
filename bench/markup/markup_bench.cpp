// Parse throughput of MarkupDocument on a configuration-shaped document against three other XML
// parsers on the same bytes, and the cost per element of building such a document through
// AddElement and SetAttribute at growing sizes.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <time.h>
#include <tinyxml2.h>

#include <pugixml.hpp>
#include <string>

#include "markup/markup_document.h"

namespace {

using pagorin::MarkupDocument;
// CPU time of this thread in seconds: the machine may be shared, and the ratios should not
// depend on what else runs.
double ThreadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

const char* const kHeader = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";
const char* const kFlags[] = {"Ll",   "Lo",     "Hh",    "Hi",     "Low",   "Hig",
                              "Urg",  "Ack",    "NoAck", "Resume", "Value", "ValueLimit",
                              "User", "Format", "Logic", "BScript"};

std::string TelNumber(int i) {
  return "138" + std::to_string(10000000 + i);
}

// The text the configuration code writes for `tels` phone entries and `vars` rules.
std::string ConfigurationText(int tels, int vars) {
  std::string text = kHeader;
  text += "<XML Version=\"1\" Com=\"0\" Baund=\"2\" DataBit=\"1\" TelCount=\"" +
          std::to_string(tels) + "\" VarCount=\"" + std::to_string(vars) + "\">\r\n";
  for (int i = 0; i < tels; ++i) {
    const std::string name = "Tel" + std::to_string(i);
    text += "<" + name + " TelNum=\"" + TelNumber(i) + "\" Desc=\"pump &amp; valve " +
            std::to_string(i) + "\"></" + name + ">\r\n";
  }
  for (int i = 0; i < vars; ++i) {
    const std::string name = "Var" + std::to_string(i);
    text += "<" + name + " VarName=\"Plant.Tank" + std::to_string(i) + ".PV\" Desc=\"level &lt; " +
            std::to_string(i % 100) + "\"";
    for (const char* flag : kFlags)
      text += std::string(" ") + flag + "=\"" + (i % 3 ? "1" : "0") + "\"";
    text += " Script=\"\" ScriptType=\"0\" VarCount=\"2\" TelPlace0=\"" + std::to_string(i % 7) +
            "\" TelPlace1=\"" + std::to_string(i % 5) + "\"></" + name + ">\r\n";
  }
  text += "</XML>\r\n";
  return text;
}

const std::string& SharedText() {
  static const std::string text = ConfigurationText(10000, 10000);
  return text;
}

double ParseMarkup(const std::string& text) {
  const double start = ThreadSeconds();
  MarkupDocument doc;
  if (!doc.SetText(std::string_view(text))) std::abort();
  benchmark::DoNotOptimize(doc.NextFreeRecord());
  return ThreadSeconds() - start;
}

double ParsePugixml(const std::string& text) {
  const double start = ThreadSeconds();
  pugi::xml_document doc;
  if (!doc.load_buffer(text.data(), text.size())) std::abort();
  benchmark::DoNotOptimize(doc.first_child());
  return ThreadSeconds() - start;
}

double ParseTinyxml2(const std::string& text) {
  const double start = ThreadSeconds();
  tinyxml2::XMLDocument doc;
  if (doc.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) std::abort();
  benchmark::DoNotOptimize(doc.RootElement());
  return ThreadSeconds() - start;
}

double ParseLibxml2(const std::string& text) {
  const double start = ThreadSeconds();
  xmlDocPtr doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), "config.xml", nullptr,
                                XML_PARSE_NONET);
  if (doc == nullptr) std::abort();
  benchmark::DoNotOptimize(doc);
  xmlFreeDoc(doc);
  return ThreadSeconds() - start;
}

// All four parsers on the same bytes in every iteration; the counters are the other parsers'
// times divided by ours (above 1: ours is faster).
void BM_ParseConfiguration(benchmark::State& state) {
  const std::string& text = SharedText();
  double markup = 0, pugixml = 0, tinyxml2 = 0, libxml2 = 0;
  for (auto _ : state) {
    markup += ParseMarkup(text);
    pugixml += ParsePugixml(text);
    tinyxml2 += ParseTinyxml2(text);
    libxml2 += ParseLibxml2(text);
  }
  const double bytes = static_cast<double>(text.size()) * static_cast<double>(state.iterations());
  state.counters["markup_MBps"] = bytes / markup / 1e6;
  state.counters["pugixml_MBps"] = bytes / pugixml / 1e6;
  state.counters["pugixml_vs_markup"] = pugixml / markup;
  state.counters["tinyxml2_vs_markup"] = tinyxml2 / markup;
  state.counters["libxml2_vs_markup"] = libxml2 / markup;
  state.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_ParseConfiguration)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Builds the document the way the configuration code does: one AddElement per entry, then its
// attributes one SetAttribute at a time. Half the elements are phone entries, half rules.
double BuildMarkup(int elements) {
  const double start = ThreadSeconds();
  MarkupDocument doc;
  doc.SetText(kHeader);
  doc.AddElement("XML", "", 0);
  doc.SetAttribute(doc.CurrentPos(), "Version", 1);
  const int tels = elements / 2;
  doc.SetAttribute(doc.CurrentPos(), "TelCount", tels);
  for (int i = 0; i < tels; ++i) {
    doc.AddElement(("Tel" + std::to_string(i)).c_str(), "", MarkupDocument::kAsChild);
    doc.EnterElement();
    doc.SetAttribute(doc.CurrentPos(), "TelNum", TelNumber(i).c_str());
    doc.SetAttribute(doc.CurrentPos(), "Desc", "pump & valve");
    doc.LeaveElement();
  }
  doc.SetAttribute(doc.CurrentPos(), "VarCount", elements - tels);
  for (int i = 0; i < elements - tels; ++i) {
    doc.AddElement(("Var" + std::to_string(i)).c_str(), "", MarkupDocument::kAsChild);
    doc.EnterElement();
    const int pos = doc.CurrentPos();
    doc.SetAttribute(pos, "VarName", "Plant.Tank.PV");
    doc.SetAttribute(pos, "Desc", "level < 10");
    for (const char* flag : kFlags)
      doc.SetAttribute(pos, flag, i % 3 ? 1 : 0);
    doc.SetAttribute(pos, "Script", "");
    doc.SetAttribute(pos, "ScriptType", 0);
    doc.SetAttribute(pos, "VarCount", 2);
    doc.SetAttribute(pos, "TelPlace0", i % 7);
    doc.SetAttribute(pos, "TelPlace1", i % 5);
    doc.LeaveElement();
  }
  benchmark::DoNotOptimize(doc.Text().size());
  return ThreadSeconds() - start;
}

// The same document built as a DOM by pugixml and written to text: the baseline.
double BuildPugixml(int elements) {
  const double start = ThreadSeconds();
  pugi::xml_document doc;
  pugi::xml_node root = doc.append_child("XML");
  root.append_attribute("Version") = 1;
  const int tels = elements / 2;
  root.append_attribute("TelCount") = tels;
  for (int i = 0; i < tels; ++i) {
    pugi::xml_node tel = root.append_child(("Tel" + std::to_string(i)).c_str());
    tel.append_attribute("TelNum") = TelNumber(i).c_str();
    tel.append_attribute("Desc") = "pump & valve";
  }
  root.append_attribute("VarCount") = elements - tels;
  for (int i = 0; i < elements - tels; ++i) {
    pugi::xml_node var = root.append_child(("Var" + std::to_string(i)).c_str());
    var.append_attribute("VarName") = "Plant.Tank.PV";
    var.append_attribute("Desc") = "level < 10";
    for (const char* flag : kFlags)
      var.append_attribute(flag) = i % 3 ? 1 : 0;
    var.append_attribute("Script") = "";
    var.append_attribute("ScriptType") = 0;
    var.append_attribute("VarCount") = 2;
    var.append_attribute("TelPlace0") = i % 7;
    var.append_attribute("TelPlace1") = i % 5;
  }
  struct Sink : pugi::xml_writer {
    std::string text;
    void write(const void* data, size_t size) override {
      text.append(static_cast<const char*>(data), size);
    }
  } sink;
  doc.save(sink, "", pugi::format_raw);
  benchmark::DoNotOptimize(sink.text.size());
  return ThreadSeconds() - start;
}

// Time per element at state.range(0) elements, with the per-element time at 1,000 elements and
// the pugixml build measured in the same iteration as baselines.
void BM_BuildConfiguration(benchmark::State& state) {
  const int elements = static_cast<int>(state.range(0));
  double markup = 0, small = 0, pugixml = 0;
  for (auto _ : state) {
    markup += BuildMarkup(elements);
    small += BuildMarkup(1000);
    pugixml += BuildPugixml(elements);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["ns_per_element"] = markup / n / elements * 1e9;
  state.counters["growth_vs_1000"] = (markup / elements) / (small / 1000);
  state.counters["markup_vs_pugixml"] = markup / pugixml;
}
BENCHMARK(BM_BuildConfiguration)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
