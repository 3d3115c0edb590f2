# What `cmake --install` puts in place: the library (libqapi.so.0 on Linux,
# qapi.dll with its import library on Windows), the public headers, the
# package files for find_package(Qapi) and for pkg-config, and the simulator
# and the console when they are built.  Every file is relocatable: the
# package files find the prefix from where they lie.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QAPI_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Qapi)
target_include_directories(qapi PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS qapi EXPORT QapiTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
set(QAPI_HEADERS ${PROJECT_SOURCE_DIR}/include/qapi.h ${PROJECT_BINARY_DIR}/include/qapi_version.h)
if(NOT WIN32)  # the message layer is the platform's own on Windows
  list(APPEND QAPI_HEADERS ${PROJECT_SOURCE_DIR}/include/qmsg.h)
endif()
install(FILES ${QAPI_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# find_package(Qapi), from the install tree and from this build tree alike.
install(EXPORT QapiTargets NAMESPACE Qapi:: DESTINATION ${QAPI_CMAKE_DIR})
export(EXPORT QapiTargets NAMESPACE Qapi:: FILE ${PROJECT_BINARY_DIR}/QapiTargets.cmake)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/QapiConfig.cmake.in ${PROJECT_BINARY_DIR}/QapiConfig.cmake
  INSTALL_DESTINATION ${QAPI_CMAKE_DIR})
# 0.x releases may change the interface with every minor version.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QapiConfigVersion.cmake COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/QapiConfig.cmake ${PROJECT_BINARY_DIR}/QapiConfigVersion.cmake
  DESTINATION ${QAPI_CMAKE_DIR})

# pkg-config: the prefix is found from the .pc file's own place.
set(QAPI_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH QAPI_PC_TO_PREFIX /root/${QAPI_PC_DIR} /root)
string(REGEX REPLACE "/$" "" QAPI_PC_TO_PREFIX "${QAPI_PC_TO_PREFIX}")
set(QAPI_PC_PREFIX "\${pcfiledir}/${QAPI_PC_TO_PREFIX}")
set(QAPI_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
set(QAPI_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/qapi.pc.in ${PROJECT_BINARY_DIR}/qapi.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/qapi.pc DESTINATION ${QAPI_PC_DIR})

foreach(program qapi-sim qapi-console qapi-cdr qapi-bridge)
  if(TARGET ${program})
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
