#include "quorvel_arm_supervisor/dds_receive_buffer.hpp"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <string>

namespace quorvel_arm_supervisor
{

const char * const kReceiveBufferFragment =
    "<CycloneDDS><Domain id=\"any\"><Sizing>"
    "<ReceiveBufferSize>128KiB</ReceiveBufferSize>"
    "<ReceiveBufferChunkSize>32KiB</ReceiveBufferChunkSize>"
    "</Sizing></Domain></CycloneDDS>";

namespace
{

std::string trimmed(const std::string & text)
{
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// Cyclone's element names are case-insensitive. "ReceiveBuffer" covers both the buffer and its
// chunk size.
bool sizes_receive_path(std::string text)
{
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
    return static_cast<char>(std::tolower(c));
  });
  return text.find("receivebuffer") != std::string::npos ||
         text.find("maxmessagesize") != std::string::npos;
}

}  // namespace

std::optional<std::string> uri_with_receive_buffer(const char * user_uri)
{
  const std::string user = user_uri == nullptr ? std::string() : trimmed(user_uri);
  if (user.empty()) {
    return std::string(kReceiveBufferFragment);
  }
  if (sizes_receive_path(user)) {
    return std::nullopt;
  }
  // The list holds inline XML and file names (plain or file://). A comma inside an XML fragment
  // splits it too; such pieces do not start with '<' and open no file, and their text was
  // already looked at above.
  size_t start = 0;
  while (start <= user.size()) {
    const size_t comma = std::min(user.find(',', start), user.size());
    std::string item = trimmed(user.substr(start, comma - start));
    start = comma + 1;
    if (item.empty() || item.find_first_of("<>") != std::string::npos) {
      continue;
    }
    if (item.rfind("file://", 0) == 0) {
      item.erase(0, 7);
    }
    std::ifstream file(item);
    if (!file) {
      return std::nullopt;  // Cyclone will name it; nothing of ours to add to a broken setup
    }
    const std::string contents{
        std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (sizes_receive_path(contents)) {
      return std::nullopt;
    }
  }
  return std::string(kReceiveBufferFragment) + "," + user;
}

}  // namespace quorvel_arm_supervisor
