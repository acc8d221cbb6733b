#include <gtest/gtest.h>

#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/IniFile.h"
#include "settings/SaveSettings.h"
#include "settings/SettingsFile.h"
#include "support/RecordingEvents.h"
#include "support/ScratchWorkingDir.h"
#include "update/AccessFile.h"
#include "update/SampleFiles.h"

namespace palisor {
namespace {

namespace fs = std::filesystem;

// What the settings dialog shows for a freshly installed program, before any edit.
SettingsDialogInputs UneditedInputs() {
  SettingsDialogInputs in;
  in.check4 = 1;
  in.listChecks[0] = 1;
  in.text1 = "ftp.mysite.example";
  in.text3 = "user";
  in.text4 = "secret";
  in.text2 = "/public_html";
  in.text8 = ".htaccess";
  in.text11 = "deny from ";
  in.text6 = "9999";
  in.text9 = "32";
  in.text7 = "3600";
  in.lists = ListInputsOf(SettingsFrom(IniSnapshot::OfBytes({})));
  return in;
}

// The sections a save adds after FTP when they are missing: the keys the dialog does not
// edit come from the file, here the defaults of a file without them.
constexpr const char* kEtcUrlCntSections =
    "[ETC]\n"
    "HOST2IP=0\n"
    "SPC_PREV=0\n"
    "SPC_NEXT=0\n"
    "TMINT=3600\n"
    "[URL]\n"
    "URL1=http://lists.palisor.example/proxy/proxy_c1.txt\n"
    "URL2=http://lists.palisor.example/proxy/proxy_c2.txt\n"
    "URL3=http://lists.palisor.example/proxy/proxy_c3.txt\n"
    "URL4=http://lists.palisor.example/proxy/proxy_ru1.txt\n"
    "URL5=http://lists.palisor.example/proxy/proxy_ru2.txt\n"
    "URL6=http://lists.palisor.example/proxy/proxy_ca.txt\n"
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
    "IPG_JP_URL1=http://lists.palisor.example/proxy/ipg_ALLOW_JP.txt\n"
    "IPG_CN_URL1=http://lists.palisor.example/proxy/ipg_ALLOW_CN.txt\n"
    "IPG_HK_URL1=http://lists.palisor.example/proxy/ipg_ALLOW_HK.txt\n"
    "IPG_TW_URL1=http://lists.palisor.example/proxy/ipg_ALLOW_TW.txt\n"
    "IPG_KR_URL1=http://lists.palisor.example/proxy/ipg_ALLOW_KR.txt\n"
    "IPG_JP_URL2=http://lists.palisor.example/proxy/ipg_DENY_JP.txt\n"
    "IPG_CN_URL2=http://lists.palisor.example/proxy/ipg_DENY_CN.txt\n"
    "IPG_HK_URL2=http://lists.palisor.example/proxy/ipg_DENY_HK.txt\n"
    "IPG_TW_URL2=http://lists.palisor.example/proxy/ipg_DENY_TW.txt\n"
    "IPG_KR_URL2=http://lists.palisor.example/proxy/ipg_DENY_KR.txt\n";

constexpr const char* kFtpSection =
    "[FTP]\n"
    "SVNAME=ftp.mysite.example\n"
    "SVUSER=user\n"
    "SVPSWD=secret\n"
    "SVPATH=/public_html\n"
    "SVFILE=.htaccess\n"
    "FTPSW=-1\n";

constexpr const char* kEditSection =
    "[EDIT]\n"
    "CHARBF=deny from  \n"
    "CHARAF=\n";

SettingsDialogInputs WithCountries(SettingsDialogInputs in) {
  in.countryModes[kChina] = kModeDeny;
  in.countryModes[kKorea] = kModeAllow;
  return in;
}

class SaveSettingsTest : public ::testing::Test {
 protected:
  std::string FileBytes() const { return test::ReadBytes(file_); }
  void WriteFile(const std::string& bytes) const { test::WriteBytes(file_, bytes); }

  bool Save(const SettingsDialogInputs& edited,
            const SettingsDialogInputs& shown = UneditedInputs()) {
    saved_ = SaveSettings(shown, edited, file_);
    return saved_.ok();
  }

  // A first save of `edited` into a new file; gives the text written for `key`, as it
  // stands on its line.
  std::string FirstSaveText(const SettingsDialogInputs& edited, std::string_view key) {
    fs::remove(file_);
    EXPECT_TRUE(Save(edited)) << saved_.error;
    const std::string bytes = FileBytes();
    const std::string start = "\n" + std::string(key) + "=";
    const auto at = bytes.find(start);
    if (at == std::string::npos) {
      return "<absent>";
    }
    const auto from = at + start.size();
    return bytes.substr(from, bytes.find('\n', from) - from);
  }

