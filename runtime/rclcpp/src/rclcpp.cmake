# The public rclcpp API over the layers below; one shared library.
file(GLOB _rclcpp_api_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/*.cpp)
add_library(rclcpp SHARED ${_rclcpp_api_sources})
target_include_directories(rclcpp PUBLIC
  $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
  $<INSTALL_INTERFACE:include>)
target_include_directories(rclcpp PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(rclcpp
  PUBLIC
    rosidl_runtime_cpp::rosidl_runtime_cpp
    rosidl_typesupport_introspection_cpp::rosidl_typesupport_introspection_cpp
    rcutils::rcutils
    ${builtin_interfaces_TARGETS}
    ${rcl_interfaces_TARGETS}
  PRIVATE
    Threads::Threads
    $<BUILD_INTERFACE:rclcpp_dds>
    # Whole archive: programs call base functions (time, parameters) that the library itself
    # may not reference.
    $<BUILD_INTERFACE:$<LINK_LIBRARY:WHOLE_ARCHIVE,rclcpp_base>>
    $<BUILD_INTERFACE:rclcpp_cdr>
    CycloneDDS::ddsc
    yaml-cpp)

install(DIRECTORY include/ DESTINATION include)
install(TARGETS rclcpp EXPORT export_rclcpp
  LIBRARY DESTINATION lib ARCHIVE DESTINATION lib RUNTIME DESTINATION bin)
ament_export_targets(export_rclcpp HAS_LIBRARY_TARGET)
ament_export_dependencies(rosidl_runtime_cpp rosidl_typesupport_introspection_cpp rcutils
  builtin_interfaces rcl_interfaces)
ament_export_include_directories(include)

if(BUILD_TESTING)
  file(GLOB _rclcpp_api_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/test/api/test_*.cpp)
  foreach(_test ${_rclcpp_api_tests})
    get_filename_component(_name ${_test} NAME_WE)
    ament_add_gtest(${_name} ${_test} TIMEOUT 120)
    target_include_directories(${_name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR}/test/api)
    target_link_libraries(${_name} rclcpp ${std_msgs_TARGETS} ${sensor_msgs_TARGETS}
      ${geometry_msgs_TARGETS} ${quorvel_interfaces_TARGETS} ${quorvel_protocol_TARGETS})
  endforeach()
endif()

if(BUILD_TESTING)
  add_executable(test_api_peer ${CMAKE_CURRENT_SOURCE_DIR}/test/api/api_peer.cpp)
  target_link_libraries(test_api_peer rclcpp ${sensor_msgs_TARGETS} ${quorvel_interfaces_TARGETS}
    ${quorvel_protocol_TARGETS})
  foreach(_test ${_rclcpp_api_tests})
    get_filename_component(_name ${_test} NAME_WE)
    target_compile_definitions(${_name} PRIVATE TEST_API_PEER_PATH="$<TARGET_FILE:test_api_peer>")
    target_link_libraries(${_name} rclcpp_dds CycloneDDS::ddsc)
    add_dependencies(${_name} test_api_peer)
  endforeach()
endif()

# Benchmark driver (scripts/bench.d/20-rclcpp.sh); built with the tests (scripts/bench builds
# those), installed beside the library.
if(BUILD_TESTING AND quorvel_interfaces_FOUND AND std_msgs_FOUND)
  add_executable(rclcpp_bench ${CMAKE_CURRENT_SOURCE_DIR}/bench/rclcpp_bench.cpp)
  target_link_libraries(rclcpp_bench rclcpp ${std_msgs_TARGETS} ${quorvel_interfaces_TARGETS})
  install(TARGETS rclcpp_bench RUNTIME DESTINATION lib/${PROJECT_NAME})
endif()
