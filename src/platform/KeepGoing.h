#pragma once

#include <stop_token>
#include <utility>

namespace palisor {

// The stop a transfer listens for: asked between the slices the transfer waits in, and, once
// requested, waking it at once, also from a wait inside libcurl. An empty one never stops a
// transfer.
class KeepGoing final {
 public:
  KeepGoing() = default;
  explicit KeepGoing(std::stop_token stop) : stop_(std::move(stop)) {}

  bool operator()() const { return !stop_.stop_requested(); }
  explicit operator bool() const { return stop_.stop_possible(); }
  const std::stop_token& token() const { return stop_; }

 private:
  std::stop_token stop_;
};

}  // namespace palisor
