#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "config/stored_attributes.h"
#include "markup/markup_document.h"
#include "platform/archive.h"
#include "support/allocation_failure.h"
#include "support/temp_dir.h"

namespace pagorin {
namespace {

using pagorin::testing::ForEachAllocationFailure;
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
    out += "Tel " + DescribeStored(*entry, kPhoneAttributes) + "\n";
  for (const auto& rule : config.alarmRules) {
    out += "Var " + DescribeStored(*rule, kRuleAttributes) + " places";
    for (int place : rule->TelPlace)
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
      "<XML Version=\"1\" Com=\"0\" Baund=\"2\" DataBit=\"1\" TelCount=\"1\" VarCount=\"1\" "
      "Revision=\"1\">\r\n"
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
      "<XML Version=\"1\" Com=\"0\" Baund=\"2\" DataBit=\"1\" TelCount=\"0\" VarCount=\"0\" "
      "Revision=\"1\"></XML>\r\n";
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

// Phone-book elements Tel0 .. Tel<count-1> with the numbers p0, p1, ...
std::string Phones(int count) {
  std::string text;
  for (int i = 0; i < count; ++i)
    text += "<Tel" + std::to_string(i) + " TelNum=\"p" + std::to_string(i) + "\"/>";
  return text;
}

std::vector<std::string> PhoneNumbers(int count) {
  std::vector<std::string> numbers;
  for (int i = 0; i < count; ++i)
    numbers.push_back("p" + std::to_string(i));
  return numbers;
}

struct HandWrittenFile {
  const char* what;
  std::string body;  // the XML element
  std::vector<std::string> telNums;
  std::vector<std::string> varNames;
  std::vector<int> firstRulePlaces;
  std::int64_t skippedPlaces = 0;  // phone indexes left out, as the load reports them
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
    // A rule that counts more phone indexes than it stores used to send to phone 0 for each
    // missing one.
    {"phone indexes counted but not stored are left out",
     R"(<XML TelCount="3" VarCount="1">)" + Phones(3) +
         R"(<Var0 VarName="T.V" VarCount="27" TelPlace1="2" TelPlace5=""/></XML>)",
     PhoneNumbers(3),
     {"T.V"},
     {2},
     26},
    {"phone indexes read like atoi; those without an entry are left out",
     R"(<XML TelCount="8" VarCount="1">)" + Phones(8) +
         R"(<Var0 VarName="T.V" VarCount="6" TelPlace0=" 5" TelPlace1="+4" TelPlace2="7x" )"
         R"(TelPlace3="-2" TelPlace4="8" TelPlace5="x"/></XML>)",
     PhoneNumbers(8),
     {"T.V"},
     {5, 4, 7, 0},
     2},
    {"the rule's count bounds its indexes",
     R"(<XML TelCount="5" VarCount="1">)" + Phones(5) +
         R"(<Var0 VarName="T.V" VarCount="1" TelPlace0="3" TelPlace1="4"/></XML>)",
     PhoneNumbers(5),
     {"T.V"},
     {3}},
    {"a name in a value or another element is no index of the rule",
     R"(<XML TelCount="2" VarCount="2">)" + Phones(2) +
         R"(<Var0 VarName="TelPlace1" VarCount="2"/><Var1 VarName="B.V" TelPlace1="1"/></XML>)",
     PhoneNumbers(2),
     {"TelPlace1", "B.V"},
     {},
     2},
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
     {1},
     1},
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
    // Left-out indexes are told once, for the whole load.
    EXPECT_EQ(loaded.lastLoad.file, LoadReport::File::kTaken) << file.what;
    EXPECT_EQ(loaded.lastLoad.skippedPhoneIndexes, file.skippedPlaces) << file.what;
    EXPECT_EQ(loaded.LastLoadProblem().empty(), file.skippedPlaces == 0) << file.what;
  }
}

TEST_F(ConfigDocument, MissingAttributesReadAsZero) {
  Configuration loaded;
  LoadFrom(kHeader + R"(<XML VarCount="1"><Var0 VarName="T.V"/></XML>)", loaded);
  EXPECT_EQ(Describe(loaded),
            "Version=0 Com=0 Baund=0 DataBit=0\n"
            "Var VarName=T.V Desc= Ll=0 Lo=0 Hh=0 Hi=0 Low=0 Hig=0 Urg=0 Ack=0 NoAck=0 Resume=0 "
            "Value=0 ValueLimit=0 User=0 Format=0 Logic=0 BScript=0 Script= ScriptType=0 places\n");
}

TEST_F(ConfigDocument, SendingOptionsAreOptionalWithDefaults) {
  struct Row {
    const char* attributes;  // on the root element
    int concat, maxParts, coalesce;
    const char* modemScript = "";
    // Hearing back: Reports, ReportWaitMin, InboxScript, OwnNumber, LoopHours.
    int reports = 1, reportWait = 60;
    const char* inboxScript = "";
    const char* ownNumber = "";
    int loopHours = 0;
  };
  const Row rows[] = {
      {"", 1, 5, 3},  // a file written before the options existed
      {R"(Concat="0" MaxParts="1" Coalesce="0")", 0, 1, 0},
      {R"(Concat="1" MaxParts="20" Coalesce="1000")", 1, 20, 1000},
      {R"(Concat="2" MaxParts="0" Coalesce="-1")", 1, 5, 3},  // outside the bounds: defaults
      {R"(MaxParts="21" Coalesce="1001")", 1, 5, 3},
      {R"(Concat="" MaxParts="x")", 1, 5, 3},
      {R"(ModemScript="Fault=1;")", 1, 5, 3, "Fault=1;"},
      {R"(Reports="0" ReportWaitMin="1" LoopHours="720" OwnNumber="13800138000")", 1, 5, 3, "", 0,
       1, "", "13800138000", 720},
      {R"(Reports="1" ReportWaitMin="10080" InboxScript="Msg=1;")", 1, 5, 3, "", 1, 10080,
       "Msg=1;"},
      {R"(Reports="x" ReportWaitMin="0" LoopHours="721")", 1, 5, 3, "", 0, 60},
      {R"(ReportWaitMin="10081" LoopHours="-1")", 1, 5, 3, "", 1, 60},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.attributes);
    Configuration loaded;
    LoadFrom(kHeader + "<XML " + row.attributes + "></XML>", loaded);
    EXPECT_EQ(loaded.Concat, row.concat);
    EXPECT_EQ(loaded.MaxParts, row.maxParts);
    EXPECT_EQ(loaded.Coalesce, row.coalesce);
    EXPECT_EQ(loaded.ModemScript, row.modemScript);
    EXPECT_EQ(loaded.Reports, row.reports);
    EXPECT_EQ(loaded.ReportWaitMin, row.reportWait);
    EXPECT_EQ(loaded.InboxScript, row.inboxScript);
    EXPECT_EQ(loaded.OwnNumber, row.ownNumber);
    EXPECT_EQ(loaded.LoopHours, row.loopHours);
  }
  // Stored only where they differ from the defaults, and read back.
  config.Concat = 0;
  config.Coalesce = 7;
  config.ModemScript = "A=\"1\";";
  const std::string text = SaveConfiguration(config);
  EXPECT_NE(
      text.find(R"(VarCount="0" Concat="0" Coalesce="7" ModemScript="A=&quot;1&quot;;" Revision=)"),
      std::string::npos)
      << text;
  Configuration loaded;
  LoadFrom(text, loaded);
  EXPECT_EQ(loaded.Concat, 0);
  EXPECT_EQ(loaded.MaxParts, 5);
  EXPECT_EQ(loaded.Coalesce, 7);
  EXPECT_EQ(loaded.ModemScript, config.ModemScript);
  EXPECT_EQ(loaded.Reports, 1);
  EXPECT_EQ(loaded.ReportWaitMin, 60);
  // The hearing-back options, each away from its default, round trip too.
  config.Reports = 0;
  config.ReportWaitMin = 90;
  config.InboxScript = "In=\"%TEXT%\";";
  config.OwnNumber = "13800138000";
  config.LoopHours = 12;
  const std::string again = SaveConfiguration(config);
  EXPECT_NE(again.find(R"(Reports="0" ReportWaitMin="90")"), std::string::npos) << again;
  Configuration reloaded;
  LoadFrom(again, reloaded);
  EXPECT_EQ(reloaded.Reports, 0);
  EXPECT_EQ(reloaded.ReportWaitMin, 90);
  EXPECT_EQ(reloaded.InboxScript, config.InboxScript);
  EXPECT_EQ(reloaded.OwnNumber, "13800138000");
  EXPECT_EQ(reloaded.LoopHours, 12);
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
  EXPECT_EQ(loaded.alarmRules[0]->TelPlace, (std::vector<int>{1}));
  EXPECT_TRUE(loaded.alarmRules[1]->TelPlace.empty());  // index 4: no such entry
  EXPECT_EQ(loaded.lastLoad.rulesWithSkippedPhones, 2);
  EXPECT_EQ(loaded.lastLoad.skippedPhoneIndexes, 1999999999 + 2147483647LL);
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

TEST_F(ConfigDocument, LoadingWithoutAFileOrAUsableCopyTakesOnlyTheVersion) {
  AddPhone(config, "13800138000");
  MemoryArchive archive(Archived(9, "<XML Com=\"4\">"));
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

TEST_F(ConfigDocument, WritesEachFieldUnderItsOwnName) {
  AlarmRule* rule = AddRule(config, "T.V", {0});
  rule->Desc = "d";
  rule->Script = "s";
  int value = 2;
  for (int* field : {&rule->Ll, &rule->Lo, &rule->Hh, &rule->Hi, &rule->Low, &rule->Hig, &rule->Urg,
                     &rule->Ack, &rule->NoAck, &rule->Resume, &rule->Value, &rule->ValueLimit,
                     &rule->User, &rule->Format, &rule->Logic, &rule->BScript, &rule->ScriptType}) {
    *field = value++;
  }
  const std::string line =
      "<Var0 VarName=\"T.V\" Desc=\"d\" Ll=\"2\" Lo=\"3\" Hh=\"4\" Hi=\"5\" Low=\"6\" Hig=\"7\" "
      "Urg=\"8\" Ack=\"9\" NoAck=\"10\" Resume=\"11\" Value=\"12\" ValueLimit=\"13\" User=\"14\" "
      "Format=\"15\" Logic=\"16\" BScript=\"17\" Script=\"s\" ScriptType=\"18\" VarCount=\"1\" "
      "TelPlace0=\"0\"></Var0>\r\n";
  AddPhone(config, "13800138000");
  const std::string file = SaveConfiguration(config);
  EXPECT_NE(file.find(line), std::string::npos) << file;
  Configuration loaded;
  LoadFrom(file, loaded);
  EXPECT_EQ(Describe(loaded), Describe(config));
}

// A configuration file damaged on the disk: cut short, or holding a zero byte.
TEST_F(ConfigDocument, DamagedFileIsNotLoadedAndIsKeptAsideWhenSavedOver) {
  Configuration inFile;
  inFile.configPath = config.configPath;
  AddPhone(inFile, "13800138000", "file");
  AddRule(inFile, "Tank1.PV", {0});
  const std::string good = SaveConfiguration(inFile);
  std::string zeroInside = good;
  zeroInside[good.size() / 2] = '\0';
  const struct {
    const char* what;
    std::string bytes;
  } damaged[] = {
      {"cut before </XML>", good.substr(0, good.rfind("</XML>"))},
      {"cut inside a rule", good.substr(0, good.find("Hig="))},
      {"a zero byte inside", zeroInside},
      {"a zero byte after the end", good + std::string(1, '\0')},
      {"empty", ""},
      {"no XML root", kHeader + R"(<Config TelCount="1"><Tel0 TelNum="a"/></Config>)"},
  };
  AddPhone(config, "13900139000", "memory");
  AddRule(config, "Pump.ST", {0});
  config.Com = 3;
  int round = 0;
  for (const auto& c : damaged) {
    WriteFileBytes(config.configPath, c.bytes);
    const std::string before = Describe(config);
    MarkupDocument document;
    LoadConfiguration(config, document);
    EXPECT_EQ(Describe(config), before) << c.what;
    EXPECT_EQ(config.lastLoad.file, LoadReport::File::kDamaged) << c.what;
    EXPECT_NE(config.LastLoadProblem().find("damaged"), std::string::npos) << c.what;
    EXPECT_EQ(ReadFileBytes(config.configPath), c.bytes) << c.what;  // left alone

    // Saving over it keeps the damaged bytes aside, each damage under a name of its own.
    const std::string aside =
        config.configPath + ".damaged" + (round == 0 ? std::string() : std::to_string(round + 1));
    const std::string saved = SaveConfiguration(config);
    EXPECT_EQ(ReadFileBytes(config.configPath), saved) << c.what;
    ASSERT_TRUE(std::filesystem::exists(aside)) << c.what;
    EXPECT_EQ(ReadFileBytes(aside), c.bytes) << c.what;
    EXPECT_TRUE(config.LastLoadProblem().empty()) << c.what;
    EXPECT_TRUE(config.LastSaveProblem().empty()) << c.what;
    ++round;
  }
  // A save over a good file keeps nothing aside.
  SaveConfiguration(config);
  EXPECT_EQ(EntriesIn(dir.path()), 1 + round);
}

// The texts of a file and of the project's stored copy, each with a Revision (or none).
std::string TextWithRevision(Configuration& config, int revision) {
  config.Revision = revision - 1;
  std::string text = SaveConfiguration(config);
  if (revision == 0) text.erase(text.find(" Revision=\"0\""), 13);
  return text;
}

TEST_F(ConfigDocument, TheNewerOfFileAndProjectCopyIsLoaded) {
  Configuration inFile, inProject;
  std::filesystem::create_directory(dir.File("other"));
  inFile.configPath = inProject.configPath = ConfigPathIn(dir.File("other"));
  AddPhone(inFile, "13800138000", "file");
  AddPhone(inProject, "13900139000", "project");
  inProject.Com = 4;
  enum class File { kRevision, kMissing, kFolder, kDamaged };
  enum class Taken { kFile, kProject, kNothing };
  const struct {
    const char* what;
    File file;
    int fileRevision;
    int projectRevision;  // -1: a damaged copy
    Taken taken;
    LoadReport::File report;
  } cases[] = {
      {"neither counts revisions (older files)", File::kRevision, 0, 0, Taken::kFile,
       LoadReport::File::kTaken},
      {"equal revisions", File::kRevision, 2, 2, Taken::kFile, LoadReport::File::kTaken},
      {"file newer (saved from the dialog)", File::kRevision, 3, 2, Taken::kFile,
       LoadReport::File::kTaken},
      {"file older (its store failed)", File::kRevision, 2, 3, Taken::kProject,
       LoadReport::File::kOlder},
      {"file without a revision", File::kRevision, 0, 1, Taken::kProject, LoadReport::File::kOlder},
      {"no file", File::kMissing, 0, 1, Taken::kProject, LoadReport::File::kMissing},
      {"file unreadable", File::kFolder, 0, 1, Taken::kProject, LoadReport::File::kUnreadable},
      {"file damaged", File::kDamaged, 0, 1, Taken::kProject, LoadReport::File::kDamaged},
      {"both damaged", File::kDamaged, 0, -1, Taken::kNothing, LoadReport::File::kDamaged},
      {"no file, project copy damaged", File::kMissing, 0, -1, Taken::kNothing,
       LoadReport::File::kMissing},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(config.configPath);
    const std::string fileText = TextWithRevision(inFile, c.fileRevision);
    switch (c.file) {
      case File::kRevision:
        WriteFileBytes(config.configPath, fileText);
        break;
      case File::kMissing:
        break;
      case File::kFolder:
        std::filesystem::create_directory(config.configPath);
        break;
      case File::kDamaged:
        WriteFileBytes(config.configPath, fileText.substr(0, fileText.size() - 8));
        break;
    }
    std::string projectText =
        TextWithRevision(inProject, c.projectRevision < 0 ? 1 : c.projectRevision);
    if (c.projectRevision < 0) projectText.resize(projectText.size() / 2);

    Configuration loaded;
    loaded.configPath = config.configPath;
    AddPhone(loaded, "13700137000", "memory");
    const std::string before = Describe(loaded);
    MemoryArchive archive(Archived(1, projectText));
    MarkupDocument document;
    SerializeConfiguration(loaded, document, archive);
    const std::string expected = c.taken == Taken::kFile      ? Describe(inFile)
                                 : c.taken == Taken::kProject ? Describe(inProject)
                                                              : before;
    EXPECT_EQ(Describe(loaded), expected) << c.what;
    EXPECT_EQ(loaded.lastLoad.file, c.report) << c.what;
    EXPECT_EQ(loaded.lastLoad.fromProject, c.taken == Taken::kProject) << c.what;
    // Only a missing file with nothing in its place goes untold.
    EXPECT_EQ(loaded.LastLoadProblem().empty(),
              c.report == LoadReport::File::kTaken ||
                  (c.report == LoadReport::File::kMissing && c.taken != Taken::kProject))
        << c.what;
    if (c.taken != Taken::kNothing) {
      // The next save counts on from the newer revision.
      EXPECT_EQ(loaded.Revision, std::max(c.fileRevision, c.projectRevision)) << c.what;
    }
  }
}

// The project is stored while its folder cannot take the file. Returns what went wrong, one
// line each; empty when everything held. `makeUnwritable` is called once the first file is there.
template <typename MakeUnwritable>
std::string StoreIntoUnwritableFolder(const std::string& folder, MakeUnwritable makeUnwritable) {
  std::string failures;
  auto check = [&failures](bool ok, const char* what) {
    if (!ok) failures += std::string(what) + "\n";
  };
  Configuration edited;
  edited.configPath = ConfigPathIn(folder);
  AddPhone(edited, "13800138000", "pump");
  const std::string old = SaveConfiguration(edited);
  check(edited.LastSaveProblem().empty(), "the first save failed");
  makeUnwritable();

  // Enough new entries that the text outgrows a small disk.
  for (int i = 0; i < 500; ++i)
    AddPhone(edited, "1390013" + std::to_string(1000 + i), "more entries for a longer text");
  MemoryArchive stored;
  MarkupDocument document;
  SerializeConfiguration(edited, document, stored);
  check(!edited.LastSaveProblem().empty(), "the failed save was not reported");
  check(edited.LastSaveProblem().find(edited.configPath) != std::string::npos,
        "the report does not name the file");
  check(ReadFileBytes(edited.configPath) == old, "the old file did not stay whole");

  // Reopening the project: the file is older than the project's copy, which is loaded.
  Configuration reopened;
  reopened.configPath = edited.configPath;
  MemoryArchive archive(stored.Bytes());
  SerializeConfiguration(reopened, document, archive);
  check(Describe(reopened) == Describe(edited), "the edits were lost");
  check(reopened.lastLoad.file == LoadReport::File::kOlder, "the file was not found older");
  check(!reopened.LastLoadProblem().empty(), "the older file was not told");
  return failures;
}

// Runs `body` in a child process with a mount namespace of its own, in which `folder` is a fresh
// tmpfs of 16 KiB. Returns the child's output; "skip: ..." when the namespace cannot be made.
template <typename Body>
std::string InPrivateTmpfs(const std::string& folder, Body body) {
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) return "skip: no pipe";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeEnds[0]);
    std::string out;
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=16k") != 0) {
      out = "skip: no private tmpfs (" + std::string(std::strerror(errno)) + ")";
    } else {
      out = body();
    }
    [[maybe_unused]] ssize_t written = ::write(pipeEnds[1], out.data(), out.size());
    ::_exit(0);
  }
  ::close(pipeEnds[1]);
  std::string out;
  char buffer[512];
  for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
    out.append(buffer, static_cast<std::size_t>(n));
  ::close(pipeEnds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) out += "the child process failed\n";
  return out;
}

