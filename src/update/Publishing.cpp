#include "update/Publishing.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <utility>

#include "settings/SettingKeys.h"
#include "update/ListLines.h"

namespace palisor {
namespace {

using namespace std::chrono_literals;

// Apache never serves a name that begins with ".ht", so the bytes on their way are never
// served as a page, and a leftover of an ended run is overwritten by the next one.
constexpr std::string_view kTemporaryPrefix = ".htpalisor-";

// A temporary file left behind is harmless and the next upload writes over it, so removing
// it is tried only briefly; after the user ended the program, more briefly still.
constexpr std::chrono::milliseconds kTidyLimit = 10s;
constexpr std::chrono::milliseconds kTidyLimitWhenEnding = 500ms;

// How many of the site owner's own lines a refusal quotes.
constexpr std::size_t kOwnerLinesShown = 3;

bool IsServerError(long status) {
  return status >= 500 && status <= 599;
}

// Whether the live file is there, as far as the server told.
enum class Presence { kPresent, kAbsent, kUnknown };

// The previous file's bytes, none when the server said there was no file, or why it could
// not be read.
using Previous = Result<std::optional<std::string>>;

// What is to replace `live`: a kept version put back goes as it is; the generated file goes
// by the rule for the site owner's lines.
Result<Composed> ComposeFor(const Publication& publication, const History& history,
                            const std::optional<std::string>& live) {
  if (publication.restoring) {
    return ComposeUpload(live, std::nullopt, publication.bytes, OtherLines::kReplace, {});
  }
  Result<std::optional<std::string>> published = history.LastPublished();
  if (!published.ok()) {
    return published.Without<Composed>();
  }
  return ComposeUpload(live, published.value, publication.bytes, publication.otherLines,
                       publication.lineEnd);
}

// One publication's conversation with the server and the site.
class Publisher final {
 public:
  Publisher(const Publication& publication, FileSession& session, History& history,
            const SiteCheck& check, std::vector<std::string>& warnings, const KeepGoing& keepGoing)
      : publication_(publication),
        session_(session),
        history_(history),
        check_(check),
        warnings_(warnings),
        keepGoing_(keepGoing),
        temporary_(publication.target.Beside(std::string(kTemporaryPrefix) +
                                             publication.target.name + ".new")),
        aside_(publication.target.Beside(std::string(kTemporaryPrefix) + publication.target.name +
                                         ".old")),
        failed_(UploadFailure(publication.source)) {}

  Result<Published> Run() {
    const Result<> in = session_.Connect(keepGoing_);
    Heard();
    if (!in.ok()) {
      // Nothing was sent, and a refused login is not tried again for the clean-up.
      return Finished(Ended(in));
    }
    Result<Published> published = Replace();
    Heard();
    return published;
  }

 private:
  using Done = Result<Published>;

  Done Replace() {
    Previous live = session_.Read(publication_.target, keepGoing_);
    if (live.outcome == Outcome::kAbandoned) {
      return Done::Abandoned();
    }
    Result<Composed> composed =
        ComposeFor(publication_, history_, live.ok() ? live.value : std::nullopt);
    if (!composed.ok()) {
      return Done::Failed(failed_ + composed.error);
    }
    if (live.ok() && live.value) {
      if (Done kept = KeepLive(*live.value, composed.value); !kept.ok() || composed.value.mustAsk) {
        return kept;
      }
      if (*live.value == composed.value.bytes) {
        RecordPublished();
        done_.unchanged = true;
        return Done::Ok(done_);
      }
    }
    if (const Result<> sent = session_.Store(temporary_, composed.value.bytes, keepGoing_);
        !sent.ok()) {
      return Finished(GiveUp(sent));
    }
    if (!live.ok()) {
      // The temporary file now shows whether the server's listings would show the live one.
      Result<Previous> known = LiveAfterRefusedRead(live.error);
      if (!known.ok()) {
        return Finished(GiveUp(known.Without()));
      }
      live = std::move(known.value);
    }
    StageResult placed = check_ ? PublishChecked(std::move(live)) : Place();
    if (!placed.ok()) {
      return Finished(placed);
    }
    RecordPublished();
    return Done::Ok(done_);
  }

  // A step's end, with what the publication did so far.
  Done Finished(const StageResult& step) const { return {step.outcome, step.error, done_}; }

  // The live file is kept before anything can replace it, and before a refusal, so that the
  // reason can point at it. An unchanged file replaces nothing and is not kept again.
  Done KeepLive(const std::string& live, const Composed& composed) {
    if (live == composed.bytes) {
      return Done::Ok(done_);
    }
    Result<std::filesystem::path> kept = history_.Keep(live, std::chrono::system_clock::now());
    if (!kept.ok()) {
      return Done::Failed(failed_ +
                          "the live file could not be kept, so it was not replaced: " + kept.error);
    }
    done_.keptAs = std::move(kept.value);
    if (composed.mustAsk) {
      done_.ownerLinesRefused = composed.ownerLines.size();
      return {Outcome::kFailed, failed_ + OwnerLinesReason(composed.ownerLines), done_};
    }
    return Done::Ok(done_);
  }

