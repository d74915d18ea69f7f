# Installing the robot program and its tools, and the Debian package.
#
#   cmake --install <build> --prefix /usr/local    programs to bin/, the Haar
#                                                  cascades to share/robotas/,
#                                                  the recogniser's grammar to
#                                                  share/robotas/grammar/
#   scripts/package                                robotas_<version>_<arch>.deb
#
# The program looks for its cascades in the working directory first, then in
# share/robotas beside its bin folder, then in <prefix>/share/robotas
# (platform/datafiles.h); robotas-hear finds its grammar the same way. Nothing
# installed names a path of the build machine.

include(GNUInstallDirs)

set(ROBOTAS_PROGRAMS robotas robotas-ssc32sim robotas-hear robotas-faces robotas-calibrate
    robotas-stereo robotas-find robotas-blobs robotas-demo-data robotas-sim)
foreach(program ${ROBOTAS_PROGRAMS})
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

set(ROBOTAS_SHARE_DIR ${CMAKE_INSTALL_DATADIR}/robotas)
install(FILES ${ROBOTAS_CASCADE_DIR}/haarcascade_frontalface_alt.xml
              ${ROBOTAS_CASCADE_DIR}/haarcascade_profileface.xml
        DESTINATION ${ROBOTAS_SHARE_DIR})
# Everything robotas-hear reads: grammar, dictionary, decoder settings, word templates.
if(TARGET robotas-hear)
  set(hear_grammar ${CMAKE_SOURCE_DIR}/tools/hear/grammar)
  install(FILES ${hear_grammar}/robot.gram ${hear_grammar}/robot.dict ${hear_grammar}/robot.conf
                ${hear_grammar}/robot.templates
          DESTINATION ${ROBOTAS_SHARE_DIR}/grammar)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

# ---- Debian package --------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME robotas)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "robotas developers <robotas@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control program of a small mobile robot with two cameras on a pan/tilt head")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Recognises and greets faces, follows faces and objects with its head, cuts objects out of a\n"
    "scene and finds them again, measures depth with two stereo methods and talks in Lithuanian.\n"
    "Includes the servo controller simulator, the typed-word speech recogniser and offline tools.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_LICENSE GPL-3.0-or-later)
# The shared libraries (OpenCV, max-flow, pocketsphinx ...) as dpkg-shlibdeps finds them;
# the synthesiser is a program the robot starts, so it is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "espeak-ng")
# tmux for the demo session, the acoustic model for listening through the microphone.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "tmux, pocketsphinx-en-us")
include(CPack)
