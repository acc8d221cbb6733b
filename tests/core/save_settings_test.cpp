#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "dialogs/SaveSettings.h"
#include "settings/SettingsFile.h"
#include "support/RecordingHost.h"
#include "support/ScratchWorkingDir.h"
#include "update/AccessFile.h"

namespace palisor {
namespace {

namespace fs = std::filesystem;

// What the settings dialog shows for a freshly installed program, before any edit.
SettingsDialogInputs UneditedInputs() {
  SettingsDialogInputs in;
  in.check4 = 1;
  in.check1 = 1;
  in.text1 = "ftp.mysite.example";
  in.text3 = "user";
  in.text4 = "secret";
  in.text2 = "/public_html";
  in.text8 = ".htaccess";
  in.text11 = "deny from ";
  in.text6 = "9999";
  in.text9 = "32";
  in.text7 = "3600";
  return in;
}

Settings HeldSettings() {
  Settings s;
  s.LCFILE = ".\\htaccess.txt";
  s.LINESEP = "\n";
  s.SPC_PREV = true;
  s.IPG_CN = kModeDeny;
  s.IPG_KR = kModeAllow;
  s.URL1 = "http://lists.example/proxy_c1.txt";
  s.URL2 = "http://lists.example/proxy_c2.txt";
  s.URL3 = "http://lists.example/proxy_c3.txt";
  s.URL4 = "http://lists.example/proxy_ru1.txt";
  s.URL5 = "http://lists.example/proxy_ru2.txt";
  s.URL6 = "http://lists.example/proxy_ca.txt";
  const char* codes[] = {"JP", "CN", "HK", "TW", "KR"};
  for (int c = 0; c < kCountryCount; ++c) {
    s.countryListUrls[c][kModeAllow] =
        std::string("http://lists.example/ipg_ALLOW_") + codes[c] + ".txt";
    s.countryListUrls[c][kModeDeny] =
        std::string("http://lists.example/ipg_DENY_") + codes[c] + ".txt";
  }
  return s;
}

// The sections a save adds after FTP when they are missing, for HeldSettings().
constexpr const char* kEtcUrlCntSections =
    "[ETC]\n"
    "HOST2IP=0\n"
    "SPC_PREV=-1\n"
    "SPC_NEXT=0\n"
    "TMINT=3600\n"
    "[URL]\n"
    "URL1=http://lists.example/proxy_c1.txt\n"
    "URL2=http://lists.example/proxy_c2.txt\n"
    "URL3=http://lists.example/proxy_c3.txt\n"
    "URL4=http://lists.example/proxy_ru1.txt\n"
    "URL5=http://lists.example/proxy_ru2.txt\n"
    "URL6=http://lists.example/proxy_ca.txt\n"
    "MASK=32\n"
    "LISTMAX=9999\n"
    "MODE1=-1\n"
    "MODE2=0\n"
    "MODE3=0\n"
    "MODE4=0\n"
    "MODE5=0\n"
    "MODE6=0\n"
    "[CNT]\n"
    "IPG_JP=0\n"
    "IPG_CN=2\n"
    "IPG_HK=0\n"
    "IPG_TW=0\n"
    "IPG_KR=1\n"
    "IPG_JP_URL1=http://lists.example/ipg_ALLOW_JP.txt\n"
    "IPG_CN_URL1=http://lists.example/ipg_ALLOW_CN.txt\n"
    "IPG_HK_URL1=http://lists.example/ipg_ALLOW_HK.txt\n"
    "IPG_TW_URL1=http://lists.example/ipg_ALLOW_TW.txt\n"
    "IPG_KR_URL1=http://lists.example/ipg_ALLOW_KR.txt\n"
    "IPG_JP_URL2=http://lists.example/ipg_DENY_JP.txt\n"
    "IPG_CN_URL2=http://lists.example/ipg_DENY_CN.txt\n"
    "IPG_HK_URL2=http://lists.example/ipg_DENY_HK.txt\n"
    "IPG_TW_URL2=http://lists.example/ipg_DENY_TW.txt\n"
    "IPG_KR_URL2=http://lists.example/ipg_DENY_KR.txt\n";

// The normalisation tables save here: every write fails at once, which the step must
// shrug off, and the record alone is checked. The written forms are checked by the tests
// that save into a real file.
constexpr const char* kNowhere = "/nonexistent-palisor-dir/palisor.ini";

class SaveSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("palisor_save_" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    file_ = (dir_ / "palisor.ini").string();
    state_.settings = HeldSettings();
    state_.secondsLeft = 17;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string FileBytes() const {
    std::ifstream in(file_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  void WriteFile(const std::string& bytes) const {
    std::ofstream(file_, std::ios::binary) << bytes;
  }
  std::string Saved(const char* section, const char* key) const {
    return ReadIniValue(section, key, file_, "<absent>");
  }

  fs::path dir_;
  std::string file_;
  Module1 state_;
};

struct NumberCase {
  const char* text;
  std::int32_t expected;
};

TEST_F(SaveSettingsTest, IntervalFallsBackToTheDefaultOnBothSides) {
  const NumberCase cases[] = {{"59", 3600},     {"60", 60},      {"59.5", 60},   {"58.5", 3600},
                              {"32767", 32767}, {"32768", 3600}, {"", 3600},     {"1e10", 3600},
                              {"-1e10", 3600},  {"abc", 3600},   {" 1 20", 120}, {"120s", 120}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto in = UneditedInputs();
    in.text7 = c.text;
    SaveSettings(in, state_, kNowhere);
    EXPECT_EQ(state_.settings.TMINT, c.expected);
    EXPECT_EQ(state_.secondsLeft, c.expected);
  }
}

TEST_F(SaveSettingsTest, ListMaxAndMaskTakeTheirReplacements) {
  const NumberCase listMax[] = {{"0", 1},        {"-5", 1},      {"", 1},     {"9999", 9999},
                                {"1", 1},        {"1e10", 9999}, {"-9e9", 1}, {"500.5", 500},
                                {"10000", 9999}, {"&H10", 16}};
  for (const auto& c : listMax) {
    SCOPED_TRACE(c.text);
    auto in = UneditedInputs();
    in.text6 = c.text;
    SaveSettings(in, state_, kNowhere);
    EXPECT_EQ(state_.settings.LISTMAX, c.expected);
  }
  const NumberCase mask[] = {{"15", 32}, {"16", 16}, {"24", 24}, {"32", 32},
                             {"33", 32}, {"ab", 32}, {"", 32},   {"9e9", 32}};
  for (const auto& c : mask) {
    SCOPED_TRACE(c.text);
    auto in = UneditedInputs();
    in.text9 = c.text;
    SaveSettings(in, state_, kNowhere);
    EXPECT_EQ(state_.settings.MASK, c.expected);
  }
}

struct TextCase {
  const char* input;
  const char* expected;
};

TEST_F(SaveSettingsTest, ServerNameAndDirectoryLoseSpacesAndOneTrailingSlash) {
  const TextCase names[] = {{"  ftp.mysite.example/ ", "ftp.mysite.example"},
                            {"ftp.mysite.example", "ftp.mysite.example"},
                            {"ftp.mysite.example//", "ftp.mysite.example/"},
                            {"\tftp.mysite.example\t", "\tftp.mysite.example\t"},
                            {"my site.example", "my site.example"},
                            {" sftp://host.example:2222/ ", "sftp://host.example:2222"},
                            {"ftpes://ftp.mysite.example", "ftpes://ftp.mysite.example"},
                            {"ftps://ftp.mysite.example:990/", "ftps://ftp.mysite.example:990"}};
  for (const auto& c : names) {
    SCOPED_TRACE(c.input);
    auto in = UneditedInputs();
    in.text1 = c.input;
    SaveSettings(in, state_, kNowhere);
    EXPECT_EQ(state_.settings.SVNAME, c.expected);
  }
  const TextCase paths[] = {{"/public_html/", "/public_html"},
                            {"/public_html//", "/public_html/"},
                            {"/", ""},
                            {" / ", ""},
                            {"", ""},
                            {"/usr/home/hogehoge/public_html", "/usr/home/hogehoge/public_html"}};
  for (const auto& c : paths) {
    SCOPED_TRACE(c.input);
    auto in = UneditedInputs();
    in.text2 = c.input;
    SaveSettings(in, state_, kNowhere);
    EXPECT_EQ(state_.settings.SVPATH, c.expected);
  }
}

TEST_F(SaveSettingsTest, UserPasswordAndFileNameAreTrimmed) {
  const TextCase files[] = {{"", ".htaccess"}, {"    ", ".htaccess"}, {" site.acl ", "site.acl"}};
  for (const auto& c : files) {
    SCOPED_TRACE(c.input);
    auto in = UneditedInputs();
    in.text8 = c.input;
    in.text3 = " web master ";
    in.text4 = " p a ss ";
    SaveSettings(in, state_, kNowhere);
    EXPECT_EQ(state_.settings.SVFILE, c.expected);
    EXPECT_EQ(state_.settings.SVUSER, "web master");
    EXPECT_EQ(state_.settings.SVPSWD, "p a ss");
  }
}

TEST_F(SaveSettingsTest, PrefixGainsASpaceAndSuffixLeadsWithOne) {
  const TextCase prefixes[] = {{"deny from ", "deny from  "},
                               {"deny from", "deny from "},
                               {"", ""},
                               {"   ", ""},
                               {"\t", "\t "}};
  for (const auto& c : prefixes) {
    SCOPED_TRACE(c.input);
    auto in = UneditedInputs();
    in.text11 = c.input;
    SaveSettings(in, state_, kNowhere);
    EXPECT_EQ(state_.settings.CHARBF, c.expected);
  }
  const TextCase suffixes[] = {{"", ""}, {"  ", ""}, {"# proxy", " # proxy"}, {" x ", "  x "}};
  for (const auto& c : suffixes) {
    SCOPED_TRACE(c.input);
    auto in = UneditedInputs();
    in.text12 = c.input;
    SaveSettings(in, state_, kNowhere);
    EXPECT_EQ(state_.settings.CHARAF, c.expected);
  }
}

// A pasted line break would split a line of the settings file or an FTP command.
TEST_F(SaveSettingsTest, LineBreaksNeverReachTheFile) {
  auto in = UneditedInputs();
  in.text1 = "ftp.mysite.example\r\n";
  in.text3 = "user\r\nPASS x";
  in.text4 = "pw\r\nDELE .htaccess";
  in.text2 = "/public_html/\n";
  in.text8 = "\n";
  in.text11 = "deny\nfrom ";
  in.text12 = "\r# x";
  SaveSettings(in, state_, file_);
  const Settings& s = state_.settings;
  EXPECT_EQ(s.SVNAME, "ftp.mysite.example");
  EXPECT_EQ(s.SVUSER, "userPASS x");
  EXPECT_EQ(s.SVPSWD, "pwDELE .htaccess");
  EXPECT_EQ(s.SVPATH, "/public_html");
  EXPECT_EQ(s.SVFILE, ".htaccess");
  EXPECT_EQ(s.CHARBF, "denyfrom  ");
  EXPECT_EQ(s.CHARAF, " # x");
  EXPECT_EQ(Saved("FTP", "SVPSWD"), "pwDELE .htaccess");
  EXPECT_EQ(Saved("EDIT", "CHARAF"), "# x");
}

TEST_F(SaveSettingsTest, EachCheckBoxSetsItsOwnFlag) {
  SettingsDialogInputs in = UneditedInputs();
  in.check4 = 0;
  in.check1 = 0;
  in.check2 = 1;
  in.check3 = 0;
  in.check5 = 2;  // a grey state counts as ticked
  in.check6 = 0;
  in.check7 = 1;
  SaveSettings(in, state_, file_);
  const Settings& s = state_.settings;
  EXPECT_FALSE(s.FTPSW);
  EXPECT_FALSE(s.MODE1);
  EXPECT_TRUE(s.MODE2);
  EXPECT_FALSE(s.MODE3);
  EXPECT_TRUE(s.MODE4);
  EXPECT_FALSE(s.MODE5);
  EXPECT_TRUE(s.MODE6);
  EXPECT_EQ(Saved("FTP", "FTPSW"), "0");
  EXPECT_EQ(Saved("URL", "MODE2"), "-1");
  EXPECT_EQ(Saved("URL", "MODE4"), "-1");
  EXPECT_EQ(Saved("URL", "MODE5"), "0");
}

TEST_F(SaveSettingsTest, FirstSaveLaysOutEveryKeyInItsOrder) {
  state_.settings.countryListUrls[kTaiwan][kModeDeny] = "  http://lists.example/ipg_DENY_TW.txt ";
  SaveSettings(UneditedInputs(), state_, file_);

  const std::string expected = std::string(
                                   "[FTP]\n"
                                   "SVNAME=ftp.mysite.example\n"
                                   "SVUSER=user\n"
                                   "SVPSWD=secret\n"
                                   "SVPATH=/public_html\n"
                                   "SVFILE=.htaccess\n"
                                   "FTPSW=-1\n") +
                               kEtcUrlCntSections +
                               "[EDIT]\n"
                               "CHARBF=deny from  \n"
                               "CHARAF=\n";
  EXPECT_EQ(FileBytes(), expected);
  // Only the text written is trimmed.
  EXPECT_EQ(state_.settings.countryListUrls[kTaiwan][kModeDeny],
            "  http://lists.example/ipg_DENY_TW.txt ");
}

TEST_F(SaveSettingsTest, HandWrittenLinesAndUnsavedKeysSurvive) {
  WriteFile(
      "; kept by hand\n"
      "[FTP]\n"
      "svname=old.example\n"
      "LCFILE=.\\out\\site.txt\n"
      "CHECKURL=https://www.mysite.example/\n"
      "CAFILE=own-ca.pem\n"
      "; the password follows\n"
      "SVPSWD=old\n"
      "\n"
      "[EDIT]\n"
      "LINESEP=\\N\n"
      "CHARBF=allow from\n"
      "[Other]\n"
      "keep=me\n");
  // What the record holds for these two must not reach the file.
  state_.settings.LCFILE = ".\\elsewhere.txt";
  state_.settings.LINESEP = "\r\n";
  state_.settings.CHECKURL = "http://elsewhere.example/";
  state_.settings.CAFILE = "elsewhere.pem";
  SaveSettings(UneditedInputs(), state_, file_);

  const std::string expected = std::string(
                                   "; kept by hand\n"
                                   "[FTP]\n"
                                   "svname=ftp.mysite.example\n"
                                   "LCFILE=.\\out\\site.txt\n"
                                   "CHECKURL=https://www.mysite.example/\n"
                                   "CAFILE=own-ca.pem\n"
                                   "; the password follows\n"
                                   "SVPSWD=secret\n"
                                   "SVUSER=user\n"
                                   "SVPATH=/public_html\n"
                                   "SVFILE=.htaccess\n"
                                   "FTPSW=-1\n"
                                   "\n"
                                   "[EDIT]\n"
                                   "LINESEP=\\N\n"
                                   "CHARBF=deny from  \n"
                                   "CHARAF=\n"
                                   "[Other]\n"
                                   "keep=me\n") +
                               kEtcUrlCntSections;
  EXPECT_EQ(FileBytes(), expected);
}

TEST_F(SaveSettingsTest, SavedValuesLoadBackAsTheyWereSaved) {
  auto in = UneditedInputs();
  in.text12 = "# proxy";
  in.text7 = "600";
  SaveSettings(in, state_, file_);
  Module1 loaded;
  LoadSettings(loaded, file_);
  const Settings& s = loaded.settings;
  EXPECT_EQ(s.SVNAME, "ftp.mysite.example");
  EXPECT_EQ(s.TMINT, 600);
  EXPECT_EQ(loaded.secondsLeft, 600);
  // The reader strips the stored spaces and the load appends one again.
  EXPECT_EQ(s.CHARBF, "deny from ");
  EXPECT_EQ(s.CHARAF, "# proxy");
  EXPECT_TRUE(s.SPC_PREV);
  EXPECT_EQ(s.countryListUrls[kKorea][kModeDeny], "http://lists.example/ipg_DENY_KR.txt");
}

TEST_F(SaveSettingsTest, AnUnwritableFileStillUpdatesTheRecord) {
  const std::string unwritable = (dir_ / "missing-folder" / "palisor.ini").string();
  auto in = UneditedInputs();
  in.text7 = "900";
  in.text1 = "new.example";
  SaveSettings(in, state_, unwritable);
  EXPECT_EQ(state_.settings.SVNAME, "new.example");
  EXPECT_EQ(state_.settings.TMINT, 900);
  EXPECT_EQ(state_.secondsLeft, 900);
  EXPECT_FALSE(fs::exists(unwritable));
}

class SavedPrefixTest : public test::ScratchWorkingDir {};

// The doubled space a save leaves in the prefix never reaches an output line, neither from
// the record the dialog just changed nor after the next start has read the file back.
TEST_F(SavedPrefixTest, ProducesTheRightOutputLineBeforeAndAfterARestart) {
  Module1 state;
  LoadSettings(state);
  auto in = UneditedInputs();
  in.check4 = 0;
  in.text11 = state.settings.CHARBF;  // as the dialog shows it
  in.text12 = "# open proxy";
  SaveSettings(in, state);
  ASSERT_EQ(state.settings.CHARBF, "deny from  ");
  test::RecordingHost host;
  host.keepLog = false;

  ASSERT_TRUE(WriteAccessFile("", "1.2.3.4\n", "", state.settings, host).ok());
  EXPECT_EQ(test::ReadBytes("htaccess.txt"), "deny from 1.2.3.4 # open proxy\n");

  Module1 restarted;
  LoadSettings(restarted);
  EXPECT_EQ(restarted.settings.CHARBF, "deny from ");
  ASSERT_TRUE(WriteAccessFile("", "1.2.3.4\n", "", restarted.settings, host).ok());
  EXPECT_EQ(test::ReadBytes("htaccess.txt"), "deny from 1.2.3.4 # open proxy\n");
}

}  // namespace
}  // namespace palisor