// The store into an unwritable folder, as this process can make one: as root a tmpfs of a
// private mount namespace (permissions do not stop root), made read-only or left small; else
// the folder's permissions, which can make it read-only but not full.
std::string StoreIntoUnwritable(const std::string& folder, bool fullDisk) {
  std::filesystem::create_directory(folder);
  if (::geteuid() == 0) {
    return InPrivateTmpfs(folder, [&] {
      return StoreIntoUnwritableFolder(folder, [&] {
        if (!fullDisk) ::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr);
      });
    });
  }
  if (fullDisk) return "skip: a full disk needs a tmpfs of the test's own, which needs root";
  std::string result = StoreIntoUnwritableFolder(folder, [&] { ::chmod(folder.c_str(), 0555); });
  ::chmod(folder.c_str(), 0755);
  return result;
}

TEST_F(ConfigDocument, StoreIntoAReadOnlyFolderIsReportedAndTheProjectCopyWinsAtLoad) {
  const std::string result = StoreIntoUnwritable(dir.File("project"), false);
  if (result.rfind("skip: ", 0) == 0) GTEST_SKIP() << result.substr(6);
  EXPECT_EQ(result, "");
}

TEST_F(ConfigDocument, StoreOntoAFullDiskIsReportedAndTheProjectCopyWinsAtLoad) {
  const std::string result = StoreIntoUnwritable(dir.File("project"), true);
  if (result.rfind("skip: ", 0) == 0) GTEST_SKIP() << result.substr(6);
  EXPECT_EQ(result, "");
}

