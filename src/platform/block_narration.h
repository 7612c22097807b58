#pragma once
// Narration held in a block buffer for a long run of lines.

namespace zv {

// While it lives, narration collects in a block buffer written out when it
// fills and when the object ends, so a long run of lines (an import) is not
// one write each; the console's own buffering comes back after.
class BlockNarration {
 public:
  BlockNarration();
  ~BlockNarration();
  BlockNarration(const BlockNarration&) = delete;
  BlockNarration& operator=(const BlockNarration&) = delete;
};

// Whether a BlockNarration lives: narrate() then leaves the flushing to it.
bool narration_is_blocked();

}  // namespace zv
