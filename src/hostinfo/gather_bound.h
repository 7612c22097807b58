#pragma once
// What gathering for one request (listings, imports) may take: it ends at the
// request's deadline, and before the form body outgrows its bound. The
// connection handler sets the bound for the request; the folder walk asks it
// before each entry, and once it says stop the walk ends and the script runs
// with what was gathered.

#include <chrono>
#include <cstddef>

namespace zv {

inline constexpr std::size_t FORM_BODY_BOUND = std::size_t{64} << 20;

// Holds the bound for gathering on this thread while it lives; without one
// nothing is bounded.
class GatherBound {
 public:
  explicit GatherBound(std::chrono::steady_clock::time_point deadline, std::size_t bytes = FORM_BODY_BOUND);
  ~GatherBound();
  GatherBound(const GatherBound&) = delete;
  GatherBound& operator=(const GatherBound&) = delete;

 private:
  friend bool gathering_must_stop(std::size_t);
  std::chrono::steady_clock::time_point deadline_;
  std::size_t bytes_;
  bool stopped_ = false;
};

// True once the request's time is up or `gathered` bytes reach the bound; the
// console says so the first time.
bool gathering_must_stop(std::size_t gathered);

}  // namespace zv
