#include "update/SampleFiles.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/CommandLine.h"
#include "platform/OwnFiles.h"
#include "platform/Paths.h"
#include "settings/SettingKeys.h"
#include "settings/Settings.h"
#include "settings/SettingsFile.h"
#include "update/AccessFile.h"

namespace palisor {
namespace {

constexpr std::string_view kSettingsHeader =
    "; palisor.ini: the settings of Palisor, as palisor --init or palisor-update --init wrote\n"
    "; them, every key at its default. Above each key: what it does and, in brackets, where\n"
    "; the window edits it. Lines beginning with \";\" are comments, and the settings dialog's\n"
    "; OK keeps them. palisor.ini(5) describes every key.\n"
    ";\n"
    "; Before the first run: the list addresses are placeholders on lists.palisor.example, so\n"
    "; set the lists you use (設定 → リスト設定; URL1 ... and IPG_*_URL1/2 below), and the\n"
    "; server (設定 → FTPサーバ; SVNAME), or turn uploading off (FTPSW=0).\n";

constexpr std::string_view kHeadSample =
    "# add2htaccess.txt: your own lines, copied into the access file before the list lines.\n"
    "# Apache reads every line on every request: one it cannot parse answers the whole site\n"
    "# with 500. The default \"deny from\" lines need no frame, so this file may stay as it is.\n"
    "#\n"
    "# Only the countries of allow lists may see the site: remove the \"# \" of these two lines\n"
    "# Order deny,allow\n"
    "# Deny from all\n"
    "#\n"
    "# With CHARBF=Require not ip (Apache 2.4's own form), open its frame here, and close it in\n"
    "# add2htaccess2.txt:\n"
    "# <RequireAll>\n"
    "# Require all granted\n";

constexpr std::string_view kTailSample =
    "# add2htaccess2.txt: your own lines, copied into the access file after the list lines.\n"
    "#\n"
    "# With CHARBF=Require not ip, close the frame add2htaccess.txt opened: remove the \"# \"\n"
    "# </RequireAll>\n";

constexpr std::array<std::string_view, 5> kSections = {"FTP", "ETC", "URL", "CNT", "EDIT"};

// Every key but the lists', in their order within their sections.
constexpr std::array kOwnKeys = {
    &keys::FTPSW,  &keys::SVNAME,   &keys::SVUSER,   &keys::SVPSWD,  &keys::SVPATH,
    &keys::SVFILE, &keys::LCFILE,   &keys::CHECKURL, &keys::CAFILE,  &keys::OTHERLINES,
    &keys::TMINT,  &keys::SPC_PREV, &keys::SPC_NEXT, &keys::HOST2IP, &keys::LISTMAX,
    &keys::MASK,   &keys::CHARBF,   &keys::CHARAF,   &keys::LINESEP, &keys::PERLINE,
    &keys::MERGE,
};

void AddKey(std::string& text, std::string_view what, std::string_view field, std::string_view name,
            std::string_view value) {
  text += "; " + std::string(what) + " [" +
          (field.empty() ? std::string("edited here only") : std::string(field)) + "]\n";
  text += std::string(name) + "=" + std::string(value) + "\n";
}

std::string_view KindOf(const ListSource& source) {
  return source.group == ListGroup::kProxy ? "proxy list" : "overseas list";
}

void AddListKeys(std::string& text, const ListSource& source) {
  const std::string name(source.name);
  const std::string placeholder = ": a placeholder until you set the list you use";
  if (source.group != ListGroup::kCountry) {
    AddKey(text,
           "1 fetches the " + name + " " + std::string(KindOf(source)) + " from " +
               std::string(source.urlKey) + ", 0 leaves it out",
           kListOnOffField, source.modeKey, std::to_string(source.defaultMode));
    AddKey(text, "the " + name + " " + std::string(KindOf(source)) + "'s address" + placeholder,
           kListDialogField, source.urlKey, DefaultListAddress(source.defaultFile));
    return;
  }
  AddKey(text,
         name + ": 1 uses its allow list (" + std::string(source.urlKey) + "), 2 its deny list (" +
             std::string(source.denyUrlKey) + "), 0 neither",
         kCountryModeField, source.modeKey, std::to_string(source.defaultMode));
  AddKey(text, name + "'s allow list, allow from lines" + placeholder, kListDialogField,
         source.urlKey, DefaultListAddress(source.defaultFile));
  AddKey(text, name + "'s deny list, deny from lines" + placeholder, kListDialogField,
         source.denyUrlKey, DefaultListAddress(source.defaultDenyFile));
}

struct SampleFile {
  std::filesystem::path path;
  std::string text;
  bool secret;  // holds the password once filled in: readable by its owner only
};

std::vector<SampleFile> SampleFiles() {
  return {{NativePath(kSettingsFile), SampleSettingsText(), true},
          {NativePath(kHeadFile), std::string(kHeadSample), false},
          {NativePath(kTailFile), std::string(kTailSample), false}};
}

std::string WriteFile(const SampleFile& file) {
  std::string error;
  std::optional<AtomicFile> out = file.secret ? AtomicFile::OpenPrivate(file.path, error)
                                              : AtomicFile::Open(file.path, error, 0644);
  if (!out || !out->Write(file.text) || !out->Commit(error)) {
    return error.empty() ? "cannot write " + file.path.string() : error;
  }
  return {};
}

std::string CurrentFolder() {
  std::error_code ignored;
  return std::filesystem::current_path(ignored).string();
}

}  // namespace

std::string SampleSettingsText() {
  std::string text(kSettingsHeader);
  for (const std::string_view section : kSections) {
    text += "\n[" + std::string(section) + "]\n";
    for (const SettingKey* key : kOwnKeys) {
      if (key->section == section) {
        AddKey(text, key->what, key->field, key->name, key->fallback);
      }
    }
    for (const ListSource& source : kListSources) {
      if (SectionOf(source) == section) {
        AddListKeys(text, source);
      }
    }
  }
  return text;
}

std::string WriteSampleFiles() {
  if (std::string unsafe = WhyUnsafeWorkingFolder(); !unsafe.empty()) {
    return unsafe;
  }
  const std::vector<SampleFile> files = SampleFiles();
  for (const SampleFile& file : files) {
    if (NameTaken(file.path)) {
      return file.path.filename().string() + " already exists in " + CurrentFolder() +
             "; --init writes over no file, so none was written";
    }
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (std::string why = WriteFile(files[i]); !why.empty()) {
      for (std::size_t written = 0; written < i; ++written) {
        std::error_code ignored;
        std::filesystem::remove(files[written].path, ignored);
      }
      return why;
    }
  }
  return {};
}

int InitWorkingFolder(std::string_view program) {
  if (const std::string why = WriteSampleFiles(); !why.empty()) {
    PrintError(program, why);
    return kExitFailed;
  }
  const std::string done = "wrote palisor.ini, add2htaccess.txt and add2htaccess2.txt in " +
                           CurrentFolder() + "\nnext: set the lists you use in " +
                           std::string(kListDialogField) + " and the server in " +
                           WhereToSet(keys::SVNAME) + ", then try palisor-update --dry-run\n";
  std::fwrite(done.data(), 1, done.size(), stdout);
  return kExitOk;
}

}  // namespace palisor