  std::string OwnerLinesReason(const std::vector<std::string>& lines) const {
    std::string reason = "the live file holds " + std::to_string(lines.size()) + " line" +
                         (lines.size() == 1 ? "" : "s") + " of its own that Palisor did not write";
    for (std::size_t i = 0; i < lines.size() && i < kOwnerLinesShown; ++i) {
      reason += (i == 0 ? " (" : ", ") + QuoteLine(lines[i]);
    }
    reason += lines.size() > kOwnerLinesShown ? ", ...)" : ")";
    return reason + "; nothing was sent, and the file is kept as " + done_.keptAs.string() +
           ". Choose in " + WhereToSet(keys::OTHERLINES) +
           ": keep (Palisor then writes only between \"" + std::string(kBlockBegin) + "\" and \"" +
           std::string(kBlockEnd) +
           "\" and leaves the rest) or replace (the whole file is replaced)";
  }

  // A refused read proves nothing; a listing that shows this run's temporary file but not
  // the live one does. A live file listed but unreadable cannot be kept, so it stays; one the
  // server neither shows nor gives is taken for absent, with a warning, and cannot be put
  // back after a bad check.
  Result<Previous> LiveAfterRefusedRead(const std::string& readError) {
    using Known = Result<Previous>;
    switch (LivePresence(keepGoing_)) {
      case Presence::kAbsent:
        return Known::Ok(Previous::Ok(std::nullopt));
      case Presence::kPresent:
        return Known::Failed(
            "the live file cannot be read, so it could not be kept and was not "
            "replaced: " +
            readError);
      case Presence::kUnknown:
        break;
    }
    if (!keepGoing_()) {
      return Known::Abandoned();
    }
    warnings_.push_back("the server neither showed nor would give " + publication_.where +
                        ", so no copy of a previous file could be kept: " + readError);
    return Known::Ok(Previous::Failed("reading " + publication_.where + " failed: " + readError));
  }

  void RecordPublished() {
    if (publication_.restoring) {
      return;
    }
    if (const Result<> recorded = history_.RecordPublished(publication_.bytes); !recorded.ok()) {
      warnings_.push_back(
          "what was published could not be recorded, so the next run may ask "
          "about lines it wrote itself: " +
          recorded.error);
    }
  }

 private:
  std::string UploadFailure(const std::string& source) const {
    return "upload of " + source + " to " + publication_.where + " failed: ";
  }

  void Heard() {
    for (std::string& note : session_.TakeNotes()) {
      warnings_.push_back(std::move(note));
    }
  }

  StageResult Ended(const Result<>& step) const {
    if (step.outcome == Outcome::kAbandoned) {
      return StageResult::Abandoned();
    }
    return StageResult::Failed(failed_ + step.error);
  }

  // Ends without the new file live; the temporary file goes where the server can be reached.
  StageResult GiveUp(const Result<>& step) {
    const bool ending = step.outcome == Outcome::kAbandoned;
    session_.LimitEachStep(ending ? kTidyLimitWhenEnding : kTidyLimit);
    static_cast<void>(session_.Delete(temporary_, ending ? KeepGoing{} : keepGoing_));
    return Ended(step);
  }

  // Renames the temporary file over the live one.
  StageResult Place() {
    const Result<> renamed = session_.Rename(temporary_, publication_.target.name, keepGoing_);
    if (renamed.outcome == Outcome::kFailed) {
      return ReplaceInTwoSteps();  // a server that will not rename over a file
    }
    return renamed.ok() ? StageResult::Ok() : GiveUp(renamed);
  }

  // The live file is moved aside, the new one renamed into its place and the old one deleted.
  StageResult ReplaceInTwoSteps() {
    const ServerPath& target = publication_.target;
    if (const Result<> cleared = session_.Delete(aside_, keepGoing_);
        cleared.outcome == Outcome::kAbandoned) {
      return GiveUp(cleared);
    }
    if (const Result<> moved = session_.Rename(target, aside_.name, keepGoing_); !moved.ok()) {
      return Recover(moved, false);
    }
    if (const Result<> placed = session_.Rename(temporary_, target.name, keepGoing_);
        !placed.ok()) {
      return Recover(placed, true);
    }
    static_cast<void>(session_.Delete(aside_, keepGoing_));  // a leftover is harmless
    return StageResult::Ok();
  }

  // After a failed step of the two, the live name must hold a file before anything is
  // deleted: the old one moved back, or else the new one put in place. A failed move aside
  // moved nothing unless the server shows otherwise. This is heard even after the user ended
  // the program.
  StageResult Recover(const Result<>& failure, bool movedAside) {
    const ServerPath& target = publication_.target;
    const Presence live = LivePresence(KeepGoing{});
    if (live == Presence::kPresent || (live == Presence::kUnknown && !movedAside) ||
        session_.Rename(aside_, target.name, {}).ok()) {
      return GiveUp(failure);
    }
    if (session_.Rename(temporary_, target.name, {}).ok()) {
      static_cast<void>(session_.Delete(aside_, {}));
      return failure.outcome == Outcome::kAbandoned ? StageResult::Abandoned() : StageResult::Ok();
    }
    const std::string why =
        failure.outcome == Outcome::kAbandoned ? "the rename was abandoned" : failure.error;
    // Without the server's word the files may also be where they were.
    const bool known = live == Presence::kAbsent;
    return StageResult::Failed(failed_ + why + "; the site is " + (known ? "" : "perhaps ") +
                               "left without " + JoinPath(target) + ": the previous file " +
                               (known ? "waits" : "may wait") + " as " + JoinPath(aside_) +
                               " and the new one as " + JoinPath(temporary_));
  }