// --- Out of memory at every allocation: a load takes all or nothing, a save writes or not ---

// What a caller can see of a configuration, with the last load's report.
std::string Observable(const Configuration& config) {
  return Describe(config) + "Concat=" + std::to_string(config.Concat) +
         " MaxParts=" + std::to_string(config.MaxParts) +
         " Coalesce=" + std::to_string(config.Coalesce) +
         " Resend=" + std::to_string(config.Resend) + " ModemScript=" + config.ModemScript +
         " Revision=" + std::to_string(config.Revision) + "\n" + config.LastLoadProblem();
}

struct LoadOutOfMemoryCase {
  const char* name;
  bool fileDamaged;    // the file is cut short, so the project's copy is taken
  bool fromArchive;    // SerializeConfiguration (load) rather than LoadConfiguration
  bool skippedPhones;  // a rule names an entry the phone book lacks
};

TEST_F(ConfigDocument, OutOfMemoryLoadReplacesEverythingOrNothing) {
  Configuration inFile, inProject;
  AddPhone(inFile, "13800138000", "file");
  AddRule(inFile, "tank.level", {0, 7})->Desc = "level";
  inFile.MaxParts = 3;
  inFile.ModemScript = "alarm.sh";
  AddPhone(inProject, "13900139000", "project");
  AddRule(inProject, "pump.flow", {0});
  inProject.Com = 3;
  const std::string fileText = TextWithRevision(inFile, 4);
  const std::string projectText = TextWithRevision(inProject, 5);
  const LoadOutOfMemoryCase cases[] = {
      {"file", false, false, true},
      {"project's copy newer than the file", false, true, false},
      {"project's copy in place of a damaged file", true, true, false},
  };
  for (const LoadOutOfMemoryCase& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFileBytes(config.configPath,
                   c.fileDamaged ? fileText.substr(0, fileText.size() / 2) : fileText);
    std::unique_ptr<Configuration> loaded;
    std::unique_ptr<MarkupDocument> document;
    std::unique_ptr<MemoryArchive> archive;
    auto prepare = [&] {
      archive = std::make_unique<MemoryArchive>(Archived(7, projectText));
      loaded = std::make_unique<Configuration>();
      loaded->configPath = config.configPath;
      AddPhone(*loaded, "13700137000", "memory");
      AddRule(*loaded, "old.var", {0});
      loaded->Version = 2;
      loaded->Coalesce = 9;
      document = std::make_unique<MarkupDocument>();
    };
    auto load = [&] {
      if (c.fromArchive) {
        SerializeConfiguration(*loaded, *document, *archive);
      } else {
        LoadConfiguration(*loaded, *document);
      }
      return true;
    };
    prepare();
    load();
    const std::string complete = Observable(*loaded);
    EXPECT_EQ(loaded->lastLoad.rulesWithSkippedPhones > 0, c.skippedPhones);
    std::string before;
    const int failures = ForEachAllocationFailure(
        [&] {
          prepare();
          before = Observable(*loaded);
        },
        load,
        [&](bool, bool failed) {
          const std::string now = Observable(*loaded);
          if (!failed) {
            EXPECT_EQ(now, complete);
          } else if (now != complete) {
            EXPECT_EQ(now, before);
          }
        });
    EXPECT_GT(failures, 0) << "the load allocates";
  }
}

TEST_F(ConfigDocument, OutOfMemorySaveWritesTheWholeFileOrLeavesTheOldOne) {
  AddPhone(config, "13800138000", "pump");
  const std::string old = SaveConfiguration(config);
  AddRule(config, "tank.level", {0})->Desc = "level";
  const int revision = config.Revision;
  std::string text;
  const int failures = ForEachAllocationFailure(
      [&] {
        WriteFileBytes(config.configPath, old);
        config.Revision = revision;
      },
      [&] {
        text = SaveConfiguration(config);
        return config.LastSaveProblem().empty();
      },
      [&](bool written, bool failed) {
        // An empty result says memory ran out before the file was touched; a write that failed
        // is told and leaves the old file whole.
        const std::string file = ReadFileBytes(config.configPath);
        EXPECT_TRUE(failed || !text.empty());
        if (text.empty() || !written) {
          EXPECT_EQ(file, old);
        } else {
          EXPECT_EQ(file, text);
          EXPECT_NE(file.find("tank.level"), std::string::npos);
        }
        EXPECT_EQ(EntriesIn(dir.path()), 1) << "a temporary file was left behind";
      });
  EXPECT_GT(failures, 0) << "the save allocates";
}

}  // namespace
}  // namespace pagorin
