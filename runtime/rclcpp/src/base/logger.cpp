// rclcpp::Logger: a name plus the process-wide levels kept by the logging backend.
#include "rclcpp/logger.hpp"

#include <memory>
#include <stdexcept>
#include <string>

#include "base/logging_backend.hpp"
#include "rclcpp/exceptions.hpp"

namespace rclcpp
{

Logger get_logger(const std::string & name)
{
  return Logger(name);
}

Logger::Logger(const std::string & name)
: name_(std::make_shared<const std::string>(name))
{}

const char * Logger::get_name() const
{
  return name_->c_str();
}

Logger Logger::get_child(const std::string & suffix)
{
  return Logger(*name_ + "." + suffix);
}

void Logger::set_level(Level level)
{
  try {
    base::set_logger_level(*name_, static_cast<int>(level));
  } catch (const std::invalid_argument & e) {
    throw exceptions::RCLInvalidArgument(
            RCL_RET_INVALID_ARGUMENT, e.what(), "failed to set logger level");
  }
}

Logger::Level Logger::get_effective_level() const
{
  return static_cast<Level>(base::logger_effective_level(name_->c_str()));
}

}  // namespace rclcpp