  test::ScratchDir scratch_;
  const fs::path dir_ = scratch_.path();
  const std::string file_ = (dir_ / "palisor.ini").string();
  Result<Settings> saved_;
};

// The sample file already holds every key a save writes: an edit changes its one line, and
// every comment and the layout stay.
TEST_F(SaveSettingsTest, ASaveOfTheSampleFileChangesOnlyTheEditedLine) {
  const std::string sample = SampleSettingsText();
  WriteFile(sample);
  SettingsDialogInputs shown = UneditedInputs();
  shown.text1 = shown.text3 = shown.text4 = shown.text2 = "";
  SettingsDialogInputs edited = shown;
  edited.text1 = "ftp.mysite.example";

  ASSERT_TRUE(Save(edited, shown)) << saved_.error;

  std::string expected = sample;
  const std::string empty = "\nSVNAME=\n";
  ASSERT_NE(expected.find(empty), std::string::npos);
  expected.replace(expected.find(empty), empty.size(), "\nSVNAME=ftp.mysite.example\n");
  EXPECT_EQ(FileBytes(), expected);
}

// What each box's text becomes in the file: numbers fall back or are clamped, names and
// folders lose their blanks and one trailing slash, the prefix gains its joining space and the
// suffix leads with one. A pasted line break, which would split a line of the file or an FTP
// command, is dropped.
TEST_F(SaveSettingsTest, EachBoxIsSavedInItsNormalForm) {
  struct Case {
    std::string SettingsDialogInputs::*box;
    const char* key;
    std::vector<std::pair<const char*, const char*>> typedAndSaved;
  };
  const Case cases[] = {
      {&SettingsDialogInputs::text7,
       "TMINT",
       {{"59", "3600"},
        {"60", "60"},
        {"59.5", "60"},
        {"58.5", "3600"},
        {"32767", "32767"},
        {"32768", "3600"},
        {"", "3600"},
        {"1e10", "3600"},
        {"-1e10", "3600"},
        {"abc", "3600"},
        {" 1 20", "120"},
        {"120s", "120"}}},
      {&SettingsDialogInputs::text6,
       "LISTMAX",
       {{"0", "1"},
        {"-5", "1"},
        {"", "1"},
        {"9999", "9999"},
        {"1", "1"},
        {"1e10", "9999"},
        {"-9e9", "1"},
        {"500.5", "500"},
        {"10000", "9999"},
        {"&H10", "16"}}},
      {&SettingsDialogInputs::text9,
       "MASK",
       {{"15", "32"},
        {"16", "16"},
        {"24", "24"},
        {"32", "32"},
        {"33", "32"},
        {"ab", "32"},
        {"", "32"},
        {"9e9", "32"}}},
      {&SettingsDialogInputs::text1,
       "SVNAME",
       {{"  ftp.mysite.example/ ", "ftp.mysite.example"},
        {"ftp.mysite.example//", "ftp.mysite.example/"},
        {"\tftp.mysite.example\t", "\tftp.mysite.example\t"},
        {"my site.example", "my site.example"},
        {" sftp://host.example:2222/ ", "sftp://host.example:2222"},
        {"ftpes://ftp.mysite.example", "ftpes://ftp.mysite.example"},
        {"ftps://ftp.mysite.example:990/", "ftps://ftp.mysite.example:990"},
        {"ftp.mysite.example\r\n", "ftp.mysite.example"}}},
      {&SettingsDialogInputs::text2,
       "SVPATH",
       {{"/public_html/", "/public_html"},
        {"/public_html//", "/public_html/"},
        {"/", ""},
        {" / ", ""},
        {"", ""},
        {"/usr/home/hogehoge/public_html", "/usr/home/hogehoge/public_html"},
        {"/public_html/\n", "/public_html"}}},
      {&SettingsDialogInputs::text8,
       "SVFILE",
       {{"", ".htaccess"}, {"    ", ".htaccess"}, {" site.acl ", "site.acl"}, {"\n", ".htaccess"}}},
      {&SettingsDialogInputs::text3,
       "SVUSER",
       {{" web master ", "web master"}, {"user\r\nPASS x", "userPASS x"}}},
      {&SettingsDialogInputs::text4,
       "SVPSWD",
       {{" p a ss ", "p a ss"}, {"pw\r\nDELE .htaccess", "pwDELE .htaccess"}}},
      {&SettingsDialogInputs::text11,
       "CHARBF",
       {{"deny from ", "deny from  "},
        {"deny from", "deny from "},
        {"", ""},
        {"   ", ""},
        {"\t", "\t "},
        {"deny\nfrom ", "denyfrom  "}}},
      {&SettingsDialogInputs::text12,
       "CHARAF",
       {{"", ""}, {"  ", ""}, {"# proxy", " # proxy"}, {" x ", "  x "}, {"\r# x", " # x"}}},
  };
  for (const Case& c : cases) {
    for (const auto& [typed, saved] : c.typedAndSaved) {
      SCOPED_TRACE(std::string(c.key) + " typed as \"" + typed + "\"");
      auto in = UneditedInputs();
      in.*c.box = typed;
      EXPECT_EQ(FirstSaveText(in, c.key), saved);
    }
  }
}

TEST_F(SaveSettingsTest, FirstSaveLaysOutEveryKeyInItsOrder) {
  ASSERT_TRUE(Save(WithCountries(UneditedInputs()))) << saved_.error;
  EXPECT_EQ(FileBytes(), std::string(kFtpSection) + kEtcUrlCntSections + kEditSection);
}

// Each control and country choice reaches its own key, and a save writes only what changed:
// every other line of the file stays as it was.
TEST_F(SaveSettingsTest, AChangeRewritesItsOwnKeyAndNothingElse) {
  struct Case {
    const char* key;
    std::function<void(SettingsDialogInputs&)> edit;
    const char* text;  // as written
  };
  const Case cases[] = {
      {"FTPSW", [](auto& in) { in.check4 = 0; }, "0"},
      {"MODE1", [](auto& in) { in.listChecks[0] = 0; }, "0"},
      {"MODE2", [](auto& in) { in.listChecks[1] = 1; }, "-1"},
      {"MODE3", [](auto& in) { in.listChecks[2] = 1; }, "-1"},
      {"MODE4", [](auto& in) { in.listChecks[3] = 2; }, "-1"},  // grey counts as ticked
      {"MODE5", [](auto& in) { in.listChecks[4] = 1; }, "-1"},
      {"MODE6", [](auto& in) { in.listChecks[5] = 1; }, "-1"},
      {"SVNAME", [](auto& in) { in.text1 = "new.example"; }, "new.example"},
      {"SVUSER", [](auto& in) { in.text3 = "me"; }, "me"},
      {"SVPSWD", [](auto& in) { in.text4 = "pw"; }, "pw"},
      {"SVPATH", [](auto& in) { in.text2 = "/www"; }, "/www"},
      {"SVFILE", [](auto& in) { in.text8 = "site.acl"; }, "site.acl"},
      {"CHARBF", [](auto& in) { in.text11 = "allow from"; }, "allow from "},
      {"CHARAF", [](auto& in) { in.text12 = "# p"; }, " # p"},
      {"LISTMAX", [](auto& in) { in.text6 = "50"; }, "50"},
      {"MASK", [](auto& in) { in.text9 = "24"; }, "24"},
      {"TMINT", [](auto& in) { in.text7 = "600"; }, "600"},
      {"IPG_JP", [](auto& in) { in.countryModes[kJapan] = kModeAllow; }, "1"},
      {"IPG_CN", [](auto& in) { in.countryModes[kChina] = kModeUnspecified; }, "0"},
      {"IPG_HK", [](auto& in) { in.countryModes[kHongKong] = kModeDeny; }, "2"},
      {"IPG_TW", [](auto& in) { in.countryModes[kTaiwan] = kModeAllow; }, "1"},
      {"IPG_KR", [](auto& in) { in.countryModes[kKorea] = kModeDeny; }, "2"},
      {"URL3", [](auto& in) { in.lists.urls[kSquidList] = " http://l.example/s \n"; },
       "http://l.example/s"},
      {"IPG_TW_URL1", [](auto& in) { in.lists.urls[kTaiwan] = "http://l.example/tw"; },
       "http://l.example/tw"},
      {"IPG_KR_URL2", [](auto& in) { in.lists.denyUrls[kKorea] = "http://l.example/kr"; },
       "http://l.example/kr"},
  };
  // Every key line spaced as by hand, so that a line rewritten loses its spaces.
  std::string before;
  std::istringstream layout(std::string(kFtpSection) + kEtcUrlCntSections + kEditSection);
  for (std::string line; std::getline(layout, line);) {
    if (const auto equals = line.find('='); equals != std::string::npos) {
      line.replace(equals, 1, " = ");
    }
    before += line + "\n";
  }
  const SettingsDialogInputs shown = WithCountries(UneditedInputs());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    WriteFile(before);
    SettingsDialogInputs edited = shown;
    c.edit(edited);
    ASSERT_TRUE(Save(edited, shown)) << saved_.error;
    std::string expected = before;
    const auto at = expected.find("\n" + std::string(c.key) + " = ") + 1;
    expected.replace(at, expected.find('\n', at) - at, std::string(c.key) + " =" + c.text);
    EXPECT_EQ(FileBytes(), expected);
  }
}

// The user edits palisor.ini by hand while the dialog is open; an OK that changes only the
// server name keeps every hand edit, long values whole, and puts a deleted key back as the
// file now reads it (its default). The record then holds what the file holds.
TEST_F(SaveSettingsTest, HandEditsMadeMeanwhileSurviveAnOk) {
  const SettingsDialogInputs shown = WithCountries(UneditedInputs());
  ASSERT_TRUE(Save(shown, shown)) << saved_.error;
  const std::string longList = "http://lists.example/" + std::string(300, 'l') + ".txt";
  std::string edited = FileBytes();
  const auto replaceLine = [&edited](std::string_view from, const std::string& to) {
    edited.replace(edited.find(from), from.size(), to);
  };
  replaceLine("TMINT=3600", "TMINT = 900 ");
  replaceLine("SVUSER=user", "SVUSER=\"hand user\"");
  replaceLine("URL1=http://lists.palisor.example/proxy/proxy_c1.txt", "URL1=" + longList);
  replaceLine("IPG_CN=2", "IPG_CN=1");
  replaceLine("URL2=http://lists.palisor.example/proxy/proxy_c2.txt\n", "");
  edited += "; mine\n[Other]\nkeep=me\n";
  WriteFile(edited);

  auto in = shown;
  in.text1 = "new.example";
  ASSERT_TRUE(Save(in, shown)) << saved_.error;

  std::string expected = edited;
  expected.replace(expected.find("SVNAME=ftp.mysite.example"), 25, "SVNAME=new.example");
  // A key put back goes after the last key line of its section.
  expected.insert(expected.find("MODE6=0\n") + 8,
                  "URL2=http://lists.palisor.example/proxy/proxy_c2.txt\n");
  EXPECT_EQ(FileBytes(), expected);
  const Settings& s = saved_.value;
  EXPECT_EQ(s.SVNAME, "new.example");
  EXPECT_EQ(s.SVUSER, "hand user");
  EXPECT_EQ(s.TMINT, 900);
  EXPECT_EQ(s.lists[kAnonymousList].url, longList);
  EXPECT_EQ(s.lists[kChina].mode, kModeAllow);
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
  auto shown = UneditedInputs();
  shown.text1 = "old.example";
  shown.text4 = "old";
  shown.text11 = "allow from ";
  ASSERT_TRUE(Save(WithCountries(UneditedInputs()), shown)) << saved_.error;

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
  EXPECT_EQ(saved_.value.LCFILE, ".\\out\\site.txt");
  EXPECT_EQ(saved_.value.LINESEP, "\r\n");
}

// The list dialog's output keys: added when changed, left as the file has them (absent, or
// hand-edited) when not, and PERLINE set back to absent goes from the file.
TEST_F(SaveSettingsTest, OutputKeysAreWrittenOnlyWhenChanged) {
  struct Case {
    const char* key;
    std::function<void(ListDialogInputs&)> edit;
    const char* line;  // as written; empty: the key is gone
  };
  const Case cases[] = {
      {"CHECKURL", [](auto& in) { in.checkUrl = " https://www.mysite.example/ "; },
       "CHECKURL=https://www.mysite.example/"},
      {"CAFILE", [](auto& in) { in.caFile = "ca.pem"; }, "CAFILE=ca.pem"},
      {"LCFILE", [](auto& in) { in.lcFile = " out.txt "; }, "LCFILE=out.txt"},
      {"OTHERLINES", [](auto& in) { in.otherLines = OtherLines::kKeep; }, "OTHERLINES=keep"},
      {"PERLINE", [](auto& in) { in.perLine = 900; }, "PERLINE=500"},
      {"MERGE", [](auto& in) { in.merge = true; }, "MERGE=-1"},
      {"LINESEP", [](auto& in) { in.lineSep = "\\t"; }, "LINESEP=\\t"},
  };
  const std::string handEdited = "[FTP]\nLCFILE=.\\by-hand.txt\n[EDIT]\nPERLINE=7\n";
  const SettingsDialogInputs shown = UneditedInputs();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    fs::remove(file_);
    SettingsDialogInputs edited = shown;
    c.edit(edited.lists);
    ASSERT_TRUE(Save(edited, shown)) << saved_.error;
    EXPECT_NE(FileBytes().find(std::string("\n") + c.line + "\n"), std::string::npos);

    WriteFile(handEdited);
    ASSERT_TRUE(Save(shown, shown)) << saved_.error;
    const std::string kept = FileBytes();
    EXPECT_TRUE(kept.starts_with("[FTP]\nLCFILE=.\\by-hand.txt\n")) << kept;
    EXPECT_NE(kept.find("[EDIT]\nPERLINE=7\n"), std::string::npos) << kept;
    EXPECT_EQ(kept.find(std::string("\n") + c.key + "=", kept.find("PERLINE=7")),
              std::string::npos);
  }
  WriteFile(handEdited);
  SettingsDialogInputs perLineShown = shown;
  perLineShown.lists.perLine = 7;
  ASSERT_TRUE(Save(shown, perLineShown)) << saved_.error;
  EXPECT_EQ(FileBytes().find("PERLINE"), std::string::npos);
  EXPECT_EQ(saved_.value.PERLINE, 0);
}

