# Finds the rosidl generators for an interface package, whose project() enables C++ alone.
# On a ROS 2 Humble host rosidl_default_generators brings every generator, the C ones too, so C
# is enabled for them; on a plain Debian host the C++ and C++ introspection generators are
# found one by one.
find_package(rosidl_default_generators QUIET)
if(rosidl_default_generators_FOUND)
  enable_language(C)
else()
  find_package(rosidl_generator_cpp REQUIRED)
  find_package(rosidl_typesupport_introspection_cpp REQUIRED)
  # The bundled runtime reads and writes every message through the C++ introspection type
  # support alone. The C structs, their functions and the C introspection type support would be
  # generated, compiled and linked for nothing: two thirds of an interface package's libraries.
  # Finding the C++ introspection package finds the C generators as well (its exported
  # dependencies), and each registers itself, so only the C++ ones are kept on the list.
  # Their packages are found once per configure run, so no later find_package adds them back.
  set(_quorvel_cpp_generators)
  foreach(_quorvel_generator IN LISTS AMENT_EXTENSIONS_rosidl_generate_idl_interfaces)
    if(_quorvel_generator MATCHES "^rosidl_(generator_cpp|typesupport_introspection_cpp):")
      list(APPEND _quorvel_cpp_generators "${_quorvel_generator}")
    endif()
  endforeach()
  set(AMENT_EXTENSIONS_rosidl_generate_idl_interfaces ${_quorvel_cpp_generators})
endif()
find_package(rosidl_cmake REQUIRED)
# Without rosidl_default_runtime, consumers of the generated type support targets must find the
# runtime packages themselves; export them so find_package(<interface package>) suffices.
if(NOT rosidl_default_generators_FOUND)
  ament_export_dependencies(
    rosidl_runtime_c rosidl_runtime_cpp rosidl_typesupport_interface
    rosidl_typesupport_introspection_cpp)
endif()
# The generated type support sources of one package specialise the same templates one after
# the other: they cannot share a unity batch, whatever the build asks for its own sources.
set(CMAKE_UNITY_BUILD OFF)
