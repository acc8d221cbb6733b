#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "settings/SettingsFile.h"
#include "support/ScratchWorkingDir.h"
#include "update/SampleFiles.h"

namespace palisor {
namespace {

using test::ScratchDir;
using test::WorkingDirectory;
using test::WriteBytes;

constexpr std::string_view kLists = "http://lists.palisor.example/proxy/";

std::string DefaultList(std::string_view name) {
  return std::string(kLists) + std::string(name);
}

// Loads settings from a file holding `text`.
Settings LoadFrom(std::string_view text) {
  ScratchDir dir;
  const auto file = dir / "palisor.ini";
  WriteBytes(file, text);
  return LoadSettings(file.string());
}

TEST(LoadSettings, NoFileGivesEveryDefault) {
  ScratchDir dir;
  const WorkingDirectory inside(dir.path());
  const Settings s = LoadSettings();

  EXPECT_EQ(s.SVNAME, "");
  EXPECT_EQ(s.SVUSER, "");
  EXPECT_EQ(s.SVPSWD, "");
  EXPECT_EQ(s.SVPATH, "");
  EXPECT_EQ(s.SVFILE, ".htaccess");
  EXPECT_EQ(s.LCFILE, ".\\htaccess.txt");
  EXPECT_EQ(s.CHARBF, "deny from ");
  EXPECT_EQ(s.CHARAF, "");
  EXPECT_EQ(s.LINESEP, "\n");
  EXPECT_EQ(s.TMINT, 3600);
  EXPECT_EQ(s.MASK, 32);
  EXPECT_EQ(s.LISTMAX, 9999);
  EXPECT_TRUE(s.FTPSW);
  EXPECT_TRUE(s.lists[kAnonymousList].mode);
  for (const bool flag : {s.SPC_PREV, s.SPC_NEXT, s.MERGE}) {
    EXPECT_FALSE(flag);
  }
  for (std::size_t row = kNonAnonymousList; row < kListCount; ++row) {
    EXPECT_EQ(s.lists[row].mode, 0) << kListSources[row].name;
  }
  for (const Country c : {kJapan, kChina, kHongKong, kTaiwan, kKorea}) {
    EXPECT_EQ(s.lists[c].mode, 0);
  }
  EXPECT_EQ(s.lists[kAnonymousList].url, DefaultList("proxy_c1.txt"));
  EXPECT_EQ(s.lists[kNonAnonymousList].url, DefaultList("proxy_c2.txt"));
  EXPECT_EQ(s.lists[kSquidList].url, DefaultList("proxy_c3.txt"));
  EXPECT_EQ(s.lists[kRussia1List].url, DefaultList("proxy_ru1.txt"));
  EXPECT_EQ(s.lists[kRussia2List].url, DefaultList("proxy_ru2.txt"));
  EXPECT_EQ(s.lists[kCanadaList].url, DefaultList("proxy_ca.txt"));
  const char* codes[] = {"JP", "CN", "HK", "TW", "KR"};
  for (const Country c : {kJapan, kChina, kHongKong, kTaiwan, kKorea}) {
    EXPECT_EQ(s.lists[c].url, DefaultList(std::string("ipg_ALLOW_") + codes[c] + ".txt"));
    EXPECT_EQ(s.lists[c].denyUrl, DefaultList(std::string("ipg_DENY_") + codes[c] + ".txt"));
  }
}

TEST(LoadSettings, ReadsTheFileInTheWorkingDirectoryWrittenByHand) {
  ScratchDir dir;
  WriteBytes(dir / "palisor.ini",
             "; kept by hand\r\n"
             "[ftp]\r\n"
             "svname = ftp.example.org \r\n"
             "SVUSER=\"  user  \"\r\n"
             "SVPSWD='p;ss#'\r\n"
             "SVPATH=/www\r\n"
             "SVFILE=\r\n"
             "LCFILE=.\\out\\site.txt\r\n"
             "FTPSW=0\r\n"
             "[EDIT]\r\n"
             "CHARBF=\"allow from\"\r\n"
             "CHARAF=' # proxy'\r\n"
             "[ETC]\r\n"
             "HOST2IP=-1\r\n"
             "SPC_PREV=1\r\n"
             "SPC_NEXT=yes\r\n"
             "TMINT=  1 20 0\r\n"
             "[URL]\r\n"
             "URL3=http://mirror.example/c3.txt\r\n"
             "MODE1=0\r\n"
             "MODE4=2\r\n"
             "MASK=24\r\n"
             "LISTMAX=50000\r\n"
             "[CNT]\r\n"
             "IPG_JP=1\r\n"
             "IPG_HK=2\r\n"
             "IPG_TW=-1\r\n"
             "IPG_KR=70000\r\n"
             "IPG_CN=1.5\r\n"
             "IPG_HK_URL1=http://mirror.example/hk-allow.txt\r\n"
             "IPG_KR_URL2=http://mirror.example/kr-deny.txt\r\n"
             "[URL]\r\n"
             "IPG_TW_URL1=http://wrong.example/in-the-wrong-section.txt\r\n");
  const WorkingDirectory inside(dir.path());
  const Settings s = LoadSettings();

  EXPECT_EQ(s.SVNAME, "ftp.example.org");
  EXPECT_EQ(s.SVUSER, "  user  ");
  EXPECT_EQ(s.SVPSWD, "p;ss#");
  EXPECT_EQ(s.SVPATH, "/www");
  EXPECT_EQ(s.SVFILE, "");
  EXPECT_EQ(s.LCFILE, ".\\out\\site.txt");
  EXPECT_FALSE(s.FTPSW);
  EXPECT_EQ(s.CHARBF, "allow from ");
  EXPECT_EQ(s.CHARAF, " # proxy");
  EXPECT_TRUE(s.SPC_PREV);
  EXPECT_FALSE(s.SPC_NEXT);
  EXPECT_EQ(s.TMINT, 1200);
  EXPECT_EQ(s.lists[kAnonymousList].url, DefaultList("proxy_c1.txt"));
  EXPECT_EQ(s.lists[kSquidList].url, "http://mirror.example/c3.txt");
  EXPECT_FALSE(s.lists[kAnonymousList].mode);
  EXPECT_TRUE(s.lists[kRussia1List].mode);
  EXPECT_EQ(s.MASK, 24);
  EXPECT_EQ(s.LISTMAX, 50000);
  EXPECT_EQ(s.lists[kJapan].mode, 1);
  EXPECT_EQ(s.lists[kChina].mode, 2);
  EXPECT_EQ(s.lists[kHongKong].mode, 2);
  EXPECT_EQ(s.lists[kTaiwan].mode, -1);    // no range check at load
  EXPECT_EQ(s.lists[kKorea].mode, 32767);  // clamped to the field, not wrapped
  EXPECT_EQ(s.lists[kHongKong].url, "http://mirror.example/hk-allow.txt");
  EXPECT_EQ(s.lists[kKorea].denyUrl, "http://mirror.example/kr-deny.txt");
  EXPECT_EQ(s.lists[kTaiwan].url, DefaultList("ipg_ALLOW_TW.txt"));
}

struct ValueCase {
  std::string_view line;
  std::int32_t expected;
};

TEST(LoadSettings, NumbersMeetTheirClamps) {
  const std::vector<ValueCase> tmint = {
      {"TMINT=30", 60},    {"TMINT=100000", 32767}, {"TMINT=59.5", 60},     {"TMINT=60.5", 60},
      {"TMINT=", 60},      {"TMINT=soon", 60},      {"TMINT=32767", 32767}, {"TMINT=1e12", 32767},
      {"TMINT=-1e12", 60}, {"TMINT=&HE10", 3600},
  };
  for (const auto& c : tmint) {
    EXPECT_EQ(LoadFrom("[ETC]\n" + std::string(c.line) + "\n").TMINT, c.expected) << c.line;
  }
  const std::vector<ValueCase> mask = {
      {"MASK=15", 32}, {"MASK=33", 32},   {"MASK=16", 16},   {"MASK=32", 32},
      {"MASK=", 32},   {"MASK=24.5", 24}, {"MASK=1e12", 32}, {"MASK=-1e12", 32},
  };
  for (const auto& c : mask) {
    EXPECT_EQ(LoadFrom("[URL]\n" + std::string(c.line) + "\n").MASK, c.expected) << c.line;
  }
  const std::vector<ValueCase> listmax = {
      {"LISTMAX=0", 1},
      {"LISTMAX=-5", 1},
      {"LISTMAX=50000", 50000},
      {"LISTMAX=x", 1},
      {"LISTMAX=1e12", 2147483647},
      {"LISTMAX=0.5", 1},
  };
  for (const auto& c : listmax) {
    EXPECT_EQ(LoadFrom("[URL]\n" + std::string(c.line) + "\n").LISTMAX, c.expected) << c.line;
  }
  // Absent or blank, PERLINE follows the form of CHARBF; present, it is obeyed within 1 ... 500.
  const std::vector<ValueCase> perLine = {
      {"", 1},
      {"CHARBF=  require\tnot ip", 100},
      {"CHARBF=Require not ip\nPERLINE= ", 100},
      {"CHARBF=Required from", 1},
      {"CHARBF=Require not ip\nPERLINE=1", 1},
      {"PERLINE=0", 1},
      {"PERLINE=x", 1},
      {"PERLINE=37", 37},
      {"PERLINE=501", 500},
      {"PERLINE=-1e12", 1},
  };
  for (const auto& c : perLine) {
    EXPECT_EQ(PerLineFor(LoadFrom("[EDIT]\n" + std::string(c.line) + "\n")), c.expected) << c.line;
  }
}

// What --init writes reads back as the program's defaults, however the defaults change.
TEST(LoadSettings, TheSampleFileLoadsAsTheDefaults) {
  ScratchDir dir;
  const WorkingDirectory inside(dir.path());
  const Settings defaults = LoadSettings();
  EXPECT_EQ(LoadFrom(SampleSettingsText()), defaults);
}

TEST(LoadSettings, FlagsAreOnForAnyNonZeroNumber) {
  const std::vector<std::pair<std::string_view, bool>> cases = {
      {"-1", true}, {"1", true}, {"2", true},   {"0.5", true},
      {"0", false}, {"", false}, {"on", false}, {"yes", false},
  };
  for (const auto& [value, on] : cases) {
    const std::string text = "[FTP]\nFTPSW=" + std::string(value) +
                             "\n[URL]\nMODE1=" + std::string(value) +
                             "\nMODE6=" + std::string(value) + "\n";
    const Settings s = LoadFrom(text + "[EDIT]\nMERGE=" + std::string(value) + "\n");
    EXPECT_EQ(s.MERGE, on) << value;
    EXPECT_EQ(s.FTPSW, on) << value;
    EXPECT_EQ(s.lists[kAnonymousList].mode, on) << value;
    EXPECT_EQ(s.lists[kCanadaList].mode, on) << value;
  }
}

TEST(LoadSettings, TextBeforeAndAfterTheAddress) {
  const std::vector<std::tuple<std::string_view, std::string_view, std::string_view>> cases = {
      // file lines, CHARBF, CHARAF
      {"", "deny from ", ""},
      {"CHARBF=\n", "", ""},
      {"CHARBF=\"   \"\nCHARAF=\"   \"\n", "", ""},
      {"CHARBF=\"deny from  \"\n", "deny from   ", ""},
      {"CHARBF=\"\tx\t\"\nCHARAF=\" \t\"\n", "\tx\t ", " \t"},  // only spaces count as blank
      {"CHARAF=\" # note\"\n", "deny from ", " # note"},
  };
  for (const auto& [lines, charbf, charaf] : cases) {
    const Settings s = LoadFrom("[EDIT]\n" + std::string(lines));
    EXPECT_EQ(s.CHARBF, charbf) << lines;
    EXPECT_EQ(s.CHARAF, charaf) << lines;
  }
}

TEST(LoadSettings, LineSeparatorCodes) {
  const std::vector<std::pair<std::string_view, std::string_view>> cases = {
      {"[EDIT]\nLINESEP=\\n\n", "\n"},
      {"[EDIT]\nLINESEP=\\N\n", "\r\n"},
      {"[EDIT]\nLINESEP=\\t\n", "\t"},
      {"[EDIT]\nLINESEP=\\,\n", ","},
      {"[EDIT]\nLINESEP=\\|\n", "|"},
      {"[EDIT]\nLINESEP=\n", "\r\n"},
      {"[EDIT]\n", "\n"},
      {"[EDIT]\nLINESEP=;\n", ";"},
      {"[EDIT]\nLINESEP=\"  \\N \"\n", "\r\n"},  // spaces around a code do not count
      {"[EDIT]\nLINESEP=\"; \"\n", "; "},        // but stay in a value that is no code
      {"[EDIT]\nLINESEP=\\r\n", "\\r"},
  };
  for (const auto& [text, separator] : cases) {
    EXPECT_EQ(LoadFrom(text).LINESEP, separator) << text;
  }
  EXPECT_EQ(DecodeLineSeparator("\t\\n"), "\t\\n");  // a tab is no space here
}

// A long list address is fetched as written, not cut to another address.
TEST(LoadSettings, LongValuesAreReadWholeAndWindowsPathsAreTakenNatively) {
  ScratchDir dir;
  std::filesystem::create_directory(dir / "conf");
  const std::string longAddress = "http://lists.example/" + std::string(300, 'h') + ".txt";
  WriteBytes(dir / "conf" / "palisor.ini", "[FTP]\nSVUSER=me\n[URL]\nURL1=" + longAddress + "\n");
  const WorkingDirectory inside(dir.path());
  const Settings s = LoadSettings(".\\conf\\palisor.ini");
  EXPECT_EQ(s.lists[kAnonymousList].url, longAddress);

  EXPECT_EQ(ReadIniValue("ftp", "svuser", ".\\conf\\palisor.ini", "none"), "me");
  EXPECT_EQ(ReadIniValue("FTP", "SVPATH", ".\\conf\\palisor.ini", "none"), "none");
  EXPECT_FALSE(std::filesystem::exists(dir / ".\\conf\\palisor.ini"));
}

}  // namespace
}  // namespace palisor