// A save that cannot replace the file changes neither the file nor the record, and says
// which file and why.
TEST_F(SaveSettingsTest, AFailedSaveChangesNothingAndSaysWhy) {
  const fs::path missingFolder = dir_ / "missing-folder" / "palisor.ini";
  const fs::path folder = dir_ / "folder.ini";
  fs::create_directory(folder);
  const fs::path huge = dir_ / "huge.ini";
  test::WriteBytes(huge, "[ETC]\nTMINT=120\n");
  fs::resize_file(huge, kIniFileMax + 1);
  struct Case {
    fs::path file;
    const char* reason;
  };
  const Case cases[] = {{missingFolder, "No such file or directory"},
                        {folder, "not a regular file"},
                        {huge, "larger than"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    auto in = UneditedInputs();
    in.text7 = "900";
    const Result<Settings> saved = SaveSettings(UneditedInputs(), in, c.file.string());
    EXPECT_FALSE(saved.ok());
    EXPECT_TRUE(saved.error.starts_with(c.file.string())) << saved.error;
    EXPECT_NE(saved.error.find(c.reason), std::string::npos) << saved.error;
  }
  EXPECT_FALSE(fs::exists(missingFolder.parent_path()));
  EXPECT_EQ(fs::file_size(huge), kIniFileMax + 1);
}

// Root may write anything, so the check runs in a child that has become an ordinary user.
TEST_F(SaveSettingsTest, AFileTheUserMayNotWriteIsLeftAsItWas) {
  constexpr uid_t kNobody = 65534;
  WriteFile("[ETC]\nTMINT=120\n");
  fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  // 0 as expected, 1 saved, 2 the reason is missing, 3 no ordinary user could be taken on.
  const int result = test::RunInChild([&] {
    if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
      return 3;
    }
    auto in = UneditedInputs();
    in.text7 = "900";
    if (Save(in)) {
      return 1;
    }
    return saved_.error.find("belongs to another user") != std::string::npos ? 0 : 2;
  });
  if (result == 3) {
    GTEST_SKIP() << "cannot become an ordinary user here";
  }
  EXPECT_EQ(result, 0);
  EXPECT_EQ(FileBytes(), "[ETC]\nTMINT=120\n");
}

