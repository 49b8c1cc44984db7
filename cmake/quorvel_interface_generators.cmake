# Finds the rosidl generators for an interface package.
# On a ROS 2 Humble host rosidl_default_generators brings every generator; on a plain
# Debian host the C, C++ and introspection generators are found one by one.
find_package(rosidl_default_generators QUIET)
if(NOT rosidl_default_generators_FOUND)
  find_package(rosidl_generator_c REQUIRED)
  find_package(rosidl_generator_cpp REQUIRED)
  find_package(rosidl_typesupport_introspection_c REQUIRED)
  find_package(rosidl_typesupport_introspection_cpp REQUIRED)
endif()
find_package(rosidl_cmake REQUIRED)
# Without rosidl_default_runtime, consumers of the generated type support targets must find the
# introspection packages themselves; export them so find_package(<interface package>) suffices.
if(NOT rosidl_default_generators_FOUND)
  ament_export_dependencies(
    rosidl_runtime_c rosidl_runtime_cpp rosidl_typesupport_interface
    rosidl_typesupport_introspection_c rosidl_typesupport_introspection_cpp)
endif()
