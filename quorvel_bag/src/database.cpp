#include "database.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <system_error>

#include <sqlite3.h>

namespace quorvel_bag
{
namespace detail
{

namespace
{

constexpr int kBusyTimeoutMs = 2000;

std::uint32_t big_endian(const unsigned char * p, std::size_t n)
{
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < n; ++i) {
    value = (value << 8) | p[i];
  }
  return value;
}

}  // namespace

SqliteError::SqliteError(const std::string & message, int code, int system_errno)
    : std::runtime_error(message), code_(code), system_errno_(system_errno)
{
}

bool SqliteError::disk_full() const
{
  return (code_ & 0xff) == SQLITE_FULL ||
         ((code_ & 0xff) == SQLITE_IOERR && (system_errno_ == ENOSPC || system_errno_ == EDQUOT));
}

Database::Database(const std::filesystem::path & file, Mode mode)
{
  int flags = SQLITE_OPEN_NOMUTEX;
  switch (mode) {
    case Mode::kReadOnly:
      flags |= SQLITE_OPEN_READONLY;
      break;
    case Mode::kCreate: {
      std::error_code ec;
      if (std::filesystem::exists(file, ec)) {
        throw SqliteError(file.filename().string() + " already exists", SQLITE_CANTOPEN, 0);
      }
      flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
      break;
    }
  }
  const int rc = sqlite3_open_v2(file.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    const std::string text = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    const int err = db_ != nullptr ? sqlite3_system_errno(db_) : 0;
    sqlite3_close(db_);
    db_ = nullptr;
    throw SqliteError("cannot open " + file.filename().string() + ": " + text, rc, err);
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
}

Database::~Database()
{
  // Statements are finalised by their owners first; close_v2 copes with stragglers.
  sqlite3_close_v2(db_);
}

void Database::throw_error(const std::string & what, int code) const
{
  throw SqliteError(what + ": " + sqlite3_errmsg(db_), code, sqlite3_system_errno(db_));
}

void Database::keep_wal_on_close()
{
  int set = 0;
  sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, &set);
}

void Database::exec(const std::string & sql)
{
  char * message = nullptr;
  const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    const std::string text = message != nullptr ? message : sqlite3_errstr(rc);
    sqlite3_free(message);
    throw SqliteError(text, sqlite3_extended_errcode(db_), sqlite3_system_errno(db_));
  }
}

bool Database::has_table(const std::string & name)
{
  Statement query(*this, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1");
  query.bind(1, name);
  return query.step();
}

bool Database::has_column(const std::string & table, const std::string & column)
{
  Statement query(*this, "SELECT 1 FROM pragma_table_info(?1) WHERE name = ?2");
  query.bind(1, table);
  query.bind(2, column);
  return query.step();
}

Statement::Statement(Database & db, const std::string & sql) : db_(db)
{
  const int rc = sqlite3_prepare_v2(db.handle(), sql.c_str(), -1, &stmt_, nullptr);
  if (rc != SQLITE_OK) {
    db.throw_error("cannot prepare '" + sql + "'", rc);
  }
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

void Statement::bind(int index, std::int64_t value)
{
  const int rc = sqlite3_bind_int64(stmt_, index, value);
  if (rc != SQLITE_OK) {
    db_.throw_error("cannot bind a value", rc);
  }
}

void Statement::bind(int index, const std::string & value)
{
  const int rc = sqlite3_bind_text(
      stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) {
    db_.throw_error("cannot bind a value", rc);
  }
}

void Statement::bind_blob(int index, const void * data, std::size_t size)
{
  // A zero-length blob must still be a blob, not NULL (the column is NOT NULL).
  const int rc = size == 0 ? sqlite3_bind_zeroblob(stmt_, index, 0)
                           : sqlite3_bind_blob64(stmt_, index, data, size, SQLITE_STATIC);
  if (rc != SQLITE_OK) {
    db_.throw_error("cannot bind a value", rc);
  }
}

bool Statement::step()
{
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) {
    return true;
  }
  if (rc == SQLITE_DONE) {
    return false;
  }
  const int code = sqlite3_extended_errcode(db_.handle());
  const std::string text = sqlite3_errmsg(db_.handle());
  const int err = sqlite3_system_errno(db_.handle());
  sqlite3_reset(stmt_);
  throw SqliteError(text, code, err);
}

void Statement::reset() { sqlite3_reset(stmt_); }

std::int64_t Statement::column_int64(int column) const
{
  return sqlite3_column_int64(stmt_, column);
}

std::string Statement::column_text(int column) const
{
  const auto * text = sqlite3_column_text(stmt_, column);
  const int size = sqlite3_column_bytes(stmt_, column);
  return text != nullptr ? std::string(reinterpret_cast<const char *>(text), size) : std::string();
}

const void * Statement::column_blob(int column) const { return sqlite3_column_blob(stmt_, column); }

std::size_t Statement::column_bytes(int column) const
{
  return static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column));
}

void check_database_file(const std::filesystem::path & file)
{
  const std::string name = file.filename().string();
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (ec) {
    throw std::runtime_error(name + " cannot be read: " + ec.message());
  }
  unsigned char header[100];
  std::ifstream in(file, std::ios::binary);
  if (size < sizeof header || !in.read(reinterpret_cast<char *>(header), sizeof header) ||
      std::memcmp(header, "SQLite format 3", 16) != 0) {
    throw std::runtime_error(name + " is not an SQLite database");
  }
  std::uint32_t page_size = big_endian(header + 16, 2);
  if (page_size == 1) {
    page_size = 65536;
  }
  if (page_size < 512 || page_size > 65536 || (page_size & (page_size - 1)) != 0) {
    throw std::runtime_error(name + " is not an SQLite database (bad page size)");
  }
  // A -wal file with frames holds newer versions of pages, and possibly pages beyond the end of
  // the main file: after a recorder died in the middle of a checkpoint, the header of the main
  // file may already count pages that only the WAL has. SQLite checks the frames itself.
  const std::uintmax_t wal_size = std::filesystem::file_size(file.string() + "-wal", ec);
  if (!ec && wal_size > 32) {
    return;
  }
  if (size % page_size != 0) {
    throw std::runtime_error(
        name + " is truncated: " + std::to_string(size) + " bytes is not a whole number of " +
        std::to_string(page_size) + "-byte pages");
  }
  // The page count in the header is valid only when its check number matches the change
  // counter (SQLite's file format, offsets 24, 28 and 92).
  const std::uint32_t change_counter = big_endian(header + 24, 4);
  const std::uint32_t pages = big_endian(header + 28, 4);
  const std::uint32_t valid_for = big_endian(header + 92, 4);
  if (pages != 0 && valid_for == change_counter &&
      static_cast<std::uintmax_t>(pages) * page_size > size) {
    throw std::runtime_error(
        name + " is truncated: it has " + std::to_string(size / page_size) + " of its " +
        std::to_string(pages) + " pages");
  }
}

}  // namespace detail
}  // namespace quorvel_bag
