#include "bag_fixtures.hpp"

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace bag_fixtures
{

TempDir::TempDir()
{
  const char * base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/quorvel-bag-test.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  path_ = pattern;
}

TempDir::~TempDir()
{
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string humble_qos_text(int durability)
{
  return "- history: 3\n  depth: 0\n  reliability: 1\n  durability: " + std::to_string(durability) +
         "\n  deadline:\n    sec: 9223372036\n    nsec: 854775807\n  lifespan:\n"
         "    sec: 9223372036\n    nsec: 854775807\n  liveliness: 1\n"
         "  liveliness_lease_duration:\n    sec: 9223372036\n    nsec: 854775807\n"
         "  avoid_ros_namespace_conventions: false";
}

namespace
{

void check(int rc, sqlite3 * db, const std::string & what)
{
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    throw std::runtime_error(
        what + ": " + (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
  }
}

void fill_database(
    const std::filesystem::path & file,
    const std::vector<RawTopic> & topics,
    const std::vector<RawMessage> & messages,
    Journal journal)
{
  sqlite3 * db = nullptr;
  check(sqlite3_open(file.c_str(), &db), db, "open");
  const char * pragmas =
      journal == Journal::kMemory
          ? "PRAGMA journal_mode=MEMORY; PRAGMA synchronous=OFF;"
          : "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA wal_autocheckpoint=0;";
  check(sqlite3_exec(db, pragmas, nullptr, nullptr, nullptr), db, "pragmas");
  // Humble's statements, word for word as its storage plugin issues them.
  check(
      sqlite3_exec(
          db,
          "CREATE TABLE schema(schema_version INTEGER PRIMARY KEY,ros_distro TEXT NOT NULL);"
          "CREATE TABLE metadata(id INTEGER PRIMARY KEY,metadata_version INTEGER NOT NULL,"
          "metadata TEXT NOT NULL);"
          "CREATE TABLE topics(id INTEGER PRIMARY KEY,name TEXT NOT NULL,type TEXT NOT NULL,"
          "serialization_format TEXT NOT NULL,offered_qos_profiles TEXT NOT NULL);"
          "CREATE TABLE messages(id INTEGER PRIMARY KEY,topic_id INTEGER NOT NULL,"
          "timestamp INTEGER NOT NULL, data BLOB NOT NULL);"
          "CREATE INDEX timestamp_idx ON messages (timestamp ASC);"
          "INSERT INTO schema (schema_version, ros_distro) VALUES (3, 'humble');",
          nullptr,
          nullptr,
          nullptr),
      db,
      "schema");
  sqlite3_stmt * topic = nullptr;
  check(
      sqlite3_prepare_v2(
          db,
          "INSERT INTO topics (name, type, serialization_format, offered_qos_profiles) "
          "VALUES (?, ?, 'cdr', ?)",
          -1,
          &topic,
          nullptr),
      db,
      "prepare topics");
  for (const RawTopic & t : topics) {
    sqlite3_bind_text(topic, 1, t.name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(topic, 2, t.type.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(topic, 3, t.offered_qos_profiles.c_str(), -1, SQLITE_TRANSIENT);
    check(sqlite3_step(topic), db, "insert topic");
    sqlite3_reset(topic);
  }
  sqlite3_finalize(topic);
  sqlite3_stmt * insert = nullptr;
  check(
      sqlite3_prepare_v2(
          db,
          "INSERT INTO messages (timestamp, topic_id, data) VALUES (?, ?, ?)",
          -1,
          &insert,
          nullptr),
      db,
      "prepare messages");
  check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db, "begin");
  for (const RawMessage & m : messages) {
    sqlite3_bind_int64(insert, 1, m.timestamp_ns);
    sqlite3_bind_int64(insert, 2, m.topic_id);
    sqlite3_bind_blob(insert, 3, m.data.data(), static_cast<int>(m.data.size()), SQLITE_TRANSIENT);
    check(sqlite3_step(insert), db, "insert message");
    sqlite3_reset(insert);
  }
  check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
  sqlite3_finalize(insert);
  if (journal == Journal::kWalKilled) {
    // Leave as a killed process would: no checkpoint, -wal and -shm left beside the file.
    return;
  }
  sqlite3_close(db);
}

std::string metadata_text(
    const std::string & file,
    const std::vector<RawTopic> & topics,
    const std::vector<RawMessage> & messages)
{
  std::int64_t first = INT64_MAX;
  std::int64_t last = 0;
  for (const RawMessage & m : messages) {
    first = std::min(first, m.timestamp_ns);
    last = std::max(last, m.timestamp_ns);
  }
  const std::int64_t duration = messages.empty() ? 0 : last - first;
  std::ostringstream out;
  // Worded as Humble's writer words it, offered_qos_profiles in double quotes with \\n.
  out << "rosbag2_bagfile_information:\n  version: 5\n  storage_identifier: sqlite3\n"
      << "  duration:\n    nanoseconds: " << duration << "\n"
      << "  starting_time:\n    nanoseconds_since_epoch: " << first << "\n"
      << "  message_count: " << messages.size() << "\n  topics_with_message_count:\n";
  for (std::size_t i = 0; i < topics.size(); ++i) {
    std::size_t count = 0;
    for (const RawMessage & m : messages) {
      count += m.topic_id == static_cast<std::int64_t>(i + 1) ? 1 : 0;
    }
    std::string qos;
    for (const char c : topics[i].offered_qos_profiles) {
      qos += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    out << "    - topic_metadata:\n        name: " << topics[i].name
        << "\n        type: " << topics[i].type << "\n        serialization_format: cdr\n"
        << "        offered_qos_profiles: \"" << qos << "\"\n      message_count: " << count
        << "\n";
  }
  out << "  compression_format: \"\"\n  compression_mode: \"\"\n  relative_file_paths:\n"
      << "    - " << file << "\n  files:\n    - path: " << file << "\n      starting_time:\n"
      << "        nanoseconds_since_epoch: " << first << "\n      duration:\n"
      << "        nanoseconds: " << duration << "\n      message_count: " << messages.size()
      << "\n";
  return out.str();
}

}  // namespace

void make_humble_bag(
    const std::filesystem::path & dir,
    const std::vector<RawTopic> & topics,
    const std::vector<RawMessage> & messages,
    Journal journal,
    bool with_metadata)
{
  std::filesystem::create_directory(dir);
  const std::string file = dir.filename().string() + "_0.db3";
  if (journal == Journal::kWalKilled) {
    // The writer process dies with its connection open, as a recorder killed with SIGKILL.
    const pid_t child = fork();
    if (child == 0) {
      try {
        fill_database(dir / file, topics, messages, journal);
      } catch (...) {
        _exit(1);
      }
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      throw std::runtime_error("the writer process failed");
    }
  } else {
    fill_database(dir / file, topics, messages, journal);
  }
  if (with_metadata) {
    write_file(dir / "metadata.yaml", metadata_text(file, topics, messages));
  }
}

void sql(const std::filesystem::path & database, const std::string & statements)
{
  sqlite3 * db = nullptr;
  check(sqlite3_open(database.c_str(), &db), db, "open");
  char * error = nullptr;
  const int rc = sqlite3_exec(db, statements.c_str(), nullptr, nullptr, &error);
  const std::string text = error != nullptr ? error : "";
  sqlite3_free(error);
  sqlite3_close(db);
  if (rc != SQLITE_OK) {
    throw std::runtime_error(statements + ": " + text);
  }
}

std::int64_t sql_int(const std::filesystem::path & database, const std::string & query)
{
  sqlite3 * db = nullptr;
  check(sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), db, "open");
  sqlite3_stmt * stmt = nullptr;
  check(sqlite3_prepare_v2(db, query.c_str(), -1, &stmt, nullptr), db, query);
  const int rc = sqlite3_step(stmt);
  const std::int64_t value = rc == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return value;
}

std::string read_file(const std::filesystem::path & file)
{
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const std::filesystem::path & file, const std::string & text)
{
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
}

}  // namespace bag_fixtures