  // A listing that shows one of this run's own names shows hidden names, so a live file
  // missing from it is absent indeed.
  Presence LivePresence(const KeepGoing& keepGoing) {
    const Result<std::vector<std::string>> listed =
        session_.List(publication_.target.folder, keepGoing);
    if (!listed.ok()) {
      return Presence::kUnknown;
    }
    const auto holds = [&listed](const std::string& name) {
      return std::find(listed.value.begin(), listed.value.end(), name) != listed.value.end();
    };
    if (holds(publication_.target.name)) {
      return Presence::kPresent;
    }
    return holds(temporary_.name) || holds(aside_.name) ? Presence::kAbsent : Presence::kUnknown;
  }

  // The site is asked before the rename and again after it; `previous` is the live file as it
  // was (none: the server showed there was none), or why that is not known.
  StageResult PublishChecked(Previous previous) {
    const Result<long> before = check_(keepGoing_);
    if (before.outcome == Outcome::kAbandoned) {
      return GiveUp(Result<>::Abandoned());
    }
    if (StageResult placed = Place(); !placed.ok()) {
      return placed;
    }
    const Result<long> after = check_(keepGoing_);
    if (after.outcome == Outcome::kAbandoned) {
      return StageResult::Abandoned();
    }
    if (!after.ok()) {
      warnings_.push_back("the site could not be checked with the new file, which stays: " +
                          after.error);
      return StageResult::Ok();
    }
    if (!IsServerError(after.value)) {
      return StageResult::Ok();
    }
    if (before.ok() && after.value == before.value) {
      warnings_.push_back("the site answered " + std::to_string(after.value) +
                          " before and after the upload; the new file stays");
      return StageResult::Ok();
    }
    return RollBack(std::move(previous), after.value);
  }

  StageResult RollBack(Previous previous, long status) {
    const std::string answered =
        "the site answered " + std::to_string(status) + " with the new file; ";
    if (!previous.ok()) {
      return StageResult::Failed(
          answered + "it stays, as the previous file could not be read: " + previous.error);
    }
    if (previous.value) {
      failed_ = UploadFailure("the previous file");
      const Result<> stored = session_.Store(temporary_, *previous.value, keepGoing_);
      return Undone(stored.ok() ? Place() : GiveUp(stored),
                    answered + "the previous file was put back",
                    answered + "putting the previous file back failed: ");
    }
    Result<> removed = session_.Delete(publication_.target, keepGoing_);
    if (removed.outcome == Outcome::kFailed) {
      removed.error = "deleting " + publication_.where + " failed: " + removed.error;
    }
    return Undone(removed, answered + "the new file was removed, as there was none before",
                  answered + "removing it failed: ");
  }

  static StageResult Undone(const StageResult& undo, std::string done, std::string failed) {
    switch (undo.outcome) {
      case Outcome::kOk:
        return StageResult::Failed(std::move(done));
      case Outcome::kAbandoned:
        return StageResult::Abandoned();
      case Outcome::kFailed:
        break;
    }
    return StageResult::Failed(std::move(failed) + undo.error);
  }

  const Publication& publication_;
  FileSession& session_;
  History& history_;
  const SiteCheck& check_;
  std::vector<std::string>& warnings_;
  const KeepGoing& keepGoing_;
  const ServerPath temporary_;
  const ServerPath aside_;
  std::string failed_;  // how a failed upload begins its reason
  Published done_;
};

}  // namespace

Result<Published> Publish(const Publication& publication, FileSession& session, History& history,
                          const SiteCheck& check, std::vector<std::string>& warnings,
                          const KeepGoing& keepGoing) {
  return Publisher(publication, session, history, check, warnings, keepGoing).Run();
}

Result<PublishPreview> PreviewPublish(const Publication& publication, FileSession& session,
                                      const History& history, const KeepGoing& keepGoing) {
  using Preview = Result<PublishPreview>;
  if (const Result<> in = session.Connect(keepGoing); !in.ok()) {
    return in.Without<PublishPreview>();
  }
  PublishPreview preview;
  Result<std::optional<std::string>> live = session.Read(publication.target, keepGoing);
  if (live.outcome == Outcome::kAbandoned) {
    return Preview::Abandoned();
  }
  if (live.ok()) {
    preview.live = std::move(live.value);
  } else {
    preview.unreadable = live.error;
  }
  Result<Composed> composed = ComposeFor(publication, history, preview.live);
  if (!composed.ok()) {
    return composed.Without<PublishPreview>();
  }
  preview.composed = std::move(composed.value);
  return Preview::Ok(std::move(preview));
}

}  // namespace palisor
