#pragma once

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/FileSession.h"

namespace palisor::test {

// A file server in memory that plays a script: which renames it allows, what its listings
// show, and which of its steps go wrong. Every step is logged as "<step> <name> [<name>]".
class ScriptedSession final : public FileSession {
 public:
  enum class Fault {
    kRefused,  // this step fails, the server stays reachable
    kGone,     // this step and every later one fail: the server can no longer be reached
    kStopped,  // the user ends the program during this step
  };
  struct Trouble {
    std::string step;  // as logged
    int occurrence = 1;
    Fault fault = Fault::kRefused;
  };
  struct Script {
    bool renamesOverFiles = true;
    bool listsHiddenNames = true;
    bool saysNoSuchFile = false;  // as SFTP does; an FTP server's refusal says no more
    bool refusesLogin = false;
    std::vector<Trouble> troubles;
  };

  ScriptedSession(Script script, std::string folder)
      : script_(std::move(script)), folder_(std::move(folder)) {}

  // The server's files in the folder, by name.
  std::map<std::string, std::string> files;
  std::vector<std::string> log;
  std::vector<std::string> notes;

  Result<> Connect(const KeepGoing&) override {
    if (Result<> troubled = Step("connect"); !troubled.ok()) {
      return troubled;
    }
    return script_.refusesLogin ? Result<>::Failed("530 Login incorrect.") : Result<>::Ok();
  }
  Result<std::optional<std::string>> Read(const ServerPath& file, const KeepGoing&) override {
    using Read = Result<std::optional<std::string>>;
    if (Result<> troubled = Step("read " + Name(file)); !troubled.ok()) {
      return troubled.Without<std::optional<std::string>>();
    }
    const auto found = files.find(file.name);
    if (found != files.end()) {
      return Read::Ok(found->second);
    }
    return script_.saysNoSuchFile ? Read::Ok(std::nullopt) : Read::Failed("550 No such file.");
  }
  Result<> Store(const ServerPath& file, std::string_view bytes, const KeepGoing&) override {
    Result<> troubled = Step("store " + Name(file));
    if (troubled.ok()) {
      files[file.name] = bytes;
    }
    return troubled;
  }
  Result<> Rename(const ServerPath& file, std::string_view newName, const KeepGoing&) override {
    Result<> troubled = Step("rename " + Name(file) + " " + std::string(newName));
    if (!troubled.ok()) {
      return troubled;
    }
    const auto from = files.find(file.name);
    if (from == files.end() ||
        (!script_.renamesOverFiles && files.contains(std::string(newName)))) {
      return Result<>::Failed("550 Renaming refused.");
    }
    std::string bytes = std::move(from->second);
    files.erase(from);
    files[std::string(newName)] = std::move(bytes);
    return Result<>::Ok();
  }
  Result<> Delete(const ServerPath& file, const KeepGoing&) override {
    Result<> troubled = Step("delete " + Name(file));
    if (troubled.ok() && files.erase(file.name) == 0) {
      return Result<>::Failed("550 No such file.");
    }
    return troubled;
  }
  Result<std::vector<std::string>> List(std::string_view folder, const KeepGoing&) override {
    if (Result<> troubled = Step("list " + std::string(folder)); !troubled.ok()) {
      return troubled.Without<std::vector<std::string>>();
    }
    std::vector<std::string> names;
    for (const auto& [name, bytes] : files) {
      if (script_.listsHiddenNames || !name.starts_with('.')) {
        names.push_back(name);
      }
    }
    return Result<std::vector<std::string>>::Ok(std::move(names));
  }
  void LimitEachStep(std::chrono::milliseconds) override {}
  std::vector<std::string> TakeNotes() override { return std::exchange(notes, {}); }

 private:
  // The file's name, with its folder when that is not the one the script serves.
  std::string Name(const ServerPath& file) const {
    return file.folder == folder_ ? file.name : file.folder + "/" + file.name;
  }

  Result<> Step(const std::string& step) {
    log.push_back(step);
    if (gone_) {
      return Result<>::Failed("Connection refused");
    }
    const int occurrence = static_cast<int>(std::count(log.begin(), log.end(), step));
    for (const Trouble& trouble : script_.troubles) {
      if (trouble.step != step || trouble.occurrence != occurrence) {
        continue;
      }
      switch (trouble.fault) {
        case Fault::kStopped:
          return Result<>::Abandoned();
        case Fault::kGone:
          gone_ = true;
          return Result<>::Failed("Connection died");
        case Fault::kRefused:
          break;
      }
      return Result<>::Failed("550 Permission denied.");
    }
    return Result<>::Ok();
  }

  Script script_;
  std::string folder_;
  bool gone_ = false;
};

}  // namespace palisor::test
