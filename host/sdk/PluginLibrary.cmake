# The plug-in interface for CMake: the header target, and a function that makes a plug-in
# shared object. Included by every folder that builds a plug-in (the host's own folder is added
# after the plug-in folders, so this file, not a function of host/sdk, is what they share).
set(SYLMARK_SDK_DIR ${CMAKE_CURRENT_LIST_DIR})

if(NOT TARGET host_sdk_headers)
  add_library(host_sdk_headers INTERFACE)
  target_include_directories(host_sdk_headers INTERFACE ${SYLMARK_SDK_DIR})
endif()

# The entry glue is compiled into the plug-in, its static libraries stay inside it
# (--exclude-libs), and it exports REALPluginMain alone (the version script).
function(sylmark_add_plugin_library name)
  cmake_parse_arguments(P "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} SHARED ${P_SOURCES} ${SYLMARK_SDK_DIR}/REALpluginGlue.cpp)
  target_link_libraries(${name} PRIVATE host_sdk_headers ${P_LIBS})
  target_link_options(${name} PRIVATE -Wl,--exclude-libs,ALL -Wl,--version-script=${SYLMARK_SDK_DIR}/REALplugin.map)
  set_target_properties(${name} PROPERTIES LINK_DEPENDS ${SYLMARK_SDK_DIR}/REALplugin.map)
endfunction()
