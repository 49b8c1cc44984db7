// The page's files (tools/web), built into the program so that it needs nothing else at run
// time. The definition is generated at build time.
#ifndef QUORVEL_TOOLS__WEB_ASSETS_HPP_
#define QUORVEL_TOOLS__WEB_ASSETS_HPP_

#include <string>
#include <vector>

namespace quorvel_tools
{

struct WebAsset
{
  const char * path;  // "/index.html", "/dashboard.js", ...
  const char * content_type;
  std::string body;
};

const std::vector<WebAsset> & web_assets();

}  // namespace quorvel_tools

#endif  // QUORVEL_TOOLS__WEB_ASSETS_HPP_
