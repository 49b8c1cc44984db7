# rclcpp_cdr: the CDR codec driven by introspection type support, and its tests.
# Included from runtime/rclcpp/CMakeLists.txt (which finds the rosidl packages) and from
# cdr/bench/CMakeLists.txt.

add_library(rclcpp_cdr STATIC
  ${CMAKE_CURRENT_LIST_DIR}/src/decode_result.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/deserialize.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/get_members.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/layout.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/serialize.cpp
)
set_target_properties(rclcpp_cdr PROPERTIES POSITION_INDEPENDENT_CODE ON)
target_compile_features(rclcpp_cdr PUBLIC cxx_std_17)
target_include_directories(rclcpp_cdr
  PUBLIC $<BUILD_INTERFACE:${CMAKE_CURRENT_LIST_DIR}/include>
  PRIVATE ${CMAKE_CURRENT_LIST_DIR}/src
)
target_link_libraries(rclcpp_cdr PUBLIC
  rosidl_typesupport_introspection_cpp::rosidl_typesupport_introspection_cpp
  rosidl_runtime_c::rosidl_runtime_c
)

if(BUILD_TESTING AND NOT RCLCPP_CDR_NO_TESTS)
  find_package(builtin_interfaces REQUIRED)
  find_package(unique_identifier_msgs REQUIRED)
  find_package(std_msgs REQUIRED)
  find_package(geometry_msgs REQUIRED)
  find_package(sensor_msgs REQUIRED)
  find_package(action_msgs REQUIRED)
  find_package(rmw_dds_common REQUIRED)
  find_package(rcl_interfaces REQUIRED)
  find_package(quorvel_interfaces QUIET)
  find_package(quorvel_protocol QUIET)
  if(NOT quorvel_interfaces_FOUND OR NOT quorvel_protocol_FOUND)
    message(WARNING "rclcpp_cdr: quorvel interface packages not found, codec tests not built")
  else()
    set(_cdr_message_packages
      builtin_interfaces unique_identifier_msgs std_msgs geometry_msgs sensor_msgs action_msgs
      rmw_dds_common rcl_interfaces quorvel_interfaces quorvel_protocol)
    set(_cdr_typesupports)
    foreach(_pkg ${_cdr_message_packages})
      list(APPEND _cdr_typesupports ${_pkg}::${_pkg}__rosidl_typesupport_introspection_cpp)
    endforeach()

    # Samples of every interface type, shared by the tests (and compiled into the fuzzer).
    add_library(rclcpp_cdr_test_samples STATIC
      ${CMAKE_CURRENT_LIST_DIR}/test/exotic.cpp
      ${CMAKE_CURRENT_LIST_DIR}/test/samples.cpp
    )
    target_include_directories(rclcpp_cdr_test_samples PUBLIC ${CMAKE_CURRENT_LIST_DIR}/test)
    target_link_libraries(rclcpp_cdr_test_samples PUBLIC rclcpp_cdr ${_cdr_typesupports})

    foreach(_test golden round_trip hostile)
      ament_add_gtest(test_cdr_${_test} ${CMAKE_CURRENT_LIST_DIR}/test/test_cdr_${_test}.cpp)
      if(TARGET test_cdr_${_test})
        target_link_libraries(test_cdr_${_test} rclcpp_cdr_test_samples)
      endif()
    endforeach()

    # Cyclone DDS's idlc-generated serialiser as an independent reference.
    find_package(CycloneDDS REQUIRED)
    idlc_generate(TARGET rclcpp_cdr_test_idl FILES ${CMAKE_CURRENT_LIST_DIR}/test/idl/trashes.idl)
    add_library(rclcpp_cdr_test_idl_trashes STATIC ${CMAKE_CURRENT_LIST_DIR}/test/idl_trashes.cpp)
    target_link_libraries(rclcpp_cdr_test_idl_trashes PUBLIC
      rclcpp_cdr_test_idl CycloneDDS::ddsc rclcpp_cdr_test_samples)
    ament_add_gtest(test_cdr_cyclone ${CMAKE_CURRENT_LIST_DIR}/test/test_cdr_cyclone.cpp)
    if(TARGET test_cdr_cyclone)
      target_link_libraries(test_cdr_cyclone rclcpp_cdr_test_idl_trashes)
    endif()
  endif()
endif()
