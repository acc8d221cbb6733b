#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/IniFile.h"
#include "support/ScratchWorkingDir.h"

namespace palisor {
namespace {

using test::FileNames;
using test::ReadBytes;
using test::ScratchDir;
using test::WriteBytes;
using Names = std::vector<std::string>;

mode_t PermissionsOf(const std::filesystem::path& file) {
  struct stat info {};
  ::stat(file.c_str(), &info);
  return info.st_mode & 07777;
}

constexpr std::string_view kAbsent = "<absent>";

// A file as people write them by hand: CR LF mostly, odd spacing, comments, a few mistakes.
constexpr std::string_view kHandWritten =
    "orphan=before any section\r\n"
    "; a comment before the first section\r\n"
    "[ FTP ]  anything after the bracket\r\n"
    "SVNAME =  ftp.example.com \t\r\n"
    "\tSvUser\t=\t\"  quoted user  \"\r\n"
    "  ;SVPSWD=hidden\r\n"
    "SVPATH=\r\n"
    "single='abc'\r\n"
    "mixed=\"abc'\r\n"
    "lone=\"abc\r\n"
    "equals=a=b;c #d\r\n"
    "just words\r\n"
    "dup=first\r\n"
    "dup=second\r\n"
    "\r\n"
    "   \t  \r\n"
    "[URL\r\n"
    "URL1=ends with CR LF\r\n"
    "URL2=ends with CR\r"
    "URL3=ends with LF\n"
    "[ftp]\r\n"
    "SVFILE=in the second copy\r\n"
    "[Cnt]\r\n"
    "ipg_jp = 2";

struct ReadCase {
  std::string_view section;
  std::string_view key;
  std::string_view expected;
};

TEST(IniRead, HandWrittenFileFollowsTheProfileRules) {
  ScratchDir dir;
  const auto file = dir / "palisor.ini";
  WriteBytes(file, kHandWritten);

  const std::vector<ReadCase> cases = {
      {"FTP", "SVNAME", "ftp.example.com"},  // blanks around name and value trimmed
      {"ftp", "svuser", "  quoted user  "},  // any case; quotes removed, blanks inside kept
      {"FTP", "SVPSWD", kAbsent},            // a comment is never looked up
      {"FTP", ";SVPSWD", kAbsent},           //   not even by its own text
      {"FTP", "SVPATH", ""},                 // present and empty: empty, not the default
      {"FTP", "single", "abc"},              // single quotes as well
      {"FTP", "mixed", "\"abc'"},            // different quote marks stay
      {"FTP", "lone", "\"abc"},              // a lone quote stays
      {"FTP", "equals", "a=b;c #d"},         // split at the first '='; ';' and '#' literal
      {"FTP", "just words", kAbsent},        // a line without '=' is no key
      {"FTP", "dup", "first"},               // the first of two equal keys wins
      {"FTP", "orphan", kAbsent},            // lines before any section belong to none
      {"", "orphan", kAbsent},               //
      {"FTP", "SVFILE", kAbsent},            // only the first copy of a section is searched
      {"URL", "URL1", "ends with CR LF"},    // a section line without ']'
      {"URL", "URL2", "ends with CR"},       // a lone CR ends a line
      {"URL", "URL3", "ends with LF"},       // a lone LF ends a line
      {"CNT", "IPG_JP", "2"},                // the last line without a line end
      {"EDIT", "CHARBF", kAbsent},           // missing section
      {"URL", "URL4", kAbsent},              // missing key
  };
  const IniSnapshot snapshot(file);  // reads many keys of the file by the same rules
  for (const auto& c : cases) {
    EXPECT_EQ(GetProfileString(c.section, c.key, kAbsent, file), c.expected)
        << "[" << c.section << "] " << c.key;
    EXPECT_EQ(snapshot.Get(c.section, c.key, kAbsent), c.expected)
        << "[" << c.section << "] " << c.key;
  }
}

TEST(IniRead, ValuesAreReadWholeAndAByteOrderMarkIsSkipped) {
  ScratchDir dir;
  const auto file = dir / "palisor.ini";
  const std::string longValue(100'000, 'x');
  WriteBytes(file, "\xEF\xBB\xBF[FTP]\nLONG=" + longValue + "\nQUOTED=\"" + longValue + "\"\n");

  EXPECT_EQ(GetProfileString("FTP", "LONG", "", file), longValue);
  EXPECT_EQ(GetProfileString("FTP", "QUOTED", "", file), longValue);
  EXPECT_EQ(GetProfileString("FTP", "MISSING", longValue, file), longValue);
}

TEST(IniRead, AnyProblemWithTheFileGivesTheDefault) {
  ScratchDir dir;
  EXPECT_EQ(GetProfileString("FTP", "SVNAME", "fallback", dir / "missing.ini"), "fallback");
  EXPECT_EQ(GetProfileString("FTP", "SVNAME", "fallback", dir.path()), "fallback");
  EXPECT_EQ(GetProfileString("FTP", "SVNAME", "fallback", dir / "no-dir" / "x.ini"), "fallback");

  // A pipe with no writer must not hang the start-up.
  const auto fifo = dir / "fifo.ini";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(GetProfileString("FTP", "SVNAME", "fallback", fifo), "fallback");
  EXPECT_EQ(IniSnapshot(fifo).Get("FTP", "SVNAME", "fallback"), "fallback");
  EXPECT_EQ(IniSnapshot(dir.path()).Get("FTP", "SVNAME", "fallback"), "fallback");
}

// One key written by the profile writing rules, the file replaced once.
bool WriteKey(std::string_view section, std::string_view key, std::string_view value,
              const std::filesystem::path& file) {
  std::string error;
  auto document = IniDocument::Read(file, error);
  return document && document->Set(section, key, value) && document->Save(error);
}

// Writes a sequence of keys and gives the file's bytes afterwards.
struct Write {
  std::string_view section;
  std::string_view key;
  std::string_view value;
};

std::string AfterWrites(std::string_view before, const std::vector<Write>& writes,
                        bool createFile = true) {
  ScratchDir dir;
  const auto file = dir / "palisor.ini";
  if (createFile) {
    WriteBytes(file, before);
  }
  for (const auto& w : writes) {
    EXPECT_TRUE(WriteKey(w.section, w.key, w.value, file)) << w.key;
  }
  EXPECT_EQ(FileNames(dir.path()), Names{"palisor.ini"}) << "a temporary was left";
  return ReadBytes(file);
}

TEST(IniWrite, NewFileGetsSectionsAndKeysInTheOrderWritten) {
  EXPECT_EQ(
      AfterWrites(
          "",
          {{"App1", "key1", "string1"}, {"App1", "key2", "string2"}, {"App2", "key4", "string4"}},
          false),
      "[App1]\nkey1=string1\nkey2=string2\n[App2]\nkey4=string4\n");
}

TEST(IniWrite, NewKeyGoesRightAfterTheLastKeyLineOfItsSection) {
  EXPECT_EQ(AfterWrites("[S]\nb=value\n;comment\na=value\n[T]\nc=1\n",
                        {{"S", "z", ""}, {"S", "b", ""}, {"S", "y", ""}}),
            "[S]\nb=\n;comment\na=value\nz=\ny=\n[T]\nc=1\n");
  // Comments at the end of a section stay after the new key.
  EXPECT_EQ(AfterWrites("[S]\r\na=1\r\n; trailing note\r\n\r\n[T]\r\n", {{"s", "b", "2"}}),
            "[S]\r\na=1\r\nb=2\r\n; trailing note\r\n\r\n[T]\r\n");
  // A section without keys gets its first key right after its section line.
  EXPECT_EQ(AfterWrites("[A]\n; empty\n[B]\nk=1\n", {{"A", "new", "v"}}),
            "[A]\nnew=v\n; empty\n[B]\nk=1\n");
}

TEST(IniWrite, ExistingValueIsReplacedWhereItStandsKeepingTheFilesSpelling) {
  EXPECT_EQ(AfterWrites("; settings\r\n[ ftp ]\r\n  SvName = old value \r\n; note\r\nOther=1\r\n"
                        "[Next]\r\nSVNAME=untouched\r\n",
                        {{"FTP", "SVNAME", "  new  "}}),
            "; settings\r\n[ ftp ]\r\n  SvName =  new  \r\n; note\r\nOther=1\r\n"
            "[Next]\r\nSVNAME=untouched\r\n");
  // Only the first copy of a section and the first of two equal keys are written.
  EXPECT_EQ(AfterWrites("[S]\nk=1\nk=2\n[S]\nk=3\n", {{"S", "K", "9"}}),
            "[S]\nk=9\nk=2\n[S]\nk=3\n");
  EXPECT_EQ(AfterWrites("[S]\nk=1\n[S]\nk=3\n", {{"S", "new", "9"}}),
            "[S]\nk=1\nnew=9\n[S]\nk=3\n");
  // A key before the first section is no key of the section.
  EXPECT_EQ(AfterWrites("k=orphan\n[S]\n", {{"S", "k", "v"}}), "k=orphan\n[S]\nk=v\n");
}

TEST(IniWrite, MissingSectionGoesAtTheEndAfterALineEndIfTheFileLacksOne) {
  EXPECT_EQ(AfterWrites("[A]\r\nx=1", {{"B", "k", "v"}}), "[A]\r\nx=1\r\n[B]\r\nk=v\r\n");
  EXPECT_EQ(AfterWrites("[A]\nx=1\n", {{"B", "k", "v"}}), "[A]\nx=1\n[B]\nk=v\n");
  EXPECT_EQ(AfterWrites("[A]\rx=1\r", {{"B", "k", "v"}}), "[A]\rx=1\r[B]\rk=v\r");
  // The same holds for a new key after a last line without its line end.
  EXPECT_EQ(AfterWrites("[A]\nx=1", {{"A", "y", "2"}}), "[A]\nx=1\ny=2\n");
  EXPECT_EQ(AfterWrites("[A]", {{"A", "y", "2"}}), "[A]\ny=2\n");
  EXPECT_EQ(AfterWrites("\xEF\xBB\xBF", {{"A", "y", "2"}}), "\xEF\xBB\xBF[A]\ny=2\n");
}

TEST(IniWrite, ValueIsWrittenExactlyAndReadsBackByTheRules) {
  ScratchDir dir;
  const auto file = dir / "palisor.ini";
  ASSERT_TRUE(WriteKey("EDIT", "CHARBF", "deny from  ", file));
  ASSERT_TRUE(WriteKey("EDIT", "CHARAF", "\" quoted \"", file));
  ASSERT_TRUE(WriteKey("EDIT", "SEMI", "a;b", file));
  EXPECT_EQ(ReadBytes(file), "[EDIT]\nCHARBF=deny from  \nCHARAF=\" quoted \"\nSEMI=a;b\n");
  EXPECT_EQ(GetProfileString("EDIT", "CHARBF", "", file), "deny from");
  EXPECT_EQ(GetProfileString("EDIT", "CHARAF", "", file), " quoted ");
  EXPECT_EQ(GetProfileString("EDIT", "SEMI", "", file), "a;b");
}

// The file holds the password: whatever mode a file made by hand had, a save leaves 0600.
TEST(IniWrite, EverySaveLeavesTheFileToItsOwnerOnly) {
  ScratchDir dir;
  const mode_t oldMask = ::umask(022);
  const auto fresh = dir / "fresh.ini";
  EXPECT_TRUE(WriteKey("FTP", "SVPSWD", "secret", fresh));
  EXPECT_EQ(PermissionsOf(fresh), 0600u);

  for (const mode_t mode : {0644u, 0640u, 0604u, 0666u}) {
    const auto kept = dir / "kept.ini";
    WriteBytes(kept, "[FTP]\nSVPSWD=old\n");
    ::chmod(kept.c_str(), mode);
    EXPECT_TRUE(WriteKey("FTP", "SVPSWD", "new", kept));
    EXPECT_EQ(PermissionsOf(kept), 0600u) << std::oct << mode;
    EXPECT_EQ(ReadBytes(kept), "[FTP]\nSVPSWD=new\n");
  }
  ::umask(oldMask);
  EXPECT_EQ(FileNames(dir.path()), (Names{"fresh.ini", "kept.ini"}));
}

TEST(IniWrite, LineBreaksInAnyPartAreRefusedAndChangeNothing) {
  ScratchDir dir;
  const auto file = dir / "palisor.ini";
  const std::string before = "[FTP]\r\nSVPSWD=old\r\n";
  WriteBytes(file, before);
  const std::vector<Write> refused = {
      {"FTP", "SVPSWD", "x\r\n[FTP]\r\nSVNAME=evil"},
      {"FTP", "SVPSWD", "x\n"},
      {"FTP", "SVPSWD", "\rx"},
      {"FTP", "SV\nPSWD", "x"},
      {"FTP", "SVPSWD\r", "x"},
      {"FTP]\n[X", "SVPSWD", "x"},
      {"\rFTP", "SVPSWD", "x"},
  };
  for (const auto& w : refused) {
    EXPECT_FALSE(WriteKey(w.section, w.key, w.value, file));
    EXPECT_FALSE(WriteKey(w.section, w.key, w.value, dir / "new.ini"));
  }
  EXPECT_EQ(ReadBytes(file), before);
  EXPECT_EQ(FileNames(dir.path()), Names{"palisor.ini"});
}

// A link in the settings file's place could lead a save anywhere: it is refused, not followed.
TEST(IniWrite, ALinkIsRefusedAndNothingIsWritten) {
  ScratchDir dir;
  const auto target = dir / "real.ini";
  const auto link = dir / "link.ini";
  WriteBytes(target, "[FTP]\nSVNAME=a\n");
  std::filesystem::create_symlink(target, link);
  EXPECT_FALSE(WriteKey("FTP", "SVNAME", "b", link));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadBytes(target), "[FTP]\nSVNAME=a\n");
  EXPECT_EQ(FileNames(dir.path()), (Names{"link.ini", "real.ini"}));
}

// A quadratic scan (a lone-CR file searched to its end for LF on every line, say) would
// take hours here.
TEST(IniFile, LargeFilesAreReadAndWrittenInLinearTime) {
  for (const std::string_view eol : {"\n", "\r\n", "\r"}) {
    ScratchDir dir;
    const auto file = dir / "big.ini";
    const std::string eolText(eol);
    constexpr int kLines = 200'000;
    std::string text = "[FTP]" + eolText;
    for (int i = 0; i < kLines; ++i) {
      text += "key" + std::to_string(i) + "=v" + eolText;
    }
    text += "[URL]" + eolText + "URL1=last" + eolText;
    WriteBytes(file, text);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(GetProfileString("URL", "URL1", "", file), "last");
    EXPECT_TRUE(WriteKey("FTP", "added", "1", file));
    EXPECT_TRUE(WriteKey("URL", "URL1", "changed", file));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));

    std::string expected = text;
    expected.insert(expected.find("[URL]"), "added=1" + eolText);
    expected.replace(expected.rfind("last"), 4, "changed");
    EXPECT_TRUE(ReadBytes(file) == expected) << "for line ends of " << eolText.size() << " bytes";
  }
}

}  // namespace
}  // namespace palisor
