# DDS layer of the runtime: participant, custom sertype/serdata, readers/writers, QoS, waitsets.
file(GLOB _rclcpp_dds_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/dds/*.cpp)
add_library(rclcpp_dds STATIC ${_rclcpp_dds_sources})
set_target_properties(rclcpp_dds PROPERTIES POSITION_INDEPENDENT_CODE ON)
target_compile_features(rclcpp_dds PUBLIC cxx_std_17)
target_include_directories(rclcpp_dds
  PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src
  PUBLIC $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>)
target_link_libraries(rclcpp_dds
  PUBLIC
    CycloneDDS::ddsc
    rclcpp_cdr
    rosidl_typesupport_introspection_cpp::rosidl_typesupport_introspection_cpp
    ${rmw_dds_common_TARGETS__rosidl_typesupport_introspection_cpp}
    Threads::Threads)

if(BUILD_TESTING)
  set(_dds_test_dir ${CMAKE_CURRENT_SOURCE_DIR}/test/dds)

  # Echoes samples back from a separate process, so that tests cross a real process boundary.
  add_executable(dds_test_echo ${_dds_test_dir}/echo_main.cpp)
  target_include_directories(dds_test_echo PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
  set(_dds_test_msgs
    ${std_msgs_TARGETS__rosidl_typesupport_introspection_cpp}
    ${sensor_msgs_TARGETS__rosidl_typesupport_introspection_cpp})
  target_link_libraries(dds_test_echo rclcpp_dds ${_dds_test_msgs})

  # Prints latency and idle-CPU figures of this layer; not a test.
  add_executable(dds_bench_roundtrip ${_dds_test_dir}/bench_roundtrip.cpp)
  target_include_directories(dds_bench_roundtrip PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
  target_link_libraries(dds_bench_roundtrip rclcpp_dds ${_dds_test_msgs})
  target_compile_definitions(dds_bench_roundtrip PRIVATE
    DDS_TEST_ECHO="$<TARGET_FILE:dds_test_echo>")
  add_dependencies(dds_bench_roundtrip dds_test_echo)

  ament_add_gtest(test_dds_domain_config ${_dds_test_dir}/test_domain_config.cpp TIMEOUT 60)
  ament_add_gtest(test_dds_pubsub ${_dds_test_dir}/test_pubsub.cpp TIMEOUT 120)
  ament_add_gtest(test_dds_service ${_dds_test_dir}/test_service.cpp TIMEOUT 60)
  ament_add_gtest(test_dds_wait_set ${_dds_test_dir}/test_wait_set.cpp TIMEOUT 60)
  ament_add_gtest(test_dds_discovery_info ${_dds_test_dir}/test_discovery_info.cpp TIMEOUT 60)
  ament_add_gtest(test_dds_qos ${_dds_test_dir}/test_qos.cpp TIMEOUT 60)
  ament_add_gtest(test_dds_sertype ${_dds_test_dir}/test_sertype.cpp TIMEOUT 60)
  ament_add_gtest(test_dds_participant ${_dds_test_dir}/test_participant.cpp TIMEOUT 60)
  foreach(_t test_dds_domain_config test_dds_pubsub test_dds_service test_dds_wait_set
      test_dds_discovery_info test_dds_qos test_dds_sertype test_dds_participant)
    if(TARGET ${_t})
      target_include_directories(${_t} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src ${_dds_test_dir})
      target_link_libraries(${_t} rclcpp_dds ${_dds_test_msgs})
    endif()
  endforeach()
  if(TARGET test_dds_pubsub)
    add_dependencies(test_dds_pubsub dds_test_echo)
    target_compile_definitions(test_dds_pubsub PRIVATE
      DDS_TEST_ECHO="$<TARGET_FILE:dds_test_echo>")
    if(quorvel_protocol_FOUND)
      target_link_libraries(test_dds_pubsub
        ${quorvel_protocol_TARGETS__rosidl_typesupport_introspection_cpp})
      target_compile_definitions(test_dds_pubsub PRIVATE DDS_TEST_HAVE_QUORVEL_PROTOCOL=1)
    endif()
  endif()
endif()
