# Install rules and the Debian package (cpack -G DEB). The layout under the prefix:
#   bin/                      lumovatrix and the desktop tools
#   lib/lumovatrix/           the simulated device's shared objects (the program finds them from
#                             its own location: bin/../lib/lumovatrix)
#   share/lumovatrix/         tours, example scripts and example profiles
#   share/man/man1, man5      the manual pages
#   share/applications, share/icons/hicolor/scalable/apps
#                             the desktop entry and its icon
# Included at the end of the top-level CMakeLists.txt, when every target exists.

set(LUMO_INSTALL_DEVICE_LIBDIR lib/lumovatrix)

foreach(program lumovatrix lumo-receiver lumo-jpegenc lumo-avimake lumo-avifix)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION bin)
  endif()
endforeach()

# Every shared object the simulated devices install from (what lumo_device_libraries builds).
get_target_property(lumo_device_library_targets lumo_device_libraries MANUALLY_ADDED_DEPENDENCIES)
foreach(library ${lumo_device_library_targets})
  install(TARGETS ${library} LIBRARY DESTINATION ${LUMO_INSTALL_DEVICE_LIBDIR})
endforeach()

install(DIRECTORY tour DESTINATION share/lumovatrix FILES_MATCHING PATTERN "*.lumo")
install(DIRECTORY share/scripts share/profiles DESTINATION share/lumovatrix)
install(FILES share/man/lumovatrix.1 share/man/lumo-receiver.1 share/man/lumo-jpegenc.1
              share/man/lumo-avimake.1 share/man/lumo-avifix.1
        DESTINATION share/man/man1)
install(FILES share/man/lumovatrix-script.5 DESTINATION share/man/man5)
install(FILES share/applications/lumovatrix.desktop DESTINATION share/applications)
install(FILES share/icons/lumovatrix.svg DESTINATION share/icons/hicolor/scalable/apps)
install(FILES README.md docs/interval.md docs/menus-and-keys.md docs/photo.md docs/video.md
              docs/webcam.md docs/screen-capture.md
        DESTINATION share/doc/lumovatrix)

# The Debian package: its library dependencies come from dpkg-shlibdeps over every ELF file in it.
set(CPACK_PACKAGE_NAME lumovatrix)
set(CPACK_PACKAGE_VENDOR "Lumovatrix")
set(CPACK_PACKAGE_CONTACT "Lumovatrix developers <lumovatrix@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "camera program for handhelds, on a simulated handheld")
set(CPACK_PACKAGE_DESCRIPTION
    "Lumovatrix is a full-screen camera program for Windows CE handhelds (live preview, photos,\n"
    "Motion-JPEG movies with sound, interval shooting, webcam streaming, screen capture), run here\n"
    "on a simulated handheld, headless with device scripts or in a desktop window. With the\n"
    "webcam receiver, a time-lapse maker and a JPEG encoder tool.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The device's libraries have no soname and are loaded with dlopen only.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/devicelibs)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "ffmpeg")
set(CPACK_GENERATOR DEB)
include(CPack)
