# Installation layout (XDG and FHS paths under CMAKE_INSTALL_PREFIX) and the Debian package.
#
#   bin/kivra, bin/kivra-relay
#   share/kivra/keymaps/*.kmp           shipped key-map profiles
#   share/kivra/icons/*.svg             button and instrument-group pictures
#   share/kivra/translations/*.qm       the catalogues of the user's languages (translations/)
#   share/applications/kivra.desktop    menu entry
#   share/icons/hicolor/scalable/apps/kivra.svg
#   share/metainfo/io.github.kivra.Kivra.metainfo.xml
#   share/man/man1/kivra.1.gz, kivra-relay.1.gz
#   share/doc/kivra/copyright, changelog.gz
#   lib/systemd/system/kivra-relay.service   (not enabled)
#
# The program finds its profiles and pictures at <executable dir>/${KIVRA_DATA_RELDIR}, so the data
# folder must sit that far from the binaries: checked here rather than discovered at run time.

set(KIVRA_INSTALL_DATADIR "${CMAKE_INSTALL_DATADIR}/kivra")
cmake_path(APPEND CMAKE_INSTALL_BINDIR "${KIVRA_DATA_RELDIR}" OUTPUT_VARIABLE _kivra_data_from_bin)
cmake_path(NORMAL_PATH _kivra_data_from_bin)
cmake_path(NORMAL_PATH KIVRA_INSTALL_DATADIR OUTPUT_VARIABLE _kivra_data_expected)
if(NOT _kivra_data_from_bin STREQUAL _kivra_data_expected)
  message(FATAL_ERROR "CMAKE_INSTALL_BINDIR (${CMAKE_INSTALL_BINDIR}) and KIVRA_DATA_RELDIR "
                      "(${KIVRA_DATA_RELDIR}) do not lead to ${KIVRA_INSTALL_DATADIR}")
endif()

set(_kivra_packaging_dir "${PROJECT_SOURCE_DIR}/packaging")

if(TARGET kivra)
  install(TARGETS kivra RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# kivra-relay installs itself (link/CMakeLists.txt).

# Resolve every symbol at start-up so the relocation tables can be made read-only, as Debian's
# own packages are linked (dpkg-buildflags: -z relro -z now).
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  foreach(_kivra_exe IN ITEMS kivra kivra-relay)
    if(TARGET ${_kivra_exe})
      target_link_options(${_kivra_exe} PRIVATE "LINKER:-z,relro" "LINKER:-z,now")
    endif()
  endforeach()
endif()

install(DIRECTORY "${PROJECT_SOURCE_DIR}/data/keymaps/" DESTINATION "${KIVRA_INSTALL_DATADIR}/keymaps"
        FILES_MATCHING PATTERN "*.kmp")
install(DIRECTORY "${PROJECT_SOURCE_DIR}/data/icons/" DESTINATION "${KIVRA_INSTALL_DATADIR}/icons"
        FILES_MATCHING PATTERN "*.svg")

if(UNIX AND NOT APPLE)
  install(FILES "${_kivra_packaging_dir}/kivra.desktop" DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
  install(FILES "${PROJECT_SOURCE_DIR}/data/icons/kivra.svg"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
  install(FILES "${_kivra_packaging_dir}/io.github.kivra.Kivra.metainfo.xml"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
  install(FILES "${_kivra_packaging_dir}/kivra-relay.service" DESTINATION lib/systemd/system)
  install(FILES "${_kivra_packaging_dir}/copyright" DESTINATION "${CMAKE_INSTALL_DOCDIR}")

  # Debian wants man pages and changelogs compressed, without time stamps in the gzip header so
  # that two builds give the same bytes.
  find_program(KIVRA_GZIP gzip)
  set(_kivra_gzipped "")
  foreach(_kivra_doc IN ITEMS kivra.1 kivra-relay.1 changelog)
    if(KIVRA_GZIP)
      set(_kivra_out "${PROJECT_BINARY_DIR}/packaging/${_kivra_doc}.gz")
      add_custom_command(OUTPUT "${_kivra_out}"
        COMMAND ${CMAKE_COMMAND} -E copy "${_kivra_packaging_dir}/${_kivra_doc}"
                "${PROJECT_BINARY_DIR}/packaging/${_kivra_doc}"
        COMMAND "${KIVRA_GZIP}" -9 -n -f "${PROJECT_BINARY_DIR}/packaging/${_kivra_doc}"
        DEPENDS "${_kivra_packaging_dir}/${_kivra_doc}"
        VERBATIM)
    else()
      set(_kivra_out "${_kivra_packaging_dir}/${_kivra_doc}")
    endif()
    list(APPEND _kivra_gzipped "${_kivra_out}")
    if(_kivra_doc MATCHES "\\.1$")
      install(FILES "${_kivra_out}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
    else()
      install(FILES "${_kivra_out}" DESTINATION "${CMAKE_INSTALL_DOCDIR}")
    endif()
  endforeach()
  # Always defined, so that tests/packaging/check_package.sh can bring the package's inputs up to date.
  add_custom_target(kivra_compressed_docs ALL DEPENDS ${_kivra_gzipped})

  include("${_kivra_packaging_dir}/KivraCPack.cmake")
endif()
