#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace palisor {

// Reads one of the user's own text files line by line through one reusable buffer: a CR or a
// CR LF ends a line, a lone LF stays inside it. A last line without a line end is a line
// too; an empty file has no lines.
class LineReader final {
 public:
  enum class Result { kLine, kEnd, kError };

  // Fails, with errno in `error`, when the file cannot be opened or is a directory.
  static std::optional<LineReader> Open(const std::filesystem::path& path, int& error,
                                        std::size_t chunkSize = 1 << 16);

  LineReader(LineReader&& other) noexcept;
  LineReader& operator=(LineReader&&) = delete;
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  ~LineReader();

  // The next line without its line end; the view stays valid until the next call.
  Result Next(std::string_view& line);
  int error() const { return error_; }

 private:
  LineReader(int fd, std::size_t chunkSize);
  std::size_t FindLineEnd(std::string_view data, std::size_t from) const;
  // Moves the unread bytes to the front and reads more; `scanFrom` follows the move.
  bool Fill(std::size_t& scanFrom);

  int fd_ = -1;
  std::size_t chunkSize_;
  std::string buffer_;
  std::size_t begin_ = 0;  // first unread byte
  std::size_t end_ = 0;    // end of the bytes read so far
  bool atEof_ = false;
  int error_ = 0;
};

}  // namespace palisor