class SavedPrefixTest : public test::ScratchWorkingDir {};

// The doubled space a save leaves in the prefix never reaches an output line, neither from
// the record the dialog just saved nor after the next start has read the file back.
TEST_F(SavedPrefixTest, ProducesTheRightOutputLineBeforeAndAfterARestart) {
  auto in = UneditedInputs();
  in.check4 = 0;
  in.text11 = LoadSettings().CHARBF;  // as the dialog shows it
  in.text12 = "# open proxy";
  const Result<Settings> saved = SaveSettings(UneditedInputs(), in);
  ASSERT_TRUE(saved.ok()) << saved.error;
  ASSERT_EQ(saved.value.CHARBF, "deny from ");
  test::RecordingEvents events;

  ASSERT_TRUE(
      WriteAccessFile({{}, {{"1.2.3.4\n", "proxy"}}, {}}, saved.value, events, events.token())
          .ok());
  EXPECT_EQ(test::ReadBytes("htaccess.txt"), "deny from 1.2.3.4 # open proxy\n");

  const Settings restarted = LoadSettings();
  EXPECT_EQ(restarted.CHARBF, "deny from ");
  ASSERT_TRUE(
      WriteAccessFile({{}, {{"1.2.3.4\n", "proxy"}}, {}}, restarted, events, events.token()).ok());
  EXPECT_EQ(test::ReadBytes("htaccess.txt"), "deny from 1.2.3.4 # open proxy\n");
}

}  // namespace
}  // namespace palisor
