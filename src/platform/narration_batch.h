#pragma once
// Narration of one thread gathered between its waits.

namespace zv {

// While it lives, what this thread narrates is kept and goes out in one write
// at flush_narration() and when the object ends, each message still whole:
// a reader of the console (a pipe to the journal) is woken once per batch
// rather than once per message. A thread flushes before it waits for anything
// that may take long, so the console never lags behind what it is doing.
class NarrationBatch {
 public:
  NarrationBatch();
  ~NarrationBatch();
  NarrationBatch(const NarrationBatch&) = delete;
  NarrationBatch& operator=(const NarrationBatch&) = delete;
};

// Writes out what this thread's batch holds; nothing when none lives.
void flush_narration();

// While it lives, what this thread narrates is left out: a program that uses
// the server's library code for work of its own says only what it did.
class QuietNarration {
 public:
  QuietNarration();
  ~QuietNarration();
  QuietNarration(const QuietNarration&) = delete;
  QuietNarration& operator=(const QuietNarration&) = delete;
};

}  // namespace zv
