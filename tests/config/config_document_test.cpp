#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "markup/markup_document.h"
#include "platform/archive.h"
#include "support/temp_dir.h"

namespace pagorin {
namespace {

using pagorin::testing::ReadFileBytes;
using pagorin::testing::TempDir;
using pagorin::testing::WriteFileBytes;

const std::string kHeader = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";

PhoneEntry* AddPhone(Configuration& config, std::string telNum, std::string desc = "") {
  auto entry = std::make_unique<PhoneEntry>();
  entry->TelNum = std::move(telNum);
  entry->Desc = std::move(desc);
  config.phoneBook.push_back(std::move(entry));
  return config.phoneBook.back().get();
}

AlarmRule* AddRule(Configuration& config, std::string varName, std::vector<int> places = {}) {
  auto rule = std::make_unique<AlarmRule>();
  rule->VarName = std::move(varName);
  rule->TelPlace = std::move(places);
  config.alarmRules.push_back(std::move(rule));
  return config.alarmRules.back().get();
}

// Every stored field of a configuration, one line each, for whole-configuration comparisons.
std::string Describe(const Configuration& config) {
  std::string out = "Version=" + std::to_string(config.Version) +
                    " Com=" + std::to_string(config.Com) +
                    " Baund=" + std::to_string(config.Baund) +
                    " DataBit=" + std::to_string(config.DataBit) + "\n";
  for (const auto& entry : config.phoneBook)
    out += "Tel " + entry->TelNum + "|" + entry->Desc + "\n";
  for (const auto& rule : config.alarmRules) {
    const AlarmRule& r = *rule;
    out += "Var " + r.VarName + "|" + r.Desc + "|" + r.Script;
    for (int flag : {r.Ll, r.Lo, r.Hh, r.Hi, r.Low, r.Hig, r.Urg, r.Ack, r.NoAck, r.Resume, r.Value,
                     r.ValueLimit, r.User, r.Format, r.Logic, r.BScript, r.ScriptType}) {
      out += " " + std::to_string(flag);
    }
    out += " places";
    for (int place : r.TelPlace)
      out += " " + std::to_string(place);
    out += "\n";
  }
  return out;
}

long EntriesIn(const std::string& folder) {
  return std::distance(std::filesystem::directory_iterator(folder),
                       std::filesystem::directory_iterator());
}

class ConfigDocument : public ::testing::Test {
 protected:
  ConfigDocument() { config.configPath = ConfigPathIn(dir.path()); }

  // Loads `fileText` from the configuration file into a fresh configuration.
  void LoadFrom(const std::string& fileText, Configuration& into) {
    WriteFileBytes(config.configPath, fileText);
    into.configPath = config.configPath;
    MarkupDocument document;
    LoadConfiguration(into, document);
  }

