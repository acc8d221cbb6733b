// Settings files no one should have to meet: binary garbage, a huge file, a directory, a file
// the program may not read, repeated sections and keys, enormous values. The program starts
// every time, with the defaults or with the values it can read.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>

#include "settings/SettingsFile.h"
#include "support/ScratchWorkingDir.h"

namespace palisor {
namespace {

using namespace std::string_literals;

constexpr const char* kFile = "palisor.ini";

// Every field of the record as text, one per line, so that a difference reads as a diff.
std::string Describe(const Settings& s) {
  std::ostringstream out;
  const auto text = [&](const char* name, const std::string& value) {
    out << name << "=";
    for (const char c : value) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x20 || byte >= 0x7F) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
        out << escaped;
      } else {
        out << c;
      }
    }
    out << "\n";
  };
  const auto number = [&](const char* name, long long value) {
    out << name << "=" << value << "\n";
  };
  text("SVNAME", s.SVNAME), text("SVUSER", s.SVUSER), text("SVPSWD", s.SVPSWD);
  text("SVPATH", s.SVPATH), text("SVFILE", s.SVFILE), text("LCFILE", s.LCFILE);
  text("CHARBF", s.CHARBF), text("CHARAF", s.CHARAF), text("LINESEP", s.LINESEP);
  number("FTPSW", s.FTPSW), number("SPC_PREV", s.SPC_PREV);
  number("SPC_NEXT", s.SPC_NEXT), number("TMINT", s.TMINT), number("MASK", s.MASK);
  number("LISTMAX", s.LISTMAX);
  for (std::size_t row = 0; row < kListCount; ++row) {
    const ListSettings& list = s.lists[row];
    text(kListSources[row].urlKey.data(), list.url), text("deny list", list.denyUrl);
    number(kListSources[row].modeKey.data(), list.mode);
  }
  return out.str();
}

// The record with no settings file at all.
Settings Defaults() {
  return LoadSettings("no-such-file.ini");
}

// `size` bytes that no settings file would hold, the same on every run.
std::string Garbage(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    c = static_cast<char>(random() & 0xFF);
  }
  return bytes;
}

class HostileSettingsTest : public test::ScratchWorkingDir {};

TEST_F(HostileSettingsTest, TheValuesThatCanBeReadAreRead) {
  struct Case {
    const char* name;
    std::string file;
    std::function<void(Settings&)> expected;  // what differs from the defaults
  };
  const std::string tenThousand(10'000, 'a');
  const Case cases[] = {
      {"binary garbage", Garbage(1 << 16, 1), [](Settings&) {}},
      {"a readable section inside garbage",
       Garbage(1 << 16, 2) + "\n[ETC]\nTMINT=120\n" + Garbage(1 << 16, 3),
       [](Settings& m) { m.TMINT = 120; }},
      {"NUL bytes in lines and values",
       "\0[ETC]\nTMINT=90\n[URL]\nMASK=24\0tail\n\0MODE2=1\n[CNT]\nIPG_JP=\0 2\n"s,
       [](Settings& m) { m.MASK = 24; }},
      {"sections and keys repeated",
       "[URL]\nMASK=24\nmask=16\nMASK=20\n[url]\nLISTMAX=5\n[URL]\nLISTMAX=7\n"
       "[ETC]\n[ETC]\nTMINT=99\n",
       [](Settings& m) { m.MASK = 24; }},
      {"values of 10,000 bytes",
       "[FTP]\nSVNAME=" + tenThousand + "\n[EDIT]\nCHARBF=" + std::string(10'000, 'b') +
           "\n[URL]\nMASK=" + std::string(10'000, '1') +
           "\n[ETC]\nTMINT=" + std::string(9'998, '0') + "90\n",
       [&](Settings& m) {
         m.SVNAME = tenThousand;
         m.CHARBF = std::string(10'000, 'b') + " ";
         m.MASK = 32;   // far beyond 32-bit, then out of range
         m.TMINT = 90;  // read whole, leading zeros and all
       }},
      {"names of 10,000 bytes",
       "[" + tenThousand + "]\nSVNAME=x\n[FTP]\n" + tenThousand + "=y\nSVUSER=site\n",
       [](Settings& m) { m.SVUSER = "site"; }},
      {"a line of 10,000 blanks",
       std::string(10'000, ' ') + "\n[URL]\n\t\t" + std::string(10'000, '\t') + "MODE2=1\n",
       [](Settings& m) { m.lists[kNonAnonymousList].mode = true; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::WriteBytes(kFile, c.file);
    Settings expected = Defaults();
    c.expected(expected);
    EXPECT_EQ(Describe(LoadSettings()), Describe(expected));
  }
}

// A file of 100 MB is read once, not once per key, and what it holds is used.
TEST_F(HostileSettingsTest, AHundredMegabyteFileIsReadOnce) {
  {
    std::ofstream out(kFile, std::ios::binary);
    out << "[URL]\r\nMASK=24\r\n";
    const std::string filler =
        "; " + std::string(1000, '-') + "\r\nkey=" + std::string(1000, 'v') + "\r\n";
    for (std::size_t written = 0; written < (std::size_t{100} << 20); written += filler.size()) {
      out << filler;
    }
    out << "[ETC]\r\nTMINT=120\r\n";
    ASSERT_TRUE(out.flush());
  }
  Settings expected = Defaults();
  expected.MASK = 24;
  expected.TMINT = 120;

  const auto started = std::chrono::steady_clock::now();
  const Settings loaded = LoadSettings();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
  EXPECT_EQ(Describe(loaded), Describe(expected));
}

// Neither a file too large to be a settings file nor millions of sections may exhaust memory.
TEST_F(HostileSettingsTest, NoSizeOrShapeOfFileStopsTheStart) {
  {
    test::WriteBytes(kFile, "[ETC]\nTMINT=120\n");
    std::filesystem::resize_file(kFile, std::uintmax_t{300} << 30);  // sparse: 300 GB
    EXPECT_EQ(Describe(LoadSettings()), Describe(Defaults()));
  }
  {
    std::ofstream out(kFile, std::ios::binary | std::ios::trunc);
    for (int i = 0; i < 3'000'000; ++i) {
      out << '[' << i << "]\n";
    }
    out << "[ETC]\nTMINT=120\n";
    ASSERT_TRUE(out.flush());
  }
  Settings expected = Defaults();
  expected.TMINT = 120;
  EXPECT_EQ(Describe(LoadSettings()), Describe(expected));
}

// Root reads any file, so the check runs in a child that has become an ordinary user.
TEST_F(HostileSettingsTest, AFileThatMayNotBeReadGivesTheDefaults) {
  constexpr uid_t kNobody = 65534;
  test::WriteBytes(kFile, "[ETC]\nTMINT=120\n");
  test::WriteBytes("readable.ini", "[ETC]\nTMINT=120\n");
  ASSERT_EQ(::chmod(kFile, 0), 0);
  ASSERT_EQ(::chmod(dir().c_str(), 0755), 0);  // the child must reach the directory

  // Exit codes: 0 as expected, 1 the locked file was read, 2 the readable one was not,
  // 3 no ordinary user could be taken on.
  const int result = test::RunInChild([&] {
    if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
      return 3;
    }
    if (Describe(LoadSettings()) != Describe(Defaults())) {
      return 1;
    }
    return LoadSettings("readable.ini").TMINT == 120 ? 0 : 2;
  });
  if (result == 3) {
    GTEST_SKIP() << "cannot become an ordinary user here";
  }
  EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace palisor
