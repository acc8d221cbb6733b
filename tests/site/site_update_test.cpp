// palisor-update against a real Apache: lists from a local list server, the file uploaded by
// FTP into Apache's document root, then requests from several loopback source addresses. In
// every case the site never answers 500, listed addresses get 403 and the others 200. Which list
// lines are written at all is the generation's own table; here every family of list forms goes
// through a real Apache.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "support/ApacheServer.h"
#include "support/TestServers.h"
#include "support/UpdateCommand.h"

namespace palisor::test {
namespace {

constexpr const char* kFtpUser = "site";
constexpr const char* kFtpPassword = "pw";
constexpr const char* kNoFile = "";  // the site has no .htaccess: the run failed before the upload

struct Case {
  const char* name;
  std::map<std::string, std::string> lists;  // settings key of the list's URL -> its body
  std::string file;                          // the site's .htaccess after the run
  std::vector<std::string> denied;           // 127.0.0.x sources that get 403
  std::vector<std::string> allowed;          // ... and 200
  std::string settings = {};                 // more lines for palisor.ini, [URL] section on
  std::string head = {};                     // add2htaccess.txt
  std::string tail = {};                     // add2htaccess2.txt
  std::string before = {};                   // the site's .htaccess before the run
};

// The settings of a case: the lists it names on, every other list off. URL1 is always on, as
// the upload needs a proxy list switched on; a case that names no URL1 gets an empty one.
std::string SettingsFor(const Case& c, const HttpServer& lists, const FtpServer& ftp) {
  std::string ini = "[FTP]\nSVNAME=" + ftp.Address() + "\nSVUSER=" + kFtpUser +
                    "\nSVPSWD=" + kFtpPassword + "\nSVPATH=\nSVFILE=.htaccess\nFTPSW=-1\n";
  std::string urls = "[URL]\nMODE1=-1\nURL1=" + lists.Url("/URL1.txt") + "\n";
  std::string countries = "[CNT]\n";
  for (int mode = 2; mode <= 6; ++mode) {
    const std::string key = "URL" + std::to_string(mode);
    urls += "MODE" + std::to_string(mode) + (c.lists.contains(key) ? "=-1\n" : "=0\n");
  }
  for (const auto& [key, body] : c.lists) {
    const std::string url = lists.Url("/" + key + ".txt");
    if (key.starts_with("IPG_")) {
      // IPG_JP_URL1 is the allow list (mode 1), IPG_JP_URL2 the deny list (mode 2).
      countries += key + "=" + url + "\n" + key.substr(0, 6) + "=" + key.back() + "\n";
    } else if (key != "URL1") {
      urls += key + "=" + url + "\n";
    }
  }
  return ini + urls + c.settings + countries;
}

const std::string kOrderFrame = "Order deny,allow\r\nDeny from all\r\n";
const std::string kOrderFrameOut = "Order deny,allow\nDeny from all\n";

// Apache answers 500 to every request once one line of the file is 8,192 bytes or longer.
std::string LongLine(std::string start, std::size_t bytes) {
  start.resize(bytes, 'x');
  return start;
}

std::string DenyLineOf(int addresses) {
  std::string line = "deny from";
  for (int i = 0; i < addresses; ++i) {
    line += " 127.0." + std::to_string(1 + i / 250) + "." + std::to_string(1 + i % 250);
  }
  return line;
}

TEST(SiteUpdate, OnlyWhatApacheReadsAsMeantReachesTheSite) {
  const std::string longest = LongLine("# ", 8191);
  const std::vector<Case> cases = {
      {"ports, comments, a header and a second number",
       {{"URL1",
         "# ip:port, updated hourly\n127.0.0.2:8080\n127.0.0.3 # anonymous\n"
         "127.0.0.4 80\n127.0.0.5,FR;3128\n"}},
       "deny from 127.0.0.2\ndeny from 127.0.0.3\ndeny from 127.0.0.4\ndeny from 127.0.0.5\n",
       {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"},
       {"127.0.0.1", "127.0.0.6"}},
      {"byte-order marks, no final line end, other line ends",
       {{"URL1",
         "\xEF\xBB\xBF"
         "127.0.0.6\r\n127.0.0.7"},
        {"URL2",
         "\xEF\xBB\xBF"
         "127.0.0.8\r127.0.0.9\n"}},
       "deny from 127.0.0.6\ndeny from 127.0.0.7\ndeny from 127.0.0.8\ndeny from 127.0.0.9\n",
       {"127.0.0.6", "127.0.0.7", "127.0.0.8", "127.0.0.9"},
       {"127.0.0.1", "127.0.0.5"}},
      {"partial addresses and numbers run together",
       {{"URL1", "10.1\n127.0.0.2198.51.100.1\n127.0.0.3\n127.0.0.0/30/30\n"}},
       "deny from 127.0.0.3\n",
       {"127.0.0.3"},
       {"127.0.0.1", "127.0.0.2"}},
      {"IPv6 forms beside IPv4 addresses",
       {{"URL4",
         "[2001:db8::1]:8080\n2001:db8::/32\n[2001:db8:1::]/48\n::ffff:127.0.0.3\n"
         "fe80::1%lo\n127.0.0.2\n"}},
       "deny from 2001:db8::1\ndeny from 2001:db8::/32\ndeny from 2001:db8:1::/48\n"
       "deny from 127.0.0.2/24\n",
       {"127.0.0.2", "127.0.0.3"},
       {},
       "MASK=24\n"},
      {"networks with MASK",
       {{"URL1", "127.0.0.0/31\n127.0.1.7\n"}},
       "deny from 127.0.0.0/31\ndeny from 127.0.1.7/24\n",
       {"127.0.0.1", "127.0.1.1", "127.0.1.200"},
       {"127.0.0.2", "127.0.2.1"},
       "MASK=24\n"},
      {"a country deny list of bare networks",
       {{"IPG_JP_URL2", "127.0.0.0/31\n127.0.0.5\n"}},
       "deny from 127.0.0.0/31\ndeny from 127.0.0.5\n",
       {"127.0.0.1", "127.0.0.5"},
       {"127.0.0.2"}},
      {"a country allow list of bare networks inside an Order frame",
       {{"IPG_JP_URL1", "127.0.0.2\n127.0.0.4/31\n"}},
       kOrderFrameOut + "allow from 127.0.0.2\nallow from 127.0.0.4/31\n",
       {"127.0.0.3", "127.0.0.6"},
       {"127.0.0.2", "127.0.0.4", "127.0.0.5"},
       "",
       kOrderFrame},
      {"a country list of complete lines and comments",
       {{"IPG_JP_URL1", "# Japan\n  ALLOW   from 127.0.0.2 127.0.0.4/31\t\n"}},
       kOrderFrameOut + "# Japan\nALLOW   from 127.0.0.2 127.0.0.4/31\n",
       {"127.0.0.3"},
       {"127.0.0.2", "127.0.0.5"},
       "",
       kOrderFrame},
      {"directives smuggled into a country list",
       {{"IPG_JP_URL2",
         "127.0.0.2\nOrder allow,deny\nallow from all\nAddHandler cgi-script .html\n"
         "php_value auto_prepend_file /etc/passwd\nRewriteRule ^ - [F]\n<Files *>\n"
         "Redirect / http://example.com/\n# ends in a backslash \\\ndeny from 127.0.0.3\n"
         "deny from 127.0.0.4 # and a comment\n"}},
       "deny from 127.0.0.2\ndeny from 127.0.0.3\n",
       {"127.0.0.2", "127.0.0.3"},
       {"127.0.0.1", "127.0.0.4"}},
      {"the native form inside RequireAll",
       {{"URL1", "127.0.0.2:3128\n[2001:db8::1]:80\n"}},
       "<RequireAll>\nRequire all granted\nRequire not ip 127.0.0.2 2001:db8::1\n</RequireAll>\n",
       {"127.0.0.2"},
       {"127.0.0.1", "127.0.0.3"},
       "[EDIT]\nCHARBF=Require not ip\n",
       "<RequireAll>\r\nRequire all granted\r\n",
       "</RequireAll>\r\n"},
      {"head and tail files saved with a byte-order mark",
       {{"URL1", "127.0.0.2\n"}},
       "Order allow,deny\nAllow from all\ndeny from 127.0.0.2\n# tail\n",
       {"127.0.0.2"},
       {"127.0.0.1"},
       "",
       "\xEF\xBB\xBF"
       "Order allow,deny\r\nAllow from all\r\n",
       "\xEF\xBB\xBF# tail\r\n"},
      {"lines past Apache's limit in a country list are skipped",
       {{"IPG_JP_URL2", LongLine("# ", 8202) + "\n" + DenyLineOf(900) + "\n" + longest + "\n" +
                            longest + "x\n127.0.0.2\n"}},
       longest + "\ndeny from 127.0.0.2\n",
       {"127.0.0.2"},
       {"127.0.0.1", "127.0.1.5"}},
      {"a head file line past the limit fails the run and leaves the site as it was",
       {{"URL1", "127.0.0.2\n"}},
       "deny from 127.0.0.9\n",
       {"127.0.0.9"},
       {"127.0.0.2"},
       "",
       LongLine("# ", 9000) + "\r\n",
       "",
       "deny from 127.0.0.9\n"},
      {"packed three a line",
       {{"URL1", "127.0.0.2\n127.0.0.3\n127.0.0.4\n127.0.0.5:80\n[2001:db8::1]:80\n"}},
       "deny from 127.0.0.2 127.0.0.3 127.0.0.4\ndeny from 127.0.0.5 2001:db8::1\n",
       {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"},
       {"127.0.0.1", "127.0.0.6"},
       "[EDIT]\nPERLINE=3\n"},
      {"merged and packed",
       {{"URL1", "127.0.0.3\n127.0.0.2\n127.0.0.4/31\n127.0.0.2\n"}, {"URL4", "127.0.0.9\n"}},
       "deny from 127.0.0.2/31 127.0.0.4/31 127.0.0.9\n",
       {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.9"},
       {"127.0.0.1", "127.0.0.6"},
       "[EDIT]\nPERLINE=100\nMERGE=1\n"},
      {"a merged country allow list inside an Order frame",
       {{"IPG_JP_URL1", "# Japan\n127.0.0.3\n127.0.0.2\nallow from 127.0.0.6\n"}},
       kOrderFrameOut + "allow from 127.0.0.6\nallow from 127.0.0.2/31\n",
       {"127.0.0.1", "127.0.0.4"},
       {"127.0.0.2", "127.0.0.3", "127.0.0.6"},
       "[EDIT]\nMERGE=1\n",
       kOrderFrame},
      {"an HTML page served with 200 fails and leaves the site alone",
       {{"URL1", "127.0.0.2\n"}, {"URL2", "<!DOCTYPE html>\n<html><body>Moved</body></html>\n"}},
       kNoFile,
       {},
       {"127.0.0.1", "127.0.0.2"}},
      {"JSON served with 200 fails and leaves the site alone",
       {{"URL1", "{\"proxies\": [\n  {\"ip\": \"127.0.0.2\", \"port\": 8080}\n]}\n"}},
       kNoFile,
       {},
       {"127.0.0.1", "127.0.0.2"}},
  };

  ApacheServer apache;
  ScratchDir listRoot;
  HttpServer lists(listRoot.path());
  FtpServer ftp(apache.docroot(), kFtpUser, kFtpPassword);
  const std::filesystem::path accessFile = apache.docroot() / ".htaccess";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir work;
    std::filesystem::remove(accessFile);
    if (!c.before.empty()) {
      std::ofstream(accessFile, std::ios::binary) << c.before;
    }
    listRoot.Write("URL1.txt", "");
    for (const auto& [key, body] : c.lists) {
      listRoot.Write(key + ".txt", body);
    }
    work.Write("palisor.ini", SettingsFor(c, lists, ftp));
    work.Write("add2htaccess.txt", c.head);
    work.Write("add2htaccess2.txt", c.tail);

    const Finished run = RunIn(work.path());

    const bool fails = c.file == kNoFile || c.file == c.before;
    EXPECT_EQ(run.exitStatus, fails ? 1 : 0) << run.err;
    EXPECT_EQ(ReadBytes(accessFile), c.file);
    for (const std::string& source : c.denied) {
      EXPECT_EQ(StatusFrom(apache.Url("/"), source), 403) << source << "\n" << apache.ErrorLog();
    }
    for (const std::string& source : c.allowed) {
      EXPECT_EQ(StatusFrom(apache.Url("/"), source), 200) << source << "\n" << apache.ErrorLog();
    }
  }
}

}  // namespace
}  // namespace palisor::test
