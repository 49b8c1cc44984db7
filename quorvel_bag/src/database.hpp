// A thin owner of an SQLite connection and its prepared statements, turning every failure into
// one exception type with SQLite's code and text.
#ifndef QUORVEL_BAG__SRC__DATABASE_HPP_
#define QUORVEL_BAG__SRC__DATABASE_HPP_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace quorvel_bag
{
namespace detail
{

/// `code` is SQLite's extended result code; what() is its text, with SQLite's message.
class SqliteError : public std::runtime_error
{
public:
  SqliteError(const std::string & message, int code, int system_errno);
  int code() const { return code_; }
  /// A write failed for want of space (SQLITE_FULL, or an I/O error with ENOSPC).
  bool disk_full() const;

private:
  int code_;
  int system_errno_;
};

/// One connection. Not thread-safe.
class Database
{
public:
  enum class Mode
  {
    kReadOnly,
    kCreate,  ///< a new file; an existing one is refused
  };

  /// Throws SqliteError.
  Database(const std::filesystem::path & file, Mode mode);
  ~Database();
  Database(const Database &) = delete;
  Database & operator=(const Database &) = delete;

  /// Runs statements without results; throws SqliteError.
  void exec(const std::string & sql);
  /// True when the schema has a table of that name.
  bool has_table(const std::string & name);
  /// True when `table` has a column of that name.
  bool has_column(const std::string & table, const std::string & column);

  /// Closing will not merge the WAL into the main file (which needs room on the disk); the
  /// committed content stays in the WAL, where every reader finds it.
  void keep_wal_on_close();

  sqlite3 * handle() const { return db_; }
  [[noreturn]] void throw_error(const std::string & what, int code) const;

private:
  sqlite3 * db_ = nullptr;
};

/// A prepared statement. Not thread-safe.
class Statement
{
public:
  /// Throws SqliteError.
  Statement(Database & db, const std::string & sql);
  ~Statement();
  Statement(const Statement &) = delete;
  Statement & operator=(const Statement &) = delete;

  void bind(int index, std::int64_t value);
  void bind(int index, const std::string & value);
  void bind_blob(int index, const void * data, std::size_t size);

  /// True when a row is ready; false at the end. Throws SqliteError.
  bool step();
  /// Ready to run again (bindings kept).
  void reset();

  std::int64_t column_int64(int column) const;
  std::string column_text(int column) const;
  const void * column_blob(int column) const;
  std::size_t column_bytes(int column) const;

private:
  Database & db_;
  sqlite3_stmt * stmt_ = nullptr;
};

/// Checks the file's SQLite header against its size before SQLite reads it, so that a truncated
/// file is refused as such instead of being read as far as it goes. Throws std::runtime_error:
/// "<name> is not an SQLite database", "<name> is truncated: ...".
void check_database_file(const std::filesystem::path & file);

}  // namespace detail
}  // namespace quorvel_bag

#endif  // QUORVEL_BAG__SRC__DATABASE_HPP_
