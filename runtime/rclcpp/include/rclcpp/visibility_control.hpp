// Symbol visibility macros of rclcpp. The runtime is linked statically into each program, so the
// export/import distinction of a shared rclcpp collapses to default visibility.
#ifndef RCLCPP__VISIBILITY_CONTROL_HPP_
#define RCLCPP__VISIBILITY_CONTROL_HPP_

#if defined(__GNUC__) || defined(__clang__)
#define RCLCPP_EXPORT __attribute__((visibility("default")))
#define RCLCPP_IMPORT
#define RCLCPP_LOCAL __attribute__((visibility("hidden")))
#else
#define RCLCPP_EXPORT
#define RCLCPP_IMPORT
#define RCLCPP_LOCAL
#endif

#define RCLCPP_PUBLIC RCLCPP_EXPORT
#define RCLCPP_PUBLIC_TYPE RCLCPP_PUBLIC

#endif  // RCLCPP__VISIBILITY_CONTROL_HPP_
