# The Debian package: `cpack -G DEB` in the build folder writes kivra_<version>_<arch>.deb.
# Included by cmake/KivraInstall.cmake after the install rules.

set(KIVRA_PACKAGE_CONTACT "Kivra Developers <kivra-devel@example.org>"
    CACHE STRING "Maintainer of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kivra)
set(CPACK_PACKAGE_VENDOR "The Kivra developers")
set(CPACK_PACKAGE_CONTACT "${KIVRA_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "virtual piano and step sequencer")
# CPack indents the lines after the summary; an empty line becomes " .".
set(CPACK_PACKAGE_DESCRIPTION
"Kivra shows the 128 MIDI notes as piano keys and plays them through its
built-in General MIDI synthesizer or any MIDI output device. Play with the
mouse (drag to bend the pitch), with the computer keyboard through editable
key maps, or with a MIDI keyboard; every sounding key lights up in the colour
of its channel.

The Music Maker records what you play, step by step, into a multi-track song
that plays back at a chosen tempo and is exported to and imported from
Standard MIDI Files. Several pianos play together over the network through
the kivra-relay server, which can run as a system service.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# dpkg-shlibdeps adds the libraries the binaries link, with their versions (libqt6widgets6,
# libqt6network6, libqt6svg6, librtmidi6, libfluidsynth3, libc6...). Named here is what it cannot
# see: the platform plugins Qt loads at run time (without them no window opens; libqt6gui6 only
# recommends them) and the SoundFont the built-in synthesizer plays.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, timgm6mb-soundfont | sf2-soundfont-gm")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")

include(CPack)
