#include "fault_log.h"

#include <algorithm>
#include <cstdio>

namespace zv::player {

namespace {

// The banner keeps this many; the record keeps every one.
constexpr std::size_t FAULTS_KEPT = 20;

constexpr const char* KIND_NAMES[] = {"not_running", "device", "skipped", "silent", "stream"};

}  // namespace

const char* fault_kind_name(FaultKind kind) { return KIND_NAMES[static_cast<int>(kind)]; }

std::optional<FaultKind> fault_kind_named(std::string_view name) {
  for (int kind = 0; kind < static_cast<int>(std::size(KIND_NAMES)); ++kind) {
    if (name == KIND_NAMES[kind]) return static_cast<FaultKind>(kind);
  }
  return std::nullopt;
}

FaultLog::FaultLog(std::function<void(const Fault&)> record, std::function<std::int64_t()> new_key)
    : record_(std::move(record)), new_key_(std::move(new_key)) {}

bool FaultLog::open(FaultKind kind, std::string text, std::int64_t started, std::int64_t now) {
  if (kind != FaultKind::skipped && lasts(kind)) return false;
  // The saved state and the record are one fault a line.
  std::replace_if(
      text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  std::printf("Fault: %s\n", text.c_str());
  faults_.push_back({"f" + std::to_string(new_key_()) + "-" + std::to_string(started), kind, std::move(text), started});
  record_(faults_.back());
  if (kind == FaultKind::skipped) {
    faults_.back().ended = std::max(now, started);
    record_(faults_.back());
  }
  if (faults_.size() > FAULTS_KEPT) faults_.pop_front();
  return true;
}

void FaultLog::pass(FaultKind kind, std::int64_t now) {
  for (Fault& fault : faults_) {
    if (fault.kind != kind || fault.ended != 0) continue;
    fault.ended = std::max(now, fault.started);
    if (kind != FaultKind::not_running) std::printf("Fault passed: %s\n", fault.text.c_str());
    record_(fault);
  }
  forget_seen();
}

void FaultLog::seen(std::string_view key) {
  for (Fault& fault : faults_) fault.seen = fault.seen || fault.key == key;
  forget_seen();
}

bool FaultLog::lasts(FaultKind kind) const {
  return std::any_of(faults_.begin(), faults_.end(),
                     [kind](const Fault& fault) { return fault.kind == kind && fault.ended == 0; });
}

void FaultLog::forget_seen() {
  std::erase_if(faults_, [](const Fault& fault) { return fault.seen && fault.ended != 0; });
}

}  // namespace zv::player