  TempDir dir;
  Configuration config;
};

TEST_F(ConfigDocument, WritesTheFiveLineFileByteForByte) {
  AddPhone(config, "13800138000", "pump");
  AddRule(config, "Tank1.PV", {0});
  const std::string expected =
      kHeader +
      "<XML Version=\"1\" Com=\"0\" Baund=\"2\" DataBit=\"1\" TelCount=\"1\" VarCount=\"1\">\r\n"
      "<Tel0 TelNum=\"13800138000\" Desc=\"pump\"></Tel0>\r\n"
      "<Var0 VarName=\"Tank1.PV\" Desc=\"\" Ll=\"1\" Lo=\"1\" Hh=\"1\" Hi=\"1\" Low=\"1\" "
      "Hig=\"1\" Urg=\"1\" Ack=\"1\" NoAck=\"1\" Resume=\"1\" Value=\"0\" ValueLimit=\"0\" "
      "User=\"0\" Format=\"0\" Logic=\"0\" BScript=\"0\" Script=\"\" ScriptType=\"0\" "
      "VarCount=\"1\" TelPlace0=\"0\"></Var0>\r\n"
      "</XML>\r\n";
  EXPECT_EQ(SaveConfiguration(config), expected);
  EXPECT_EQ(ReadFileBytes(config.configPath), expected);
}

TEST_F(ConfigDocument, WritesTheDefaultsWithoutChildren) {
  config.sendEnabled = 0;  // never stored
  const std::string expected =
      kHeader +
      "<XML Version=\"1\" Com=\"0\" Baund=\"2\" DataBit=\"1\" TelCount=\"0\" VarCount=\"0\">"
      "</XML>\r\n";
  EXPECT_EQ(SaveConfiguration(config), expected);
  EXPECT_EQ(ReadFileBytes(config.configPath), expected);
}

TEST_F(ConfigDocument, RoundTripsEveryField) {
  config.Version = 4;
  config.Com = 5;
  config.Baund = 7;  // outside the table of rates, kept as it is
  config.DataBit = 0;
  AddPhone(config, "13800138000", "\xCB\xAE\xB1\xC3");  // code page 936 text
  AddPhone(config, "8613912345678", "a&b<c>d\"e'f &amp;");
  AddPhone(config, "", "");
  AlarmRule* rule = AddRule(config, "Tank1.PV", {2, 0});
  rule->Desc = "\xB9\xDE\x95\x5C";  // a trail byte that is a backslash
  rule->Ll = 0;
  rule->Hi = 0;
  rule->Urg = 0;
  rule->NoAck = 0;
  rule->Value = 1;
  rule->ValueLimit = 1;
  rule->User = 1;
  rule->Format = 1;
  rule->Logic = 1;
  rule->BScript = 1;
  rule->Script = "Tank1.Msg";
  rule->ScriptType = 5;
  AddRule(config, "A.B.C", {1, 1, 2});
  AddRule(config, "NoDot");

  const std::string file = SaveConfiguration(config);
  const char* stored[] = {
      " Baund=\"7\" ",
      "Desc=\"\xCB\xAE\xB1\xC3\"",  // code page bytes, not UTF-8
      "Desc=\"a&amp;b&lt;c&gt;d&quot;e&apos;f &amp;amp;\"",
      "VarCount=\"2\" TelPlace0=\"2\" TelPlace1=\"0\">",
  };
  for (const char* text : stored)
    EXPECT_NE(file.find(text), std::string::npos) << text;
  EXPECT_EQ(file.find("\xE6\xB0\xB4"), std::string::npos);  // the first character in UTF-8

  Configuration loaded;
  loaded.configPath = config.configPath;
  MarkupDocument document;
  LoadConfiguration(loaded, document);
  EXPECT_EQ(Describe(loaded), Describe(config));
  EXPECT_EQ(document.Text(), file);  // the document keeps the load
}

struct HandWrittenFile {
  const char* what;
  std::string body;  // the XML element
  std::vector<std::string> telNums;
  std::vector<std::string> varNames;
  std::vector<int> firstRulePlaces;
};

const HandWrittenFile kHandWrittenFiles[] = {
    {"TelCount 3 with only Tel0 and Tel2",
     R"(<XML TelCount="3"><Tel0 TelNum="a"/><Tel2 TelNum="c"/></XML>)",
     {"a", "c"},
     {},
     {}},
    {"rules before the phone book are not found",
     R"(<XML TelCount="1" VarCount="1"><Var0 VarName="T.V"/><Tel0 TelNum="a"/></XML>)",
     {"a"},
     {},
     {}},
    {"an element out of order is skipped",
     R"(<XML TelCount="2"><Tel1 TelNum="b"/><Tel0 TelNum="a"/></XML>)",
     {"a"},
     {},
     {}},
    {"TelCount below the elements present",
     R"(<XML TelCount="1"><Tel0 TelNum="a"/><Tel1 TelNum="b"/></XML>)",
     {"a"},
     {},
     {}},
    {"a count that is no number reads as 0",
     R"(<XML TelCount="x2" VarCount="-1"><Tel0 TelNum="a"/><Var0 VarName="T.V"/></XML>)",
     {},
     {},
     {}},
    {"names with leading zeros or trailing letters are other names",
     R"(<XML TelCount="2"><Tel00 TelNum="a"/><Tel1x TelNum="b"/><Tel1 TelNum="c"/></XML>)",
     {"c"},
     {},
     {}},
    {"missing phone indexes within the count read as 0",
     R"(<XML VarCount="1"><Var0 VarName="T.V" VarCount="3" TelPlace1="2"/></XML>)",
     {},
     {"T.V"},
     {0, 2, 0}},
    {"phone indexes read like atoi",
     R"(<XML VarCount="1"><Var0 VarName="T.V" VarCount="4" TelPlace0=" 5" TelPlace1="+4" )"
     R"(TelPlace2="7x" TelPlace3="-2"/></XML>)",
     {},
     {"T.V"},
     {5, 4, 7, -2}},
    {"the rule's count bounds its indexes",
     R"(<XML VarCount="1"><Var0 VarName="T.V" VarCount="1" TelPlace0="3" TelPlace1="4"/></XML>)",
     {},
     {"T.V"},
     {3}},
    {"rules follow the phone book; gaps are skipped",
     R"(<XML TelCount="1" VarCount="3"><Tel0 TelNum="a"></Tel0><Var0 VarName="A.V"></Var0>)"
     R"(<Var2 VarName="C.V"></Var2></XML>)",
     {"a"},
     {"A.V", "C.V"},
     {}},
    {"counts of two billion load what is there",
     R"(<XML TelCount="2000000000" VarCount="2000000000"><Tel0 TelNum="a"/><Tel1 TelNum="b"/>)"
     R"(<Var0 VarName="T.V" VarCount="2" TelPlace0="1"/></XML>)",
     {"a", "b"},
     {"T.V"},
     {1, 0}},
};

TEST_F(ConfigDocument, LoadsHandWrittenFilesAsTheyStand) {
  for (const HandWrittenFile& file : kHandWrittenFiles) {
    Configuration loaded;
    AddPhone(loaded, "old");
    AddRule(loaded, "old.V", {9});
    LoadFrom(kHeader + file.body, loaded);
    std::vector<std::string> telNums, varNames;
    for (const auto& entry : loaded.phoneBook)
      telNums.push_back(entry->TelNum);
    for (const auto& rule : loaded.alarmRules)
      varNames.push_back(rule->VarName);
    EXPECT_EQ(telNums, file.telNums) << file.what;
    EXPECT_EQ(varNames, file.varNames) << file.what;
    if (!loaded.alarmRules.empty()) {
      EXPECT_EQ(loaded.alarmRules[0]->TelPlace, file.firstRulePlaces) << file.what;
    }
  }
}

TEST_F(ConfigDocument, MissingAttributesReadAsZero) {
  Configuration loaded;
  LoadFrom(kHeader + R"(<XML VarCount="1"><Var0 VarName="T.V"/></XML>)", loaded);
  EXPECT_EQ(Describe(loaded),
            "Version=0 Com=0 Baund=0 DataBit=0\n"
            "Var T.V|| 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 places\n");
}

TEST_F(ConfigDocument, HugeCountsLoadWithinWhatTheTextHolds) {
  const std::string file = kHeader +
                           R"(<XML TelCount="2147483647" VarCount="2000000000">)"
                           R"(<Tel0 TelNum="a"/><Tel2147483646 TelNum="z"/>)"
                           R"(<Var0 VarName="A.V" VarCount="2000000000" TelPlace0="1"/>)"
                           R"(<Var1 VarName="B.V" VarCount="2147483647" TelPlace1999999999="4"/>)"
                           R"(</XML>)";
  Configuration loaded;
  LoadFrom(file, loaded);
  ASSERT_EQ(loaded.phoneBook.size(), 2u);
  EXPECT_EQ(loaded.phoneBook[1]->TelNum, "z");
  ASSERT_EQ(loaded.alarmRules.size(), 2u);
  // Each start tag is well below 90 bytes and so holds fewer than ten index attributes.
  for (const auto& rule : loaded.alarmRules)
    EXPECT_LT(rule->TelPlace.size(), 10u);
  ASSERT_FALSE(loaded.alarmRules[0]->TelPlace.empty());
  EXPECT_EQ(loaded.alarmRules[0]->TelPlace[0], 1);
}

TEST_F(ConfigDocument, UnusableFilesChangeNothing) {
  const std::string unusable[] = {
      "",
      kHeader,
      kHeader + R"(<Config TelCount="1"><Tel0 TelNum="a"/></Config>)",
      "not markup at all",
  };
  AddPhone(config, "13800138000", "pump");
  AddRule(config, "Tank1.PV", {0});
  config.Com = 3;
  const std::string before = Describe(config);
  for (const std::string& file : unusable) {
    WriteFileBytes(config.configPath, file);
    MarkupDocument document;
    LoadConfiguration(config, document);
    EXPECT_EQ(Describe(config), before) << file;
  }
}

TEST_F(ConfigDocument, MissingFileChangesNeitherConfigurationNorDocument) {
  AddPhone(config, "13800138000");
  const std::string before = Describe(config);
  MarkupDocument document;
  document.SetText(kHeader + "<XML TelCount=\"0\"></XML>");
  const std::string previous = document.Text();
  LoadConfiguration(config, document);
  EXPECT_EQ(Describe(config), before);
  EXPECT_EQ(document.Text(), previous);
}

// The archived form: Version as a 32-bit integer, then the document text as a string.
std::string Archived(std::int32_t version, const std::string& text) {
  MemoryArchive archive;
  archive::WriteInt32(archive, version);
  archive::WriteString(archive, text);
  return archive.Bytes();
}

TEST_F(ConfigDocument, StoringWritesVersionAndTextAndRewritesTheFile) {
  config.Version = 3;
  AddPhone(config, "13800138000", "pump");
  AddRule(config, "Tank1.PV", {0});
  MemoryArchive archive;
  MarkupDocument document;
  SerializeConfiguration(config, document, archive);
  const std::string file = ReadFileBytes(config.configPath);
  EXPECT_EQ(archive.Bytes(), Archived(3, file));
  EXPECT_EQ(static_cast<unsigned char>(archive.Bytes()[4]), 0xFF);  // longer than 254 bytes
  EXPECT_NE(file.find("<Tel0 TelNum=\"13800138000\""), std::string::npos);
}

TEST_F(ConfigDocument, LoadingTakesTheFileOverTheArchivedText) {
  Configuration inFile;
  inFile.configPath = config.configPath;
  inFile.Version = 6;
  inFile.Com = 2;
  AddPhone(inFile, "13800138000", "file");
  AddRule(inFile, "Tank1.PV", {0});
  SaveConfiguration(inFile);

  Configuration inArchive;
  inArchive.configPath = dir.File("elsewhere");
  AddPhone(inArchive, "13900139000", "archive");
  MemoryArchive archive(Archived(9, SaveConfiguration(inArchive)));
  MarkupDocument document;
  SerializeConfiguration(config, document, archive);
  EXPECT_EQ(Describe(config), Describe(inFile));  // Version 6 from the file, not 9
}

TEST_F(ConfigDocument, LoadingWithoutAFileTakesOnlyTheVersion) {
  AddPhone(config, "13800138000");
  MemoryArchive archive(Archived(9, "<XML Com=\"4\"/>"));
  MarkupDocument document;
  SerializeConfiguration(config, document, archive);
  EXPECT_EQ(config.Version, 9);
  EXPECT_EQ(config.Com, 0);
  EXPECT_EQ(config.phoneBook.size(), 1u);
}

TEST_F(ConfigDocument, DamagedArchivesChangeNothingAndLeaveTheFileUnread) {
  Configuration inFile;
  inFile.configPath = config.configPath;
  inFile.Version = 6;
  AddPhone(inFile, "13800138000", "file");
  const std::string text = SaveConfiguration(inFile);
  AddPhone(config, "13900139000", "memory");
  const std::string before = Describe(config);

  const std::string whole = Archived(9, text);
  const std::string damaged[] = {
      "",
      std::string("\x09\x00\x00", 3),
      std::string("\x09\x00\x00\x00", 4),
      whole.substr(0, 5),
      whole.substr(0, 7),
      whole.substr(0, whole.size() - 1),
      std::string("\x09\x00\x00\x00\x05"
                  "abcd",
                  9),
      std::string("\x09\x00\x00\x00\xFF\xFE\xFF\x02\x00"
                  "ab",
                  11),
      std::string("\x09\x00\x00\x00\xFF\xFF\xFF\xFF\xFF\xFF\xFF"
                  "abc",
                  14),
      std::string("\x09\x00\x00\x00\xFF\xFF\xFF\x10\x00\x00", 10),
  };
  for (const std::string& bytes : damaged) {
    MemoryArchive archive(bytes);
    MarkupDocument document;
    SerializeConfiguration(config, document, archive);
    EXPECT_EQ(Describe(config), before) << bytes.size() << " bytes";
  }
}

TEST_F(ConfigDocument, SaveIntoAMissingFolderStillReturnsTheText) {
  config.configPath = ConfigPathIn(dir.File("missing"));
  const std::string text = SaveConfiguration(config);
  EXPECT_EQ(text.substr(0, kHeader.size()), kHeader);
  EXPECT_FALSE(std::filesystem::exists(config.configPath));
  EXPECT_FALSE(std::filesystem::exists(dir.File("missing")));
}

TEST_F(ConfigDocument, SaveOverAFolderLeavesTheFolder) {
  std::filesystem::create_directory(config.configPath);
  WriteFileBytes(config.configPath + "/inside", "kept");
  EXPECT_FALSE(SaveConfiguration(config).empty());
  EXPECT_TRUE(std::filesystem::is_directory(config.configPath));
  EXPECT_EQ(ReadFileBytes(config.configPath + "/inside"), "kept");
  EXPECT_EQ(EntriesIn(dir.path()), 1);  // no temporary file left behind
}

// Restores the file-size limit and the SIGXFSZ disposition on leaving the scope.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit old_{};
  void (*oldHandler_)(int) = nullptr;
};

TEST_F(ConfigDocument, FailedSaveLeavesTheOldFileWhole) {
  AddPhone(config, "13800138000", "pump");
  const std::string old = SaveConfiguration(config);
  for (int i = 0; i < 40; ++i)
    AddPhone(config, "1390013900" + std::to_string(i), "more");
  std::string text;
  {
    FileSizeLimit limit(old.size() + 16);
    text = SaveConfiguration(config);
  }
  EXPECT_GT(text.size(), old.size() + 16);
  EXPECT_EQ(ReadFileBytes(config.configPath), old);
  EXPECT_EQ(EntriesIn(dir.path()), 1);
}

}  // namespace
}  // namespace pagorin
