#include "update/RunLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/AtomicFile.h"
#include "platform/OwnFiles.h"
#include "platform/Paths.h"

namespace palisor {
namespace {

constexpr std::string_view kInterrupted = "interrupted; the output file was left as it was";
constexpr std::string_view kInterruptedWritten =
    "interrupted after the output file was written, before any upload";
// By the upload the output file has been replaced; only the site's copy is in doubt.
constexpr std::string_view kInterruptedSending =
    "interrupted while sending; the output file was written, the upload may not have finished";

std::string_view InterruptedReason(const RunReport& report) {
  if (!report.outputWritten) {
    return kInterrupted;
  }
  return report.stage && report.stage->stage == Stage::kSending ? kInterruptedSending
                                                                : kInterruptedWritten;
}

// Keeps the newer half of the log, cut at a line end, and replaces the file with it.
std::string DropOlderHalf(const std::filesystem::path& file, const OwnFile& log) {
  std::string kept;
  if (::lseek(log.fd.get(), log.info.st_size / 2, SEEK_SET) < 0 || !ReadToEnd(log.fd.get(), kept)) {
    return DescribeError(file, errno);
  }
  const std::size_t lineEnd = kept.find('\n');
  kept.erase(0, lineEnd == std::string::npos ? kept.size() : lineEnd + 1);
  std::string error;
  auto replacement = AtomicFile::Open(file, error, 0600);
  if (!replacement || !replacement->Write(kept) || !replacement->Commit(error)) {
    return error.empty() ? "cannot write " + file.string() : error;
  }
  return {};
}

Result<OwnFile> OpenLog(const std::filesystem::path& file) {
  return OpenOwnFile(file, O_RDWR | O_APPEND | O_CREAT);
}

std::string StageText(const RunReport& report) {
  return report.stage ? std::string(StageName(*report.stage)) : std::string();
}

}  // namespace

std::string_view OutcomeName(const RunReport& report) {
  switch (report.outcome) {
    case Outcome::kOk:
      return report.nothingToDo ? "nothing to do" : "ok";
    case Outcome::kFailed:
      return report.anotherRunning ? "skipped" : "failed";
    case Outcome::kAbandoned:
      break;
  }
  return "abandoned";
}

std::string OneLine(std::string_view text) {
  std::string line(text);
  for (char& c : line) {
    if (c == '\n' || c == '\r') {
      c = ' ';
    }
  }
  return line;
}

std::string RunReason(const RunReport& report) {
  switch (report.outcome) {
    case Outcome::kOk:
      return {};
    case Outcome::kAbandoned:
      return std::string(InterruptedReason(report));
    case Outcome::kFailed:
      break;
  }
  return OneLine(report.error.empty() ? "the run failed at \"" + StageText(report) + "\""
                                      : report.error);
}

std::string LocalTimeText(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[40];
  return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local));
}

std::string RunLogLine(const RunReport& report, std::string_view localTime) {
  std::string line(localTime);
  line += "  ";
  line += OutcomeName(report);
  line += "  stage: " + (report.stage ? OneLine(StageText(report)) : std::string("-"));
  if (const std::string reason = RunReason(report); !reason.empty()) {
    line += "  reason: " + reason;
  }
  line += "  lines written: " + std::to_string(report.linesWritten);
  for (const std::string& note : PublishingNotes(report)) {
    line += "  " + note;
  }
  for (const auto& skipped : report.skipped) {
    line += "  skipped from " + OneLine(skipped.list) + ": " + std::to_string(skipped.count);
  }
  for (const auto& warning : report.warnings) {
    line += "  warning: " + OneLine(warning);
  }
  return line;
}

std::string AppendRunLog(const std::filesystem::path& file, std::string_view line,
                         std::uintmax_t limit) {
  Result<OwnFile> log = OpenLog(file);
  if (log.ok() && static_cast<std::uintmax_t>(log.value.info.st_size) + line.size() + 1 > limit) {
    if (std::string why = DropOlderHalf(file, log.value); !why.empty()) {
      return why;
    }
    log = OpenLog(file);
  }
  if (!log.ok()) {
    return log.error;
  }
  // One write with O_APPEND, so lines of two programs in one folder never interleave.
  std::string bytes(line);
  bytes += '\n';
  const ssize_t written = ::write(log.value.fd.get(), bytes.data(), bytes.size());
  if (written == static_cast<ssize_t>(bytes.size())) {
    return {};
  }
  return DescribeError(file, written >= 0 ? ENOSPC : errno);  // a short write: the disk is full
}

std::string RecordRun(const RunReport& report) {
  // Where others may plant files, nothing is written, the log included.
  if (std::string unsafe = WhyUnsafeWorkingFolder(); !unsafe.empty()) {
    return unsafe;
  }
  return AppendRunLog(kRunLogFile,
                      RunLogLine(report, LocalTimeText(std::chrono::system_clock::now())));
}

}  // namespace palisor
