#pragma once
// Several statements on the library's connection that take effect together
// or not at all.

namespace zv {

class LibraryTransaction {
 public:
  // Connects when needed and stops committing each statement by itself.
  LibraryTransaction();
  // Rolls back what was not committed; each statement commits by itself again.
  ~LibraryTransaction();
  LibraryTransaction(const LibraryTransaction&) = delete;
  LibraryTransaction& operator=(const LibraryTransaction&) = delete;

  bool started() const { return connection_ != nullptr; }
  // True when everything since the start is in the library.
  bool commit();

 private:
  void* connection_ = nullptr;  // the library's one connection, while begun
  bool committed_ = false;
  bool immediate_ = false;  // begun and ended by SQLite's own statements
};

}  // namespace zv
