# Base layer of the runtime: arguments, parameters, names, logging, time. No DDS.
file(GLOB _rclcpp_base_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/base/*.cpp)
add_library(rclcpp_base STATIC ${_rclcpp_base_sources})
set_target_properties(rclcpp_base PROPERTIES POSITION_INDEPENDENT_CODE ON)
target_compile_features(rclcpp_base PUBLIC cxx_std_17)
target_include_directories(rclcpp_base
  PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src
  PUBLIC $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>)
target_link_libraries(rclcpp_base
  PUBLIC
    rcutils::rcutils
    builtin_interfaces::builtin_interfaces__rosidl_generator_cpp
    rcl_interfaces::rcl_interfaces__rosidl_generator_cpp
    Threads::Threads
  PRIVATE
    yaml-cpp)

if(BUILD_TESTING)
  set(_base_test_dir ${CMAKE_CURRENT_SOURCE_DIR}/test/base)
  file(GLOB _base_tests CONFIGURE_DEPENDS ${_base_test_dir}/test_*.cpp)
  foreach(_test ${_base_tests})
    get_filename_component(_name ${_test} NAME_WE)
    string(REGEX REPLACE "^test_" "test_base_" _target ${_name})
    ament_add_gtest(${_target} ${_test} TIMEOUT 60)
    if(TARGET ${_target})
      target_include_directories(${_target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src ${_base_test_dir})
      target_link_libraries(${_target} rclcpp_base)
    endif()
  endforeach()
endif()
