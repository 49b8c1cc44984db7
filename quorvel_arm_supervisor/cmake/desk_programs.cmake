# The desk programs: arm_service_mock (canned arm and detection services) and trash_feeder
# (a fixed environment detection). Included by the package's CMakeLists.txt after the core
# library target exists.
find_package(rclcpp REQUIRED)
find_package(quorvel_interfaces REQUIRED)
find_package(quorvel_protocol REQUIRED)

# The mock takes only the colour constants from the core library's headers; the static library
# contributes no object file to it.
add_executable(arm_service_mock src/arm_service_mock.cpp)
target_link_libraries(arm_service_mock
  arm_supervisor_core
  rclcpp::rclcpp
  ${quorvel_interfaces_TARGETS})

add_executable(trash_feeder src/trash_feeder.cpp)
target_link_libraries(trash_feeder
  rclcpp::rclcpp
  ${quorvel_protocol_TARGETS})

install(TARGETS arm_service_mock trash_feeder DESTINATION lib/${PROJECT_NAME})
