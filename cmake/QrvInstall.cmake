# Installation of the whole project (cmake --install <build> [--prefix <dir>]):
#
#   bin/tovelle -> lib/tovelle/tovelle   the program in a folder of its own, with its
#   lib/tovelle/readme.txt                manual beside it (viewer/CMakeLists.txt)
#   share/applications/tovelle.desktop, share/icons/hicolor/*/apps/tovelle.png (same)
#   bin/qrv-render, bin/qrv-play          (render/, engine/midi/)
#   lib/libqrv.so, include/qrv.h          (engine/)
#   share/tovelle/shaders/                (shaders/)
#   lib/pkgconfig/qrv.pc, lib/cmake/Qrv/  for other hosts of the library (here)
#   share/tovelle/samples/                the sample photo and its depth image (here)
#
# Every installed program finds libqrv.so through a relative RUNPATH, so an install
# under any prefix (or a DESTDIR staging folder) runs as it is.
include(CMakePackageConfigHelpers)

# From a folder under the prefix back to the prefix, e.g. "../.." for lib/pkgconfig.
function(qrv_path_to_prefix out folder)
  file(RELATIVE_PATH rel /${folder} /)
  string(REGEX REPLACE "/$" "" rel "${rel}")
  set(${out} "${rel}" PARENT_SCOPE)
endfunction()

if(TARGET qrvlib)
  # pkg-config: prefix found from the .pc file's own place.
  qrv_path_to_prefix(QRV_PC_TO_PREFIX ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/qrv.pc.in ${PROJECT_BINARY_DIR}/qrv.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/qrv.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

  # CMake package Qrv with the imported target Qrv::qrv.
  set(QRV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Qrv)
  qrv_path_to_prefix(QRV_CMAKE_TO_PREFIX ${QRV_CMAKE_DIR})
  get_target_property(qrv_output_name qrvlib OUTPUT_NAME)
  if(NOT qrv_output_name)
    set(qrv_output_name qrvlib)
  endif()
  get_target_property(qrv_soversion qrvlib SOVERSION)
  set(QRV_LIBRARY_FILE ${CMAKE_SHARED_LIBRARY_PREFIX}${qrv_output_name}${CMAKE_SHARED_LIBRARY_SUFFIX})
  if(qrv_soversion)
    set(QRV_LIBRARY_SONAME ${QRV_LIBRARY_FILE}.${qrv_soversion})
  else()
    set(QRV_LIBRARY_SONAME ${QRV_LIBRARY_FILE})
  endif()
  configure_file(${CMAKE_CURRENT_LIST_DIR}/QrvConfig.cmake.in ${PROJECT_BINARY_DIR}/QrvConfig.cmake @ONLY)
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/QrvConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/QrvConfig.cmake ${PROJECT_BINARY_DIR}/QrvConfigVersion.cmake
    DESTINATION ${QRV_CMAKE_DIR})
endif()

# The sample photo with its painted depth image and the note on what it shows.
set(qrv_sample_files)
foreach(name garden.jpg garden_.bmp README.md)
  if(EXISTS ${PROJECT_SOURCE_DIR}/samples/${name})
    list(APPEND qrv_sample_files ${PROJECT_SOURCE_DIR}/samples/${name})
  endif()
endforeach()
if(qrv_sample_files)
  install(FILES ${qrv_sample_files} DESTINATION ${CMAKE_INSTALL_DATADIR}/tovelle/samples)
endif()
